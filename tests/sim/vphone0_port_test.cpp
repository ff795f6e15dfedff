// The phone reached the way the program reaches it: through the port API on "vphone0".
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/comm/comm_api.h"
#include "platform/sync/kernel_object.h"
#include "platform/sync/last_error.h"
#include "sim/object_frame.h"
#include "tests/platform/comm/comm_test_support.h"

namespace {

class Vphone0Port : public ::testing::Test {
 protected:
  void SetUp() override {
    port_ =
        CreateFileA("vphone0", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(port_, INVALID_HANDLE_VALUE) << GetLastError();
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(port_, &dcb));
    dcb.BaudRate = CBR_115200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    ASSERT_TRUE(SetCommState(port_, &dcb));
    // Every read waits at most 3 s for its full count.
    COMMTIMEOUTS t{0, 0, 3000, 0, 3000};
    ASSERT_TRUE(SetCommTimeouts(port_, &t));
    ASSERT_TRUE(EscapeCommFunction(port_, SETDTR));
  }
  void TearDown() override {
    if (port_ != INVALID_HANDLE_VALUE) {
      EXPECT_TRUE(CloseHandle(port_));
    }
  }

  void Write(const void* data, std::size_t size) {
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(port_, data, static_cast<DWORD>(size), &written, nullptr));
    ASSERT_EQ(written, size);
  }
  std::string Read(std::size_t count) {
    std::string buf(count, '\0');
    DWORD got = 0;
    EXPECT_TRUE(ReadFile(port_, buf.data(), static_cast<DWORD>(count), &got, nullptr));
    buf.resize(got);
    return buf;
  }

  qv::comm::testing::ScopedConfigHome home_;
  HANDLE port_ = INVALID_HANDLE_VALUE;
};

TEST_F(Vphone0Port, AnswersAtAndTakesAnObject) {
  Write("AT\r", 3);
  EXPECT_EQ(Read(9), "AT\r\r\nOK\r\n");

  const auto frame = qv::sim::BuildObjectFrame("ring", 1, std::vector<std::uint8_t>(300, 0x7E));
  const std::string command = "AT+KPSW=\"WAV\"," + std::to_string(frame.size()) + "\r\n";
  Write(command.data(), command.size());
  Write(frame.data(), frame.size());
  const std::string expected = command.substr(0, command.size() - 1) + "\r\nOK\r\n";
  EXPECT_EQ(Read(expected.size()), expected);
}

TEST_F(Vphone0Port, ShowsAModemWhoseLinesFollowDtr) {
  // The device sees line changes from the line's own thread, a moment after the call.
  const DWORD all = MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON;
  DWORD status = 0;
  EXPECT_TRUE(qv::comm::testing::WaitUntil(
      [&] { return GetCommModemStatus(port_, &status) && (status & all) == all; }));
  ASSERT_TRUE(EscapeCommFunction(port_, CLRDTR));
  ASSERT_TRUE(qv::comm::testing::WaitUntil([&] {
    return GetCommModemStatus(port_, &status) && (status & (MS_DSR_ON | MS_RLSD_ON)) == 0;
  }));
  EXPECT_TRUE(status & MS_CTS_ON);

  std::vector<std::uint8_t> buffer(1164);
  auto* prop = reinterpret_cast<COMMPROP*>(buffer.data());
  prop->wPacketLength = static_cast<WORD>(buffer.size());
  ASSERT_TRUE(GetCommProperties(port_, prop));
  EXPECT_EQ(prop->dwProvSubType, PST_MODEM);
}

}  // namespace
