// Publishing a request's result into its OVERLAPPED record, and reading it back.
//
// The record's Internal/InternalHigh fields are written by whichever thread completes the request
// and read by the thread that asks for the result, so both sides go through one small lock; the
// request's event is set after the fields are written.
//
// The event may also be set a moment after the result is stored (the driver core does so once its
// own lock is let go). In that moment the caller may already see the result, through
// GetOverlappedResult or a call that returned, and issue its next request with the same record.
// A set that was put off must then not land on the next request, which would look complete
// while it is still pending. So every set put off is registered here: issuing a request on the
// record cancels it (the new request resets the event anyway), and a call that returns a
// completed request can take the set over, to have it done before it returns.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/types.h"

namespace qv::comm {

// An event set put off; it is done by SetDeferredEvents unless cancelled meanwhile.
struct DeferredEvent {
  HANDLE event = nullptr;
  std::uint64_t generation = 0;
};

// Marks the record pending and resets its event (what a request does when it is issued); a set of
// its event still put off from an earlier request is cancelled.
void MarkPending(OVERLAPPED* ov);
// Stores the result, wakes result waiters and sets the record's event.
void PublishCompletion(OVERLAPPED* ov, DWORD error, DWORD count);
// The same with the set of the event put off: GetOverlappedResult sees the result at once. The
// event is taken before the result is stored: once it is, the caller may free the record.
DeferredEvent StoreCompletionResultDeferred(OVERLAPPED* ov, DWORD error, DWORD count);
// Sets the events of the sets not cancelled meanwhile.
void SetDeferredEvents(const std::vector<DeferredEvent>& sets);
// When a set of `event` is put off (by any thread), cancels it and returns a new one in `*taken`
// for the caller to do.
bool TakeOverDeferredEvent(HANDLE event, DeferredEvent* taken);

}  // namespace qv::comm
