#include "platform/sync/message_queue.h"

#include <atomic>
#include <deque>
#include <memory>
#include <unordered_map>

#include "platform/sync/clock.h"
#include "platform/sync/kernel_object.h"
#include "platform/sync/last_error.h"
#include "platform/sync/message_queue_internal.h"

namespace qv::sync {

DWORD WaitForHandles(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds,
                     bool includeMessageQueue);

namespace {

struct MessageQueue {
  std::deque<MSG> messages;
  Waiter* waiter = nullptr;
};

// Guarded by WaitLock().
std::unordered_map<DWORD, std::unique_ptr<MessageQueue>>& Queues() {
  static auto* queues = new std::unordered_map<DWORD, std::unique_ptr<MessageQueue>>;
  return *queues;
}

MessageQueue* CurrentQueueLocked() {
  auto& queues = Queues();
  auto it = queues.find(GetCurrentThreadId());
  return it == queues.end() ? nullptr : it->second.get();
}

// Removes the queue of a thread that did not end through CreateThread's trampoline.
struct QueueOwner {
  bool owns = false;
  ~QueueOwner() {
    if (owns) RemoveCurrentThreadQueue();
  }
};
thread_local QueueOwner queueOwner;

}  // namespace

void EnsureCurrentThreadQueue() {
  std::lock_guard guard(WaitLock());
  auto& queues = Queues();
  const DWORD id = GetCurrentThreadId();
  if (queues.find(id) == queues.end()) {
    queues.emplace(id, std::make_unique<MessageQueue>());
    queueOwner.owns = true;
  }
}

void RemoveCurrentThreadQueue() {
  std::lock_guard guard(WaitLock());
  Queues().erase(GetCurrentThreadId());
  queueOwner.owns = false;
}

std::vector<MSG> TakeMessagesAndRemoveCurrentThreadQueue() {
  std::lock_guard guard(WaitLock());
  std::vector<MSG> left;
  auto& queues = Queues();
  auto it = queues.find(GetCurrentThreadId());
  if (it != queues.end()) {
    left.assign(it->second->messages.begin(), it->second->messages.end());
    queues.erase(it);
  }
  queueOwner.owns = false;
  return left;
}

void SetQueueWaiterLocked(Waiter* waiter) {
  if (MessageQueue* q = CurrentQueueLocked()) q->waiter = waiter;
}

bool CurrentQueueHasInputLocked() {
  MessageQueue* q = CurrentQueueLocked();
  return q != nullptr && !q->messages.empty();
}

}  // namespace qv::sync

using namespace qv::sync;

DWORD GetCurrentThreadId() {
  // Ids are handed out once per process and never reused, so a post never reaches a newer thread
  // that happened to get an ended thread's id.
  static std::atomic<DWORD> nextId{0x1000};
  thread_local const DWORD id = nextId.fetch_add(4, std::memory_order_relaxed);
  return id;
}

BOOL PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
  PendingWakes wakes;  // delivered after the guard is released
  std::lock_guard guard(WaitLock());
  auto& queues = Queues();
  auto it = queues.find(threadId);
  if (it == queues.end()) {
    SetLastError(ERROR_INVALID_THREAD_ID);
    return FALSE;
  }
  MessageQueue& q = *it->second;
  q.messages.push_back(MSG{nullptr, message, wParam, lParam, GetTickCount()});
  if (q.waiter) wakes.AddLocked(q.waiter);
  return TRUE;
}

BOOL PeekMessageA(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags) {
  if (msg == nullptr || hwnd != nullptr || filterMin != 0 || filterMax != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  EnsureCurrentThreadQueue();
  std::lock_guard guard(WaitLock());
  MessageQueue* q = CurrentQueueLocked();
  if (q == nullptr || q->messages.empty()) return FALSE;
  *msg = q->messages.front();
  if (removeFlags & PM_REMOVE) q->messages.pop_front();
  return TRUE;
}

DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                                DWORD milliseconds, DWORD wakeMask) {
  if (waitAll || wakeMask == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  EnsureCurrentThreadQueue();
  return WaitForHandles(count, handles, FALSE, milliseconds, true);
}
