// Threads with Win32 semantics: a thread is a waitable handle that is signalled when it ends.
//
// Linux cannot kill a single thread. TerminateThread therefore "abandons" it: the handle reads as
// ended at once (waiters go on, the exit code is the one given), and the thread itself is left to
// run until its blocking call returns. Code that runs on a thread that may be abandoned asks
// IsCurrentThreadAbandoned() after every blocking call and, when it is, returns without touching
// any shared state, without boxes and without traces.
#pragma once

#include "platform/types.h"

using LPTHREAD_START_ROUTINE = DWORD (*)(LPVOID parameter);

constexpr DWORD STILL_ACTIVE = 259;
constexpr DWORD CREATE_SUSPENDED = 0x4;

// Starts a thread at once (CREATE_SUSPENDED is not supported). The thread has a message queue from
// its first instruction on. The stack size is a hint and may be 0.
HANDLE CreateThread(void* securityAttributes, std::size_t stackSize,
                    LPTHREAD_START_ROUTINE startAddress, LPVOID parameter, DWORD creationFlags,
                    DWORD* threadId);

// Applies the priority as far as the process may (a raise needs privileges on Linux: without them
// the call still succeeds and the thread keeps the normal priority).
BOOL SetThreadPriority(HANDLE thread, int priority);
int GetThreadPriority(HANDLE thread);

BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode);

// The forced end: see above. Fails with ERROR_INVALID_HANDLE for a handle that is not a thread.
BOOL TerminateThread(HANDLE thread, DWORD exitCode);

namespace qv::sync {
// True on a thread that TerminateThread abandoned.
bool IsCurrentThreadAbandoned();
// Threads started by CreateThread that have not returned yet (abandoned ones included).
int RunningThreadCount();
}  // namespace qv::sync
