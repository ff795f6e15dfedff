#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/sync/clock.h"
#include "platform/sync/debug_output.h"
#include "platform/sync/event.h"
#include "platform/sync/kernel_object.h"
#include "platform/sync/last_error.h"
#include "platform/sync/message_queue.h"
#include "platform/sync/thread.h"

namespace {

using namespace std::chrono_literals;

constexpr UINT kMsgData = WM_USER + 1;

struct Collector {
  HANDLE stop;
  std::vector<MSG> received;
};

// Collects thread messages until the stop event; the write thread of the engine has this shape.
DWORD CollectProc(LPVOID p) {
  auto* c = static_cast<Collector*>(p);
  for (;;) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) c->received.push_back(msg);
    const DWORD r = MsgWaitForMultipleObjects(1, &c->stop, FALSE, INFINITE, QS_ALLINPUT);
    if (r == WAIT_OBJECT_0) {
      while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) c->received.push_back(msg);
      return 7;
    }
    if (r != WAIT_OBJECT_0 + 1) return 99;
  }
}

TEST(ThreadQueues, OrderIsKeptPerPosterAcrossTwoPostingThreads) {
  Collector c{CreateEventA(nullptr, TRUE, FALSE, nullptr), {}};
  DWORD tid = 0;
  HANDLE thread = CreateThread(nullptr, 0, CollectProc, &c, 0, &tid);
  ASSERT_NE(thread, nullptr);
  constexpr int kPerPoster = 2000;
  auto poster = [&](WPARAM who) {
    for (int i = 0; i < kPerPoster; ++i) ASSERT_TRUE(PostThreadMessageA(tid, kMsgData, who, i));
  };
  std::thread a(poster, 1), b(poster, 2);
  a.join();
  b.join();
  SetEvent(c.stop);
  ASSERT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 7u);
  ASSERT_EQ(c.received.size(), 2u * kPerPoster);
  LPARAM next[3] = {0, 0, 0};
  for (const MSG& m : c.received) {
    ASSERT_EQ(m.message, kMsgData);
    EXPECT_EQ(m.lParam, next[m.wParam]++);
  }
  CloseHandle(thread);
  CloseHandle(c.stop);
}

TEST(ThreadQueues, PostRightAfterCreateThreadIsNotLost) {
  // The engine posts its first write as soon as the write thread exists.
  Collector c{CreateEventA(nullptr, TRUE, FALSE, nullptr), {}};
  DWORD tid = 0;
  HANDLE thread = CreateThread(nullptr, 0, CollectProc, &c, 0, &tid);
  EXPECT_TRUE(PostThreadMessageA(tid, kMsgData, 0, 42));
  std::this_thread::sleep_for(50ms);
  SetEvent(c.stop);
  WaitForSingleObject(thread, 5000);
  ASSERT_EQ(c.received.size(), 1u);
  EXPECT_EQ(c.received[0].lParam, 42);
  CloseHandle(thread);
  CloseHandle(c.stop);
}

DWORD ReturnAtOnce(LPVOID) { return 3; }

TEST(ThreadQueues, PostingToAnEndedOrUnknownThreadFails) {
  DWORD tid = 0;
  HANDLE thread = CreateThread(nullptr, 0, ReturnAtOnce, nullptr, 0, &tid);
  ASSERT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
  EXPECT_FALSE(PostThreadMessageA(tid, kMsgData, 0, 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_THREAD_ID);
  EXPECT_FALSE(PostThreadMessageA(0x7FFFFFF0u, kMsgData, 0, 0));
  CloseHandle(thread);
}

TEST(ThreadQueues, PeekWithoutRemoveKeepsTheMessage) {
  MSG m;
  EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));  // creates this thread's queue
  ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), kMsgData, 5, 6));
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE));
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.wParam, 5u);
  EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
}

TEST(ThreadQueues, MsgWaitReportsObjectsBeforeInputAndTimesOut) {
  HANDLE e = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &e, FALSE, 20, QS_ALLINPUT), WAIT_TIMEOUT);
  PostThreadMessageA(GetCurrentThreadId(), kMsgData, 0, 0);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &e, FALSE, 0, QS_ALLINPUT), WAIT_OBJECT_0 + 1);
  SetEvent(e);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &e, FALSE, 0, QS_ALLINPUT), WAIT_OBJECT_0);
  MSG m;
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
  }
  CloseHandle(e);
}

DWORD RecordLastError(LPVOID p) {
  SetLastError(ERROR_ACCESS_DENIED);
  Sleep(30);
  *static_cast<DWORD*>(p) = GetLastError();
  return 0;
}

