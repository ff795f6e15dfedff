// Events and waits with Win32 semantics.
#pragma once

#include "platform/types.h"

// Creates an unnamed event (security attributes and name must be null).
HANDLE CreateEventA(void* securityAttributes, BOOL manualReset, BOOL initialState,
                    const char* name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);

// Waits for one object (event or thread). WAIT_OBJECT_0, WAIT_TIMEOUT or WAIT_FAILED.
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
// Waits for any (waitAll FALSE: lowest signalled index wins) or all of up to 64 objects.
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds);
