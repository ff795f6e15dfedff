#include "platform/comm/overlapped_io.h"

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "platform/comm/comm_api.h"
#include "platform/sync/event.h"
#include "platform/sync/kernel_object.h"
#include "platform/sync/last_error.h"

namespace qv::comm {
namespace {

std::mutex& CompletionLock() {
  static std::mutex* lock = new std::mutex;  // lives until exit: detached threads may complete late
  return *lock;
}

std::condition_variable& CompletionCv() {
  static std::condition_variable* cv = new std::condition_variable;
  return *cv;
}

// The events with sets put off, under CompletionLock(): how many sets are out, and the generation
// a set must carry to be done (raised to cancel the sets out). A handful at most at any time: a
// flat list.
struct DeferredState {
  HANDLE event = nullptr;
  int out = 0;
  std::uint64_t generation = 0;
};

std::vector<DeferredState>& Deferred() {
  static auto* deferred = new std::vector<DeferredState>;
  return *deferred;
}

// Nonzero while any set is put off: a request issued or returned without one skips the lock.
std::atomic<int> deferredOut{0};

DeferredState* FindDeferredLocked(HANDLE event) {
  if (event == nullptr) return nullptr;
  for (DeferredState& state : Deferred())
    if (state.event == event) return &state;
  return nullptr;
}

DeferredEvent DeferLocked(HANDLE event) {
  if (event == nullptr) return {};
  DeferredState* state = FindDeferredLocked(event);
  if (state == nullptr) state = &Deferred().emplace_back(DeferredState{event});
  ++state->out;
  deferredOut.fetch_add(1, std::memory_order_relaxed);
  return {event, state->generation};
}

void SetEventKeepingLastError(HANDLE event) {
  // The caller may have closed the event already (handles are never reused); that is its
  // business, not a failure here.
  const DWORD saved = GetLastError();
  SetEvent(event);
  SetLastError(saved);
}

}  // namespace

void MarkPending(OVERLAPPED* ov) {
  {
    std::lock_guard guard(CompletionLock());
    ov->Internal = STATUS_PENDING;
    ov->InternalHigh = 0;
  }
  if (ov->hEvent != nullptr && deferredOut.load(std::memory_order_relaxed) != 0) {
    // A set put off for the record's last request is cancelled. One done already signalled the
    // event under the same lock, so the reset below comes after it.
    std::lock_guard guard(CompletionLock());
    if (DeferredState* state = FindDeferredLocked(ov->hEvent)) ++state->generation;
  }
  if (ov->hEvent != nullptr) {
    const DWORD saved = GetLastError();
    ResetEvent(ov->hEvent);
    SetLastError(saved);
  }
}

namespace {

HANDLE StoreLocked(OVERLAPPED* ov, DWORD error, DWORD count) {
  // The record is not touched once the result is in it: a caller that sees the result may free
  // the record at once (the event is taken before).
  const HANDLE event = ov->hEvent;
  ov->Internal = error;
  ov->InternalHigh = count;
  return event;
}

}  // namespace

DeferredEvent StoreCompletionResultDeferred(OVERLAPPED* ov, DWORD error, DWORD count) {
  DeferredEvent set;
  {
    std::lock_guard guard(CompletionLock());
    set = DeferLocked(StoreLocked(ov, error, count));
  }
  CompletionCv().notify_all();
  return set;
}

void SetDeferredEvents(const std::vector<DeferredEvent>& sets) {
  if (sets.empty()) return;
  // The events are signalled under the lock, so that a request issued on a record meanwhile
  // (which cancels its set under the same lock, then resets the event) is never overtaken by
  // the set; their waiters are woken once it is let go (one would ask for its result under it).
  qv::sync::PendingWakes wakes;
  std::lock_guard guard(CompletionLock());
  for (const DeferredEvent& set : sets) {
    DeferredState* state = FindDeferredLocked(set.event);
    if (state == nullptr) continue;
    if (set.generation == state->generation) {
      // The caller may have closed the event already (handles are never reused); that is its
      // business, not a failure here.
      const DWORD saved = GetLastError();
      qv::sync::SignalEvent(set.event, wakes);
      SetLastError(saved);
    }
    deferredOut.fetch_sub(1, std::memory_order_relaxed);
    if (--state->out == 0) {
      *state = Deferred().back();
      Deferred().pop_back();
    }
  }
}

bool TakeOverDeferredEvent(HANDLE event, DeferredEvent* taken) {
  if (event == nullptr || deferredOut.load(std::memory_order_relaxed) == 0) return false;
  std::lock_guard guard(CompletionLock());
  DeferredState* state = FindDeferredLocked(event);
  if (state == nullptr) return false;
  ++state->generation;
  *taken = DeferLocked(event);
  return true;
}

void PublishCompletion(OVERLAPPED* ov, DWORD error, DWORD count) {
  HANDLE event;
  {
    std::lock_guard guard(CompletionLock());
    event = StoreLocked(ov, error, count);
  }
  CompletionCv().notify_all();
  if (event != nullptr) SetEventKeepingLastError(event);
}

}  // namespace qv::comm

BOOL GetOverlappedResult(HANDLE file, OVERLAPPED* ov, DWORD* transferred, BOOL wait) {
  (void)file;  // a finished request keeps its result even after its handle was closed
  using namespace qv::comm;
  if (ov == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::unique_lock guard(CompletionLock());
  if (ov->Internal == STATUS_PENDING) {
    if (!wait) {
      SetLastError(ERROR_IO_INCOMPLETE);
      return FALSE;
    }
    const HANDLE event = ov->hEvent;
    if (event != nullptr) {
      guard.unlock();
      WaitForSingleObject(event, INFINITE);
      guard.lock();
    }
    // Without an event (or with one that someone else set or closed) wait for the record itself.
    CompletionCv().wait(guard, [ov] { return ov->Internal != STATUS_PENDING; });
  }
  const DWORD error = static_cast<DWORD>(ov->Internal);
  if (transferred != nullptr) *transferred = static_cast<DWORD>(ov->InternalHigh);
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return FALSE;
  }
  return TRUE;
}
