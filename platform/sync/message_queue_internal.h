// Between the wait mechanism and the thread message queues. Call with WaitLock() held.
#pragma once

#include "platform/sync/kernel_object.h"

namespace qv::sync {

// Registers (or clears) the waiter that sleeps until the calling thread's queue gets input.
void SetQueueWaiterLocked(Waiter* waiter);
// True when the calling thread has a queue and it holds at least one message.
bool CurrentQueueHasInputLocked();

}  // namespace qv::sync
