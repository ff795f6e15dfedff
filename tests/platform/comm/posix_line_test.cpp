// What only a real tty shows: data through the kernel's tty layer in both directions, any integer
// rate, the features a pseudo-terminal lacks, hang-up, and an idle port that costs no CPU.
#include <time.h>

#include <random>
#include <string>

#include "tests/platform/comm/comm_test_support.h"

namespace qv::comm::testing {
namespace {

double ProcessCpuSeconds() {
  timespec ts{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

class PosixLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!pty_.ok()) GTEST_SKIP() << "no pseudo-terminal";
    port_ = CreateFileA(pty_.path().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                        OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(port_, INVALID_HANDLE_VALUE) << GetLastError();
  }
  void TearDown() override {
    if (port_ != INVALID_HANDLE_VALUE) CloseHandle(port_);
  }
  PtyPair pty_;
  HANDLE port_ = INVALID_HANDLE_VALUE;
  Records records_;
};

TEST_F(PosixLineTest, LargeTransfersArriveWholeAndInOrderBothWays) {
  std::string data(256 * 1024, '\0');
  std::mt19937 random(7);
  for (auto& c : data) c = static_cast<char>(random());

  // Out: the kernel takes the bytes in pieces; the write completes when all went in.
  Overlapped& w = records_.New();
  DWORD n = 0;
  std::string received;
  std::thread reader([&] { received = pty_.Receive(data.size(), Ms(10000)); });
  if (!WriteFile(port_, data.data(), static_cast<DWORD>(data.size()), &n, &w.ov)) {
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  }
  ASSERT_TRUE(w.Signalled(10000));
  ASSERT_TRUE(GetOverlappedResult(port_, &w.ov, &n, FALSE));
  EXPECT_EQ(n, data.size());
  reader.join();
  EXPECT_TRUE(received == data);

  // In: reads of 4096 bytes with the engine's timeouts collect everything.
  COMMTIMEOUTS t{250, 0, 1000, 0, 0};
  ASSERT_TRUE(SetCommTimeouts(port_, &t));
  std::thread writer([&] {
    for (std::size_t at = 0; at < data.size(); at += 1000) {
      pty_.Write(data.substr(at, 1000));
    }
  });
  std::string got;
  std::vector<char> buffer(4096);
  const auto end = SteadyClock::now() + Ms(10000);
  Overlapped& r = records_.New();
  while (got.size() < data.size() && SteadyClock::now() < end) {
    if (!ReadFile(port_, buffer.data(), 4096, &n, &r.ov)) {
      ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
      ASSERT_TRUE(r.Signalled(3000));
      ASSERT_TRUE(GetOverlappedResult(port_, &r.ov, &n, FALSE));
    }
    got.append(buffer.data(), n);
  }
  writer.join();
  EXPECT_TRUE(got == data);
}

TEST_F(PosixLineTest, AnyIntegerRateIsKept) {
  for (DWORD rate : {806400u, 12345u, 115200u}) {
    DCB dcb;
    ASSERT_TRUE(GetCommState(port_, &dcb));
    dcb.BaudRate = rate;
    ASSERT_TRUE(SetCommState(port_, &dcb));
    ASSERT_TRUE(GetCommState(port_, &dcb));
    EXPECT_EQ(dcb.BaudRate, rate);
  }
}

// A pseudo-terminal has no modem lines: the calls fail as on a driver without them, while the
// line settings still apply.
TEST_F(PosixLineTest, PseudoTerminalLacksModemLines) {
  DWORD status = 0;
  EXPECT_FALSE(GetCommModemStatus(port_, &status));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);
  EXPECT_FALSE(EscapeCommFunction(port_, SETDTR));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);
  DCB dcb;
  ASSERT_TRUE(GetCommState(port_, &dcb));
  dcb.fDtrControl = DTR_CONTROL_DISABLE;
  EXPECT_TRUE(SetCommState(port_, &dcb));
  COMMPROP prop{};
  ASSERT_TRUE(GetCommProperties(port_, &prop));
  EXPECT_FALSE(prop.dwProvCapabilities & PCF_RTSCTS);
  EXPECT_EQ(prop.dwProvSubType, PST_RS232);
}

TEST_F(PosixLineTest, HangUpFailsPendingRequestsWithoutSpinning) {
  COMMTIMEOUTS t{0, 0, 0, 0, 0};
  ASSERT_TRUE(SetCommTimeouts(port_, &t));
  Overlapped& r = records_.New();
  char c;
  DWORD n = 0;
  ASSERT_FALSE(ReadFile(port_, &c, 1, &n, &r.ov));
  ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  pty_.CloseFarEnd();
  ASSERT_TRUE(r.Signalled(3000));
  EXPECT_FALSE(GetOverlappedResult(port_, &r.ov, &n, FALSE));
  EXPECT_EQ(GetLastError(), ERROR_GEN_FAILURE);
  EXPECT_FALSE(WriteFile(port_, "x", 1, &n, &r.ov));
  EXPECT_EQ(GetLastError(), ERROR_GEN_FAILURE);

  const double before = ProcessCpuSeconds();
  std::this_thread::sleep_for(Ms(500));
  EXPECT_LT(ProcessCpuSeconds() - before, 0.1);
}

TEST_F(PosixLineTest, IdlePortWithPendingRequestsCostsNoCpu) {
  COMMTIMEOUTS t{0, 0, 0, 0, 0};
  ASSERT_TRUE(SetCommTimeouts(port_, &t));
  ASSERT_TRUE(SetCommMask(port_, EV_ERR));
  Overlapped& r = records_.New();
  Overlapped& e = records_.New();
  char c;
  DWORD n = 0, mask = 0;
  ASSERT_FALSE(ReadFile(port_, &c, 1, &n, &r.ov));
  ASSERT_FALSE(WaitCommEvent(port_, &mask, &e.ov));
  std::this_thread::sleep_for(Ms(100));
  const double before = ProcessCpuSeconds();
  std::this_thread::sleep_for(Ms(500));
  EXPECT_LT(ProcessCpuSeconds() - before, 0.05);
  // The records must outlive their requests: closing completes them while they still exist.
  EXPECT_TRUE(CloseHandle(port_));
  port_ = INVALID_HANDLE_VALUE;
  EXPECT_TRUE(r.Signalled(0));
}

}  // namespace
}  // namespace qv::comm::testing
