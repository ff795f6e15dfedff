// Reporting of failures the program does not expect: an Abort/Retry/Ignore box that names the
// calling module and line, the reason and the error value.
//
// Every routine answers true when the user chose Retry (the caller repeats its call) and false
// when the caller shall go on with the failed result. Abort ends the process at once with exit
// code -1. No state is kept between calls; any thread may call them.
#pragma once

#include "platform/types.h"

// sourceFile and reason may be null ("source" and a generic reason are shown then).
bool ReportUnexpectedError(const char* sourceFile, int line, const char* reason, int value);

// The reason is the system's text for the calling thread's last error; the last error is set
// back to that code before returning, so a caller that goes on still finds it.
bool RetryOnLastError(const char* sourceFile, int line);
// For calls that return their error code (0 = success); the thread's last error is not touched.
bool RetryOnErrorCode(const char* sourceFile, int line, DWORD code);
// For telephony line calls: result is the call's negative result.
bool RetryOnTapiError(const char* sourceFile, int line, LONG result);
