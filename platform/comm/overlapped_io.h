// Publishing a request's result into its OVERLAPPED record, and reading it back.
//
// The record's Internal/InternalHigh fields are written by whichever thread completes the request
// and read by the thread that asks for the result, so both sides go through one small lock; the
// request's event is set after the fields are written.
#pragma once

#include "platform/types.h"

namespace qv::comm {

// Marks the record pending and resets its event (what a request does when it is issued).
void MarkPending(OVERLAPPED* ov);
// Stores the result, wakes result waiters and sets the record's event.
void PublishCompletion(OVERLAPPED* ov, DWORD error, DWORD count);
// The same in two steps: the result (GetOverlappedResult sees it at once) and the record's event,
// returned to be set with SetCompletionEvent, perhaps a moment later. The event is taken before
// the result is stored: once it is, the caller may free the record.
HANDLE StoreCompletionResult(OVERLAPPED* ov, DWORD error, DWORD count);
void SetCompletionEvent(HANDLE event);

}  // namespace qv::comm
