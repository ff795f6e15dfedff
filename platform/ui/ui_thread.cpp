#include "platform/ui/ui_thread.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/sync/event.h"
#include "platform/sync/last_error.h"

namespace qv::ui {
namespace {

struct Request {
  const std::function<void()>* fn;
  bool done = false;
};

struct UiState {
  std::mutex lock;
  std::condition_variable served;
  std::deque<Request*> queue;
  std::function<void()> wakeHook;
  std::thread::id uiThread;
  bool hasUiThread = false;
  HANDLE workEvent = nullptr;  // auto-reset: set when a request is queued
};

// Commands in progress on the UI thread (read and written there only).
int g_commandDepth = 0;

UiState& State() {
  static auto* state = [] {
    auto* s = new UiState;
    s->workEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    return s;
  }();
  return *state;
}

}  // namespace

void SetUiThread() {
  UiState& s = State();
  std::lock_guard guard(s.lock);
  s.uiThread = std::this_thread::get_id();
  s.hasUiThread = true;
}

void ClearUiThread() {
  UiState& s = State();
  std::lock_guard guard(s.lock);
  s.hasUiThread = false;
  s.wakeHook = nullptr;
}

bool IsUiThread() {
  UiState& s = State();
  std::lock_guard guard(s.lock);
  return s.hasUiThread && s.uiThread == std::this_thread::get_id();
}

void SetUiWakeHook(std::function<void()> hook) {
  UiState& s = State();
  std::lock_guard guard(s.lock);
  s.wakeHook = std::move(hook);
}

void RunOnUiThread(const std::function<void()>& fn) {
  UiState& s = State();
  std::function<void()> wake;
  Request request{&fn};
  {
    std::unique_lock guard(s.lock);
    if (!s.hasUiThread || s.uiThread == std::this_thread::get_id()) {
      guard.unlock();
      fn();
      return;
    }
    s.queue.push_back(&request);
    wake = s.wakeHook;
  }
  SetEvent(s.workEvent);
  if (wake) wake();
  std::unique_lock guard(s.lock);
  s.served.wait(guard, [&] { return request.done; });
}

void ServeUiRequests() {
  UiState& s = State();
  for (;;) {
    Request* request;
    {
      std::lock_guard guard(s.lock);
      if (s.queue.empty()) return;
      request = s.queue.front();
      s.queue.pop_front();
    }
    (*request->fn)();
    {
      std::lock_guard guard(s.lock);
      request->done = true;
    }
    s.served.notify_all();
  }
}

DWORD PumpingWait(DWORD count, const HANDLE* handles, DWORD milliseconds) {
  if (!IsUiThread()) return WaitForMultipleObjects(count, handles, FALSE, milliseconds);
  if (count >= MAXIMUM_WAIT_OBJECTS) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  const UiCommandScope command;
  // A request queued before this wait began may have had its wake taken by an outer wait that
  // is now running the request this wait is part of: it is served here, not left until the
  // outer wait resumes.
  ServeUiRequests();
  std::vector<HANDLE> all(handles, handles + count);
  all.push_back(State().workEvent);
  using Clock = std::chrono::steady_clock;
  auto start = Clock::now();
  for (;;) {
    DWORD remaining = milliseconds;
    if (milliseconds != INFINITE) {
      const auto spent =
          std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
      remaining = spent >= milliseconds ? 0 : milliseconds - static_cast<DWORD>(spent);
    }
    const DWORD result = WaitForMultipleObjects(count + 1, all.data(), FALSE, remaining);
    if (result != WAIT_OBJECT_0 + count) return result;
    // A worker that waits for the user's answer to its box is not late: the time the box was
    // open does not count against the bound.
    const auto served = Clock::now();
    ServeUiRequests();
    start += Clock::now() - served;
  }
}

UiCommandScope::UiCommandScope() { ++g_commandDepth; }
UiCommandScope::~UiCommandScope() { --g_commandDepth; }
bool UiCommandInProgress() { return g_commandDepth > 0; }

}  // namespace qv::ui
