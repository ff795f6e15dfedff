#include "platform/sync/thread.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <thread>

#include "platform/sync/kernel_object.h"
#include "platform/sync/last_error.h"
#include "platform/sync/message_queue.h"

namespace qv::sync {
namespace {

std::atomic<int> runningThreads{0};

class Thread final : public Waitable {
 public:
  Thread() : Waitable(/*manualReset=*/true, /*signalled=*/false) {}

  std::atomic<bool> abandoned{false};
  std::atomic<int> priority{THREAD_PRIORITY_NORMAL};
  std::atomic<pid_t> osThreadId{0};

  // Ends the thread as waiters see it; the first end (normal or forced) sets the exit code.
  void Finish(DWORD code) {
    std::lock_guard guard(WaitLock());
    if (IsSignalledLocked()) return;
    exitCode_ = code;
    SignalLocked();
  }
  DWORD ExitCode() {
    std::lock_guard guard(WaitLock());
    return IsSignalledLocked() ? exitCode_ : STILL_ACTIVE;
  }

 private:
  DWORD exitCode_ = STILL_ACTIVE;  // guarded by WaitLock()
};

thread_local std::shared_ptr<Thread> currentThread;

// Nice values for the Win32 priorities; a raise needs CAP_SYS_NICE.
int NiceFor(int priority) {
  switch (priority) {
    case THREAD_PRIORITY_HIGHEST: return -10;
    case THREAD_PRIORITY_ABOVE_NORMAL: return -5;
    case THREAD_PRIORITY_BELOW_NORMAL: return 5;
    case THREAD_PRIORITY_LOWEST: return 10;
    default: return 0;
  }
}

}  // namespace

bool IsCurrentThreadAbandoned() {
  return currentThread && currentThread->abandoned.load(std::memory_order_acquire);
}

int RunningThreadCount() { return runningThreads.load(); }

}  // namespace qv::sync

using namespace qv::sync;

HANDLE CreateThread(void* securityAttributes, std::size_t /*stackSize*/,
                    LPTHREAD_START_ROUTINE startAddress, LPVOID parameter, DWORD creationFlags,
                    DWORD* threadId) {
  if (securityAttributes != nullptr || startAddress == nullptr ||
      (creationFlags & CREATE_SUSPENDED)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto thread = std::make_shared<Thread>();
  std::promise<DWORD> started;
  std::future<DWORD> startedId = started.get_future();
  try {
    ++runningThreads;
    std::thread([thread, startAddress, parameter, started = std::move(started)]() mutable {
      currentThread = thread;
      thread->osThreadId = static_cast<pid_t>(::syscall(SYS_gettid));
      EnsureCurrentThreadQueue();
      started.set_value(GetCurrentThreadId());
      const DWORD code = startAddress(parameter);
      RemoveCurrentThreadQueue();
      // Counted out before the handle is signalled: whoever waited for the thread never still
      // finds it among the running ones.
      --runningThreads;
      thread->Finish(code);
      currentThread.reset();
    }).detach();
  } catch (const std::system_error&) {
    --runningThreads;
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  // Wait until the thread has its id and queue, so that the caller can post to it at once.
  const DWORD id = startedId.get();
  if (threadId) *threadId = id;
  return RegisterHandle(thread);
}

BOOL SetThreadPriority(HANDLE handle, int priority) {
  auto thread = LookupHandleAs<Thread>(handle);
  if (!thread) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  thread->priority = priority;
  // Best effort: without privileges the thread keeps its priority, which is harmless here.
  (void)setpriority(PRIO_PROCESS, static_cast<id_t>(thread->osThreadId.load()), NiceFor(priority));
  return TRUE;
}

int GetThreadPriority(HANDLE handle) {
  auto thread = LookupHandleAs<Thread>(handle);
  if (!thread) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0x7FFFFFFF;  // THREAD_PRIORITY_ERROR_RETURN
  }
  return thread->priority;
}

BOOL GetExitCodeThread(HANDLE handle, DWORD* exitCode) {
  auto thread = LookupHandleAs<Thread>(handle);
  if (!thread || exitCode == nullptr) {
    SetLastError(thread ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *exitCode = thread->ExitCode();
  return TRUE;
}

BOOL TerminateThread(HANDLE handle, DWORD exitCode) {
  auto thread = LookupHandleAs<Thread>(handle);
  if (!thread) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  thread->abandoned.store(true, std::memory_order_release);
  thread->Finish(exitCode);
  return TRUE;
}
