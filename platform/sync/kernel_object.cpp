#include "platform/sync/kernel_object.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <unordered_map>

#include "platform/sync/last_error.h"
#include "platform/sync/message_queue_internal.h"

namespace qv::sync {

std::mutex& WaitLock() {
  static std::mutex lock;
  return lock;
}

Waiter::~Waiter() {
  // A signaller that found this waiter registered may still be inside notify_one.
  while (wakes.load(std::memory_order_acquire) != 0) std::this_thread::yield();
}

void PendingWakes::AddLocked(Waiter* w) {
  w->wakes.fetch_add(1, std::memory_order_relaxed);
  if (count_ < 4) {
    inline_[count_++] = w;
  } else {
    more_.push_back(w);
  }
}

void PendingWakes::Deliver() {
  auto wake = [](Waiter* w) {
    w->cv.notify_one();
    w->wakes.fetch_sub(1, std::memory_order_release);
  };
  for (int i = 0; i < count_; ++i) wake(inline_[i]);
  for (Waiter* w : more_) wake(w);
  count_ = 0;
  more_.clear();
}

void Waitable::Signal() {
  PendingWakes wakes;
  std::lock_guard guard(WaitLock());
  SignalLocked(wakes);
}  // the guard is released before `wakes` delivers

void Waitable::SignalLocked(PendingWakes& wakes) {
  signalled_ = true;
  for (Waiter* w : waiters_) wakes.AddLocked(w);
}

void Waitable::Reset() {
  std::lock_guard guard(WaitLock());
  signalled_ = false;
}

void Waitable::SignalLocked() {
  signalled_ = true;
  for (Waiter* w : waiters_) w->cv.notify_one();
}

void Waitable::RemoveWaiterLocked(Waiter* w) {
  auto it = std::find(waiters_.begin(), waiters_.end(), w);
  if (it != waiters_.end()) waiters_.erase(it);
}

namespace {

struct HandleTable {
  std::mutex lock;
  std::unordered_map<std::uintptr_t, std::shared_ptr<KernelObject>> objects;
  std::uintptr_t next = 0x100;
};

HandleTable& Table() {
  static HandleTable* table =
      new HandleTable;  // lives until exit: detached threads may still close
  return *table;
}

}  // namespace

HANDLE RegisterHandle(std::shared_ptr<KernelObject> object) {
  HandleTable& t = Table();
  std::lock_guard guard(t.lock);
  const std::uintptr_t value = t.next;
  t.next += 4;
  t.objects.emplace(value, std::move(object));
  return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle) {
  HandleTable& t = Table();
  std::lock_guard guard(t.lock);
  auto it = t.objects.find(reinterpret_cast<std::uintptr_t>(handle));
  return it == t.objects.end() ? nullptr : it->second;
}

std::size_t OpenHandleCount() {
  HandleTable& t = Table();
  std::lock_guard guard(t.lock);
  return t.objects.size();
}

Waiter* CurrentThreadWaiter() {
  thread_local Waiter waiter;
  return &waiter;
}

DWORD WaitForObjects(const std::vector<std::shared_ptr<Waitable>>& objects, bool waitAll,
                     DWORD milliseconds, bool includeMessageQueue) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
  Waiter* self = CurrentThreadWaiter();
  const DWORD n = static_cast<DWORD>(objects.size());

  std::unique_lock guard(WaitLock());
  for (auto& o : objects) o->AddWaiterLocked(self);
  if (includeMessageQueue) SetQueueWaiterLocked(self);

  DWORD result = WAIT_TIMEOUT;
  for (;;) {
    if (waitAll && n > 0) {
      const bool all = std::all_of(objects.begin(), objects.end(),
                                   [](auto& o) { return o->IsSignalledLocked(); });
      if (all) {
        for (auto& o : objects) o->ConsumeLocked();
        result = WAIT_OBJECT_0;
        break;
      }
    } else {
      DWORD found = n;
      for (DWORD i = 0; i < n; ++i) {
        if (objects[i]->IsSignalledLocked()) {
          found = i;
          break;
        }
      }
      if (found < n) {
        objects[found]->ConsumeLocked();
        result = WAIT_OBJECT_0 + found;
        break;
      }
    }
    if (includeMessageQueue && CurrentQueueHasInputLocked()) {
      result = WAIT_OBJECT_0 + n;
      break;
    }
    if (milliseconds == 0) break;
    if (milliseconds == INFINITE) {
      self->cv.wait(guard);
    } else if (self->cv.wait_until(guard, deadline) == std::cv_status::timeout &&
               Clock::now() >= deadline) {
      // One last look: a signal may have raced with the time-out.
      milliseconds = 0;
    }
  }

  for (auto& o : objects) o->RemoveWaiterLocked(self);
  if (includeMessageQueue) SetQueueWaiterLocked(nullptr);
  return result;
}

}  // namespace qv::sync

BOOL CloseHandle(HANDLE handle) {
  using namespace qv::sync;
  std::shared_ptr<KernelObject> object;
  {
    HandleTable& t = Table();
    std::lock_guard guard(t.lock);
    auto it = t.objects.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it != t.objects.end()) {
      object = std::move(it->second);
      t.objects.erase(it);
    }
  }
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  // OnClose sets its own last error when it fails.
  return object->OnClose() ? TRUE : FALSE;
}
