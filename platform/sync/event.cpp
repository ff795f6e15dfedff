#include "platform/sync/event.h"

#include <vector>

#include "platform/sync/kernel_object.h"
#include "platform/sync/last_error.h"

namespace qv::sync {
namespace {

class Event final : public Waitable {
 public:
  using Waitable::Waitable;
};

// Resolves handles to waitable objects; false (with ERROR_INVALID_HANDLE) if any is not one.
bool ResolveWaitables(DWORD count, const HANDLE* handles,
                      std::vector<std::shared_ptr<Waitable>>& out) {
  out.reserve(count);
  for (DWORD i = 0; i < count; ++i) {
    auto object = LookupHandleAs<Waitable>(handles[i]);
    if (!object) {
      SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    out.push_back(std::move(object));
  }
  return true;
}

}  // namespace

DWORD WaitForHandles(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds,
                     bool includeMessageQueue) {
  if (count > MAXIMUM_WAIT_OBJECTS || (count > 0 && handles == nullptr) ||
      (count == 0 && !includeMessageQueue)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  std::vector<std::shared_ptr<Waitable>> objects;
  if (!ResolveWaitables(count, handles, objects)) return WAIT_FAILED;
  return WaitForObjects(objects, waitAll != FALSE, milliseconds, includeMessageQueue);
}

bool SignalEvent(HANDLE event, PendingWakes& wakes) {
  auto object = LookupHandleAs<Event>(event);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  std::lock_guard guard(WaitLock());
  object->SignalLocked(wakes);
  return true;
}

}  // namespace qv::sync

using namespace qv::sync;

HANDLE CreateEventA(void* securityAttributes, BOOL manualReset, BOOL initialState,
                    const char* name) {
  if (securityAttributes != nullptr || name != nullptr) {
    SetLastError(ERROR_NOT_SUPPORTED);  // named and secured events have no use here
    return nullptr;
  }
  return RegisterHandle(std::make_shared<Event>(manualReset != FALSE, initialState != FALSE));
}

BOOL SetEvent(HANDLE event) {
  auto object = LookupHandleAs<Event>(event);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  object->Signal();
  return TRUE;
}

BOOL ResetEvent(HANDLE event) {
  auto object = LookupHandleAs<Event>(event);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  object->Reset();
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  return WaitForHandles(1, &handle, FALSE, milliseconds, false);
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) {
  return WaitForHandles(count, handles, waitAll, milliseconds, false);
}
