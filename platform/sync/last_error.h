// The calling thread's last error in Win32 numbering, the errno mapping and the error texts.
#pragma once

#include <string>

#include "platform/types.h"

DWORD GetLastError();
void SetLastError(DWORD code);

namespace qv::sync {

// Maps an errno value to its Win32 code. The one table of the layer.
DWORD Win32ErrorFromErrno(int error);
// Sets the last error from errno (or the given value) and returns the Win32 code.
DWORD SetLastErrorFromErrno(int error);

// The system text for a code, ending in "\r\n" as the Win32 message service gives it; empty when
// the layer has no text for the code (callers then show the code itself).
std::string SystemErrorText(DWORD code);

}  // namespace qv::sync
