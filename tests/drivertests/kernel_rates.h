// What a tty driver keeps, asked of the kernel directly (termios2 with BOTHER), to check the
// panel's scan against.
#pragma once

#include <string>

#include "platform/types.h"

namespace qv::test {

// The rates 1..last that the tty at path reads back as set, as the scan lists them: runs
// "a-b" or single rates "a" joined by ", ", a run reaching last always as "a-last".
std::string KernelKeptRates(const std::string& path, DWORD last);

}  // namespace qv::test
