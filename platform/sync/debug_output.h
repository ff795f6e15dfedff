// The debug output (the program's trace): each call is one write to standard error, and a copy
// goes to an in-process sink that tests can read.
#pragma once

#include <string>

void OutputDebugStringA(const char* text);

namespace qv::sync {

// Everything written since the last clear, in call order.
std::string DebugOutputCaptured();
void ClearDebugOutputCapture();
// Standard error copy on or off (tests that trace a lot turn it off; the capture stays).
void SetDebugOutputToStderr(bool enabled);

}  // namespace qv::sync
