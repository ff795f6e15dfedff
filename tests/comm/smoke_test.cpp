#include "tests/comm/comm_test_support.h"
namespace qv::comm::testing { namespace {
TEST(Smoke, LoopbackEchoOverlapped) {
  HANDLE h = CreateFileA("vloop0", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
  COMMTIMEOUTS t{250, 0, 1000, 0, 0};
  ASSERT_TRUE(SetCommTimeouts(h, &t));
  Overlapped r, w;
  char buf[16] = {};
  DWORD n = 0;
  EXPECT_FALSE(ReadFile(h, buf, 5, &n, &r.ov));
  EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
  EXPECT_FALSE(WriteFile(h, "hello", 5, &n, &w.ov));
  EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
  ASSERT_TRUE(w.Signalled(2000));
  ASSERT_TRUE(r.Signalled(2000));
  ASSERT_TRUE(GetOverlappedResult(h, &r.ov, &n, FALSE));
  EXPECT_EQ(std::string(buf, n), "hello");
  EXPECT_TRUE(CloseHandle(h));
}
}}
