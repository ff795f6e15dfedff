// Kernel objects behind HANDLEs, and the one wait mechanism they share.
//
// Every waitable object (events, threads, and anything a later layer builds on them) keeps its
// signalled state under one process-wide lock. A waiting thread registers itself with each object
// it waits on and sleeps on its own condition variable, so signalling an object wakes only the
// threads that wait for it. One lock for all wait state keeps "wait for any of N" simple and free
// of lock-order problems; nothing slow ever runs under it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/types.h"

namespace qv::sync {

// The lock that guards every waitable object's state and every thread message queue.
std::mutex& WaitLock();

// A thread that sleeps in a wait; objects that change state notify the waiters registered on them.
//
// A waiter is woken after the wait lock is released (so it does not wake only to block on the
// lock the signaller still holds). Between the two, `wakes` counts the wake-ups in flight: the
// waiter (a thread-local object) is not destroyed until they are done.
struct Waiter {
  std::condition_variable cv;
  std::atomic<int> wakes{0};
  ~Waiter();
};

// Wake-ups collected under the wait lock and delivered once it is released.
class PendingWakes {
 public:
  PendingWakes() = default;
  PendingWakes(const PendingWakes&) = delete;
  PendingWakes& operator=(const PendingWakes&) = delete;
  ~PendingWakes() { Deliver(); }
  void AddLocked(Waiter* w);
  // Call after releasing the wait lock (the destructor does it too).
  void Deliver();

 private:
  Waiter* inline_[4] = {};
  std::vector<Waiter*> more_;
  int count_ = 0;
};

class KernelObject {
 public:
  virtual ~KernelObject() = default;
  // Called once when the last HANDLE to the object is closed. Returns false to report a failure.
  virtual bool OnClose() { return true; }
};

// Something a thread can wait for. All members are guarded by WaitLock().
class Waitable : public KernelObject {
 public:
  explicit Waitable(bool manualReset, bool signalled)
      : manualReset_(manualReset), signalled_(signalled) {}

  // Changes the state and wakes waiters. Take WaitLock() yourself for the *Locked forms.
  void Signal();
  void Reset();
  void SignalLocked();
  // As SignalLocked, but the waiters are woken by `wakes` once the caller released the lock.
  void SignalLocked(PendingWakes& wakes);
  void ResetLocked() { signalled_ = false; }
  bool IsSignalledLocked() const { return signalled_; }

  // A waiter that was satisfied by this object consumes an auto-reset signal.
  void ConsumeLocked() {
    if (!manualReset_) signalled_ = false;
  }
  void AddWaiterLocked(Waiter* w) { waiters_.push_back(w); }
  void RemoveWaiterLocked(Waiter* w);

 private:
  const bool manualReset_;
  bool signalled_;
  std::vector<Waiter*> waiters_;
};

// SetEvent in two steps: the event is signalled now, its waiters are woken by `wakes` once the
// caller let go of its own locks. False (with ERROR_INVALID_HANDLE) if `event` is not an event.
bool SignalEvent(HANDLE event, PendingWakes& wakes);

// Handle table: handles are never reused, so a stale handle fails with ERROR_INVALID_HANDLE.
HANDLE RegisterHandle(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);
// Handles open in the table, of every kind (events, threads, ports, files): what leak checks count.
std::size_t OpenHandleCount();

template <class T>
std::shared_ptr<T> LookupHandleAs(HANDLE handle) {
  return std::dynamic_pointer_cast<T>(LookupHandle(handle));
}

// Wakes a thread that waits in WaitForMultiple with its message queue (used by message_queue.cpp).
Waiter* CurrentThreadWaiter();

// The common wait: any (or all) of the objects, optionally also "the calling thread's message
// queue holds input" (index n). Returns WAIT_OBJECT_0 + i, WAIT_TIMEOUT or WAIT_FAILED.
DWORD WaitForObjects(const std::vector<std::shared_ptr<Waitable>>& objects, bool waitAll,
                     DWORD milliseconds, bool includeMessageQueue);

}  // namespace qv::sync

// Closes any handle: events, threads, ports. ERROR_INVALID_HANDLE for one that is not open.
BOOL CloseHandle(HANDLE handle);
