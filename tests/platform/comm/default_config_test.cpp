// The per-port default configuration: by device name, kept per user across opens.
#include <filesystem>
#include <vector>

#include "platform/sync/debug_output.h"
#include "tests/platform/comm/comm_test_support.h"

namespace qv::comm::testing {
namespace {

TEST(DefaultConfig, RoundTripPersistsPerUserAndApplesAtOpen) {
  ScopedConfigHome home;
  std::vector<std::uint8_t> buffer(1076);
  auto* config = reinterpret_cast<COMMCONFIG*>(buffer.data());
  DWORD size = 1076;
  ASSERT_TRUE(GetDefaultCommConfigA("vloop0", config, &size)) << GetLastError();
  EXPECT_EQ(size, sizeof(COMMCONFIG));
  EXPECT_EQ(config->dcb.BaudRate, 9600u);
  EXPECT_EQ(config->dcb.ByteSize, 8);

  config->dcb.BaudRate /= 2;
  ASSERT_TRUE(SetDefaultCommConfigA("vloop0", config, size));
  EXPECT_TRUE(std::filesystem::exists(home.dir() + "/QUELM/vloop0.commconfig"));
  std::vector<std::uint8_t> again(1076);
  auto* read = reinterpret_cast<COMMCONFIG*>(again.data());
  size = 1076;
  ASSERT_TRUE(GetDefaultCommConfigA("vloop0", read, &size));
  EXPECT_EQ(read->dcb.BaudRate, 4800u);

  // A port opens with its default.
  HANDLE h = CreateFileA("\\\\.\\vloop0", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OVERLAPPED, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DCB dcb;
  ASSERT_TRUE(GetCommState(h, &dcb));
  EXPECT_EQ(dcb.BaudRate, 4800u);
  CloseHandle(h);
}

TEST(DefaultConfig, NamesThatAreNoDeviceFail) {
  ScopedConfigHome home;
  std::vector<std::uint8_t> buffer(1076);
  auto* config = reinterpret_cast<COMMCONFIG*>(buffer.data());
  DWORD size = 1076;
  // The "\\.\" form is a path, not a device name: callers retry without it.
  EXPECT_FALSE(GetDefaultCommConfigA("\\\\.\\vloop0", config, &size));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(GetDefaultCommConfigA("nosuchport7", config, &size));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  size = 4;
  EXPECT_FALSE(GetDefaultCommConfigA("vloop0", config, &size));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(size, sizeof(COMMCONFIG));

  size = 1076;
  ASSERT_TRUE(GetDefaultCommConfigA("vloop0", config, &size));
  config->dcb.BaudRate = 0;
  EXPECT_FALSE(SetDefaultCommConfigA("vloop0", config, size));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(SetDefaultCommConfigA("vloop0", config, 20));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(DefaultConfig, DamagedFileFallsBackToTheBuiltInDefault) {
  ScopedConfigHome home;
  std::filesystem::create_directories(home.dir() + "/QUELM");
  {
    FILE* f = std::fopen((home.dir() + "/QUELM/vloop0.commconfig").c_str(), "wb");
    std::fputs("garbage", f);
    std::fclose(f);
  }
  std::vector<std::uint8_t> buffer(1076);
  auto* config = reinterpret_cast<COMMCONFIG*>(buffer.data());
  DWORD size = 1076;
  qv::sync::ClearDebugOutputCapture();
  ASSERT_TRUE(GetDefaultCommConfigA("vloop0", config, &size));
  EXPECT_EQ(config->dcb.BaudRate, 9600u);
  EXPECT_NE(qv::sync::DebugOutputCaptured().find("vloop0.commconfig is damaged"),
            std::string::npos);
}

}  // namespace
}  // namespace qv::comm::testing
