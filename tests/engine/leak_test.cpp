// Many connections in a row leave no thread, descriptor, handle or memory behind.
#include <gtest/gtest.h>
#include <malloc.h>

#include "platform/sync/process_counts.h"
#include "tests/engine/engine_fixture.h"

namespace qv::test {
namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kPlainHeap = false;  // the sanitizers keep their own heap (and check leaks)
#else
constexpr bool kPlainHeap = true;
#endif

using LeakTest = EngineTest;

TEST_F(LeakTest, ThousandOpenCloseCyclesLeakNoThreadDescriptorHandleOrMemory) {
  // One cycle first, so that lazily created process-wide state exists before counting.
  ASSERT_NE(Open("vloop0"), INVALID_HANDLE_VALUE);
  ASSERT_TRUE(Start());
  WriteCommString("warm up");
  ASSERT_TRUE(WaitUntil([&] { return console.Received().size() == 7; }));
  StopComm(1);
  port = INVALID_HANDLE_VALUE;

  const int fdsBefore = qv::sync::CountProcess().fds;
  const int tasksBefore = qv::sync::CountProcess().threads;
  const int handlesBefore = qv::sync::CountProcess().handles;
  const int threadsBefore = qv::sync::RunningThreadCount();
  const std::size_t heapBefore = ::mallinfo2().uordblks;

  for (int cycle = 0; cycle < 1000; ++cycle) {
    port = CreateFileA("vloop0", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(port, INVALID_HANDLE_VALUE) << "cycle " << cycle;
    ASSERT_TRUE(Start()) << "cycle " << cycle;
    // Every tenth connection carries data, so both threads do real work.
    if (cycle % 10 == 0) {
      ASSERT_TRUE(WriteCommString("ping"));
    }
    StopComm(1);
    port = INVALID_HANDLE_VALUE;
  }
  EXPECT_EQ(boxes.Count(), 0u);

  // Threads end just after they signal their end: give them a moment to be gone.
  EXPECT_TRUE(WaitUntil(
      [&] {
        return qv::sync::RunningThreadCount() <= threadsBefore &&
               qv::sync::CountProcess().threads <= tasksBefore &&
               qv::sync::CountProcess().fds <= fdsBefore &&
               qv::sync::CountProcess().handles <= handlesBefore;
      },
      std::chrono::seconds(10)))
      << "threads " << qv::sync::RunningThreadCount() << "/" << threadsBefore << ", tasks "
      << qv::sync::CountProcess().threads << "/" << tasksBefore << ", fds "
      << qv::sync::CountProcess().fds << "/" << fdsBefore << ", handles "
      << qv::sync::CountProcess().handles << "/" << handlesBefore;
  if (kPlainHeap) {
    // A leak of one read buffer per cycle alone would be 4 MB.
    const std::size_t heapAfter = ::mallinfo2().uordblks;
    EXPECT_LT(heapAfter, heapBefore + 256 * 1024) << heapBefore << " -> " << heapAfter;
  }
}

}  // namespace
}  // namespace qv::test
