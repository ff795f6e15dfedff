// Time: the 32-bit millisecond tick count, local time with milliseconds, sleeping.
#pragma once

#include "platform/types.h"

// Milliseconds since an arbitrary start; wraps around after about 49.7 days.
DWORD GetTickCount();
void GetLocalTime(SYSTEMTIME* time);
void Sleep(DWORD milliseconds);
