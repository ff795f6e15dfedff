#include "platform/comm/overlapped_io.h"

#include <condition_variable>
#include <mutex>

#include "platform/comm/comm_api.h"
#include "platform/sync/event.h"
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

}  // namespace

void MarkPending(OVERLAPPED* ov) {
  {
    std::lock_guard guard(CompletionLock());
    ov->Internal = STATUS_PENDING;
    ov->InternalHigh = 0;
  }
  if (ov->hEvent != nullptr) {
    const DWORD saved = GetLastError();
    ResetEvent(ov->hEvent);
    SetLastError(saved);
  }
}

HANDLE StoreCompletionResult(OVERLAPPED* ov, DWORD error, DWORD count) {
  // The record is not touched once the result is in it: a caller that sees the result may free
  // the record at once (the event is taken before).
  HANDLE event = nullptr;
  {
    std::lock_guard guard(CompletionLock());
    event = ov->hEvent;
    ov->Internal = error;
    ov->InternalHigh = count;
  }
  CompletionCv().notify_all();
  return event;
}

void SetCompletionEvent(HANDLE event) {
  if (event == nullptr) return;
  // The caller may have closed the event already (handles are never reused); that is its
  // business, not a failure here.
  const DWORD saved = GetLastError();
  SetEvent(event);
  SetLastError(saved);
}

void PublishCompletion(OVERLAPPED* ov, DWORD error, DWORD count) {
  SetCompletionEvent(StoreCompletionResult(ov, error, count));
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
