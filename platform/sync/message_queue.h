// Thread message queues with Win32 semantics.
//
// A thread has a queue once it asks for one (its first PeekMessageA or MsgWaitForMultipleObjects)
// or from its start when CreateThread started it, so posts made right after CreateThread never
// race the new thread's first look at its queue. The queue goes away when the thread ends; posts
// to it then fail with ERROR_INVALID_THREAD_ID.
#pragma once

#include <vector>

#include "platform/types.h"

DWORD GetCurrentThreadId();

BOOL PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam);

// Takes (PM_REMOVE) or looks at (PM_NOREMOVE) the oldest message of the calling thread's queue,
// without waiting. Window and range filters are not supported: hwnd must be null, min and max 0.
BOOL PeekMessageA(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags);

// Waits for any of the objects, or for input in the calling thread's queue: WAIT_OBJECT_0 + count
// means the queue holds a message. Only waitAll FALSE is supported.
DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                                DWORD milliseconds, DWORD wakeMask);

namespace qv::sync {
// Creates the calling thread's queue if it has none yet.
void EnsureCurrentThreadQueue();
// Removes the calling thread's queue: later posts to its id fail. Messages left in it are dropped.
void RemoveCurrentThreadQueue();
// Removes the calling thread's queue and hands back the messages left in it, in posting order, so
// that a thread that owns what its messages carry can release it. Later posts to its id fail.
std::vector<MSG> TakeMessagesAndRemoveCurrentThreadQueue();
}  // namespace qv::sync
