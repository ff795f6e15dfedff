// The names of the line service's codes, for the telephony trace: results, messages, call states
// and call-state details, each as its published constant name. A value without a name comes back
// in a fixed fall-back format, written into a buffer that each function keeps per thread: it stays
// valid until the same function is called again on the same thread, so the results of different
// functions can be used together.
#pragma once

#include "platform/types.h"

// 0 is "SUCCESS"; LINEERR_ values by name; anything else "LINEERR_0x%.8X".
const char* LineErrorName(LONG result);
// Messages 0 to 20 (LINE_ and PHONE_); others "LINE_Callback_0x%dL" (the number in decimal).
const char* LineMessageName(DWORD message);
// The sixteen single-bit states; others "LINECALLSTATE_0x%.8X".
const char* LineCallStateName(DWORD callState);
// The detail's mode name for the state it belongs to, or that state's fall-back format.
const char* LineCallStateDetailName(DWORD callState, DWORD detail);
