// The monitoring hook against two stand-in libraries (one complete, one without InfoEvenement),
// without any library, and the pinning of the process to one processor.
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "platform/sync/library.h"
#include "support/monitoring.h"

namespace {

using qv::support::MonitoringHook;

// Points the stand-ins' call record at a fresh file for one test.
class MonitoringHookTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    log_ = dir_.filePath("calls.log").toStdString();
    ::setenv("QV_FENDRAKE_LOG", log_.c_str(), 1);
  }
  void TearDown() override { ::unsetenv("QV_FENDRAKE_LOG"); }

  std::string Calls() const {
    std::ifstream in(log_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  QTemporaryDir dir_;
  std::string log_;
};

TEST_F(MonitoringHookTest, CompleteLibraryHearsTheApplicationEndThenTheProcessEnd) {
  {
    MonitoringHook hook("fendrake_complete.dll");
    ASSERT_TRUE(hook.IsLoaded()) << "libfendrake_complete.so beside the test executable";
    EXPECT_EQ(Calls(), "loaded\n");
    EXPECT_EQ(hook.NotifyApplicationEnd(1234), 41u);
    EXPECT_EQ(Calls(), "loaded\nInfoApplication 1234 0\n");
  }
  // Destroying the hook calls InfoEnd, then releases the library.
  EXPECT_EQ(Calls(), "loaded\nInfoApplication 1234 0\nInfoEnd\nunloaded\n");
}

TEST_F(MonitoringHookTest, UnloadReturnsInfoEndsResultAndLeavesTheHookEmpty) {
  MonitoringHook hook("fendrake_complete.dll");
  ASSERT_TRUE(hook.IsLoaded());
  EXPECT_EQ(hook.Unload(), 42u);
  EXPECT_FALSE(hook.IsLoaded());
  EXPECT_EQ(hook.NotifyApplicationEnd(1), 0u);
  EXPECT_EQ(hook.Unload(), 0u);
  EXPECT_EQ(Calls(), "loaded\nInfoEnd\nunloaded\n");
}

TEST_F(MonitoringHookTest, LibraryWithoutInfoEvenementIsUnloadedAtOnceAndNeverNotified) {
  MonitoringHook hook("fendrake_noevent.dll");
  EXPECT_FALSE(hook.IsLoaded());
  EXPECT_EQ(Calls(), "loaded\nInfoEnd\nunloaded\n");
  EXPECT_EQ(hook.NotifyApplicationEnd(1234), 0u);
  EXPECT_EQ(hook.Unload(), 0u);
  EXPECT_EQ(Calls(), "loaded\nInfoEnd\nunloaded\n");
}

TEST_F(MonitoringHookTest, WithoutTheLibraryNothingIsCalled) {
  // The real name: no libfendrake.so is installed beside the tests or on the loader's path.
  ASSERT_FALSE(std::filesystem::exists(qv::sync::ExecutableFolder() + "/libfendrake.so"));
  MonitoringHook hook;
  EXPECT_FALSE(hook.IsLoaded());
  EXPECT_EQ(hook.NotifyApplicationEnd(qv::support::ApplicationInstanceId()), 0u);
  EXPECT_FALSE(qv::support::TheMonitoringHook().IsLoaded());
  EXPECT_EQ(qv::support::TheMonitoringHook().NotifyApplicationEnd(1), 0u);
  EXPECT_EQ(hook.Unload(), 0u);
  EXPECT_EQ(Calls(), "");
}

std::set<int> AllowedProcessors(pid_t tid) {
  cpu_set_t set;
  CPU_ZERO(&set);
  std::set<int> cpus;
  if (::sched_getaffinity(tid, sizeof set, &set) != 0) return cpus;
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
    if (CPU_ISSET(cpu, &set)) cpus.insert(cpu);
  return cpus;
}

// Runs in a child process, so the test process keeps its processors. Exit code 0 when the child
// and a thread it started before pinning both end up on exactly the expected processor.
int PinInChild() {
  std::set<int> allowed = AllowedProcessors(0);
  if (allowed.empty()) return 10;
  // With several processors, take the lowest out of the allowed set first: the pinning must
  // choose from what the process may use, not simply processor 0.
  if (allowed.size() > 1) {
    cpu_set_t set;
    CPU_ZERO(&set);
    for (int cpu : allowed)
      if (cpu != *allowed.begin()) CPU_SET(cpu, &set);
    if (::sched_setaffinity(0, sizeof set, &set) != 0) return 11;
    allowed.erase(allowed.begin());
  }
  const int expected = *allowed.begin();
  std::atomic<pid_t> workerTid{0};
  std::atomic<bool> stop{false};
  std::thread worker([&] {
    workerTid = static_cast<pid_t>(::syscall(SYS_gettid));
    while (!stop) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  while (workerTid == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const int chosen = qv::support::PinProcessToOneProcessor();
  const std::set<int> mine = AllowedProcessors(0);
  const std::set<int> workers = AllowedProcessors(workerTid);
  stop = true;
  worker.join();
  if (chosen != expected) return 12;
  if (mine != std::set<int>{expected}) return 13;
  if (workers != std::set<int>{expected}) return 14;
  return 0;
}

TEST(ProcessorPinning, PinsEveryThreadToTheLowestAllowedProcessor) {
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) ::_exit(PinInChild());
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  pid_t done = 0;
  while ((done = ::waitpid(child, &status, WNOHANG)) == 0 &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  if (done == 0) {
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
    FAIL() << "the pinning child did not end";
  }
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
