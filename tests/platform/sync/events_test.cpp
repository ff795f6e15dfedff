#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/sync/clock.h"
#include "platform/sync/event.h"
#include "platform/sync/kernel_object.h"
#include "platform/sync/last_error.h"

namespace {

using namespace std::chrono_literals;

struct EventGuard {
  HANDLE h;
  ~EventGuard() { CloseHandle(h); }
};

TEST(Events, AutoResetWakesExactlyOneOfTwoWaiters) {
  EventGuard e{CreateEventA(nullptr, FALSE, FALSE, nullptr)};
  std::atomic<int> woken{0};
  auto waiter = [&] {
    if (WaitForSingleObject(e.h, 500) == WAIT_OBJECT_0) ++woken;
  };
  std::thread a(waiter), b(waiter);
  std::this_thread::sleep_for(100ms);
  ASSERT_TRUE(SetEvent(e.h));
  a.join();
  b.join();
  EXPECT_EQ(woken.load(), 1);
  // The signal was consumed by the one waiter.
  EXPECT_EQ(WaitForSingleObject(e.h, 0), WAIT_TIMEOUT);
}

TEST(Events, ManualResetWakesAllWaitersAndStaysSignalled) {
  EventGuard e{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
  std::atomic<int> woken{0};
  auto waiter = [&] {
    if (WaitForSingleObject(e.h, 5000) == WAIT_OBJECT_0) ++woken;
  };
  std::thread a(waiter), b(waiter);
  std::this_thread::sleep_for(100ms);
  SetEvent(e.h);
  a.join();
  b.join();
  EXPECT_EQ(woken.load(), 2);
  EXPECT_EQ(WaitForSingleObject(e.h, 0), WAIT_OBJECT_0);
  ResetEvent(e.h);
  EXPECT_EQ(WaitForSingleObject(e.h, 0), WAIT_TIMEOUT);
}

TEST(Events, InitialStateIsKept) {
  EventGuard on{CreateEventA(nullptr, TRUE, TRUE, nullptr)};
  EventGuard autoOn{CreateEventA(nullptr, FALSE, TRUE, nullptr)};
  EXPECT_EQ(WaitForSingleObject(on.h, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(autoOn.h, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(autoOn.h, 0), WAIT_TIMEOUT);
}

TEST(Events, WaitAnyReturnsLowestSignalledIndexAndConsumesOnlyIt) {
  HANDLE h[3] = {CreateEventA(nullptr, FALSE, FALSE, nullptr),
                 CreateEventA(nullptr, FALSE, FALSE, nullptr),
                 CreateEventA(nullptr, FALSE, FALSE, nullptr)};
  SetEvent(h[2]);
  SetEvent(h[1]);
  EXPECT_EQ(WaitForMultipleObjects(3, h, FALSE, 0), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(WaitForMultipleObjects(3, h, FALSE, 0), WAIT_OBJECT_0 + 2);
  EXPECT_EQ(WaitForMultipleObjects(3, h, FALSE, 0), WAIT_TIMEOUT);
  for (HANDLE x : h) CloseHandle(x);
}

TEST(Events, WaitAllNeedsEveryObject) {
  HANDLE h[2] = {CreateEventA(nullptr, TRUE, TRUE, nullptr),
                 CreateEventA(nullptr, TRUE, FALSE, nullptr)};
  EXPECT_EQ(WaitForMultipleObjects(2, h, TRUE, 20), WAIT_TIMEOUT);
  SetEvent(h[1]);
  EXPECT_EQ(WaitForMultipleObjects(2, h, TRUE, 0), WAIT_OBJECT_0);
  for (HANDLE x : h) CloseHandle(x);
}

TEST(Events, TimeoutReturnsNearItsTime) {
  EventGuard e{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
  const DWORD start = GetTickCount();
  EXPECT_EQ(WaitForSingleObject(e.h, 150), WAIT_TIMEOUT);
  const DWORD elapsed = GetTickCount() - start;
  EXPECT_GE(elapsed, 150u);
  EXPECT_LT(elapsed, 1500u);  // generous: a loaded CI machine may be slow, but not stuck
}

TEST(Events, InvalidHandlesAndCountsFail) {
  EventGuard e{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
  HANDLE closed = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_TRUE(CloseHandle(closed));
  EXPECT_FALSE(CloseHandle(closed));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(SetEvent(closed));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  HANDLE mixed[2] = {e.h, closed};
  EXPECT_EQ(WaitForMultipleObjects(2, mixed, FALSE, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  std::vector<HANDLE> many(65, e.h);
  EXPECT_EQ(WaitForMultipleObjects(65, many.data(), FALSE, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  // 64 is the limit, and it works.
  SetEvent(e.h);
  EXPECT_EQ(WaitForMultipleObjects(64, many.data(), FALSE, 0), WAIT_OBJECT_0);
}

TEST(Events, SignalFromAnotherThreadEndsAnInfiniteWait) {
  EventGuard e{CreateEventA(nullptr, FALSE, FALSE, nullptr)};
  std::thread setter([&] {
    std::this_thread::sleep_for(50ms);
    SetEvent(e.h);
  });
  EXPECT_EQ(WaitForSingleObject(e.h, INFINITE), WAIT_OBJECT_0);
  setter.join();
}

}  // namespace