TEST(LastError, IsPerThread) {
  SetLastError(ERROR_FILE_NOT_FOUND);
  DWORD seen = 0;
  HANDLE t = CreateThread(nullptr, 0, RecordLastError, &seen, 0, nullptr);
  SetLastError(ERROR_INVALID_PARAMETER);
  WaitForSingleObject(t, 5000);
  EXPECT_EQ(seen, ERROR_ACCESS_DENIED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  CloseHandle(t);
}

TEST(LastError, ErrnoMapsToWin32CodesWithTexts) {
  using qv::sync::Win32ErrorFromErrno;
  EXPECT_EQ(Win32ErrorFromErrno(ENOENT), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Win32ErrorFromErrno(EACCES), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Win32ErrorFromErrno(EPERM), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Win32ErrorFromErrno(EBUSY), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Win32ErrorFromErrno(EBADF), ERROR_INVALID_HANDLE);
  EXPECT_EQ(Win32ErrorFromErrno(EINVAL), ERROR_INVALID_PARAMETER);
  for (int e : {ENOENT, EACCES, EBUSY, EBADF, EINVAL, EIO, ENOTTY, ENXIO, ENOMEM, EPIPE}) {
    const std::string text = qv::sync::SystemErrorText(Win32ErrorFromErrno(e));
    EXPECT_FALSE(text.empty()) << "errno " << e;
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
  }
  EXPECT_NE(qv::sync::SystemErrorText(ERROR_ACCESS_DENIED).find("dialout"), std::string::npos);
  // Application-defined codes (bit 29) have no system text.
  EXPECT_TRUE(qv::sync::SystemErrorText(0x20000001).empty());
}

DWORD StuckUntilEvent(LPVOID p) {
  WaitForSingleObject(static_cast<HANDLE>(p), 10000);
  return 1;
}

TEST(Threads, TerminateAbandonsAStuckThreadAndItsHandleReadsEnded) {
  HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  const int before = qv::sync::RunningThreadCount();
  HANDLE t = CreateThread(nullptr, 0, StuckUntilEvent, release, 0, nullptr);
  ASSERT_TRUE(SetThreadPriority(t, THREAD_PRIORITY_HIGHEST));  // may lack privileges: still TRUE
  EXPECT_EQ(WaitForSingleObject(t, 50), WAIT_TIMEOUT);
  DWORD code = 0;
  GetExitCodeThread(t, &code);
  EXPECT_EQ(code, STILL_ACTIVE);
  ASSERT_TRUE(TerminateThread(t, 0));
  EXPECT_EQ(WaitForSingleObject(t, 0), WAIT_OBJECT_0);
  GetExitCodeThread(t, &code);
  EXPECT_EQ(code, 0u);
  CloseHandle(t);
  // The abandoned thread ends once its blocking call returns.
  SetEvent(release);
  for (int i = 0; i < 200 && qv::sync::RunningThreadCount() > before; ++i) Sleep(10);
  EXPECT_EQ(qv::sync::RunningThreadCount(), before);
  CloseHandle(release);
}

TEST(Clock, TickCountAdvancesAndLocalTimeIsSane) {
  const DWORD a = GetTickCount();
  Sleep(20);
  EXPECT_GE(GetTickCount() - a, 20u);
  SYSTEMTIME st;
  GetLocalTime(&st);
  EXPECT_GE(st.wYear, 2020);
  EXPECT_LT(st.wMilliseconds, 1000);
  EXPECT_LT(st.wHour, 24);
}

TEST(DebugOutput, EachCallIsKeptWholeInTheSink) {
  qv::sync::ClearDebugOutputCapture();
  std::thread a([] {
    for (int i = 0; i < 200; ++i) OutputDebugStringA("aaaaaaaaaaaaaaaa\n");
  });
  std::thread b([] {
    for (int i = 0; i < 200; ++i) OutputDebugStringA("bbbbbbbbbbbbbbbb\n");
  });
  a.join();
  b.join();
  const std::string all = qv::sync::DebugOutputCaptured();
  EXPECT_EQ(all.size(), 400u * 17u);
  for (std::size_t pos = 0; pos < all.size(); pos += 17) {
    const std::string line = all.substr(pos, 17);
    EXPECT_TRUE(line == "aaaaaaaaaaaaaaaa\n" || line == "bbbbbbbbbbbbbbbb\n") << line;
  }
}

}  // namespace
