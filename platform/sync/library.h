// Run-time binding of optional libraries, and the program's own path.
//
// A Win32 name "X.dll" stands for the shared library "lib" + lower-case X + ".so" (TAPI32.DLL ->
// libtapi32.so). It is looked for in the program's own folder first, then along the dynamic
// loader's usual path; never in the current directory.
#pragma once

#include <string>

#include "platform/types.h"

using HMODULE = void*;
using FARPROC = void (*)();

HMODULE LoadLibraryA(const char* name);
FARPROC GetProcAddress(HMODULE module, const char* procName);
BOOL FreeLibrary(HMODULE module);

// The full path of the running executable (module must be null). Returns the length copied, 0 on
// failure; a path that does not fit is cut and ERROR_INSUFFICIENT_BUFFER set, as Win32 does.
DWORD GetModuleFileNameA(HMODULE module, char* fileName, DWORD size);

namespace qv::sync {
// "TAPI32.DLL" -> "libtapi32.so"; a name without ".dll" gets "lib" + lower-case name + ".so".
std::string SharedLibraryFileName(const std::string& win32Name);
// The folder that holds the running executable, without a trailing '/'.
std::string ExecutableFolder();
}  // namespace qv::sync
