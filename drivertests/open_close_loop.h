// The Open/Close loop: the console's Open/Close command twice per cycle (open and close, or
// close and reopen when a port was open), each through the console's full path, then a sleep of
// the repeat interval; cycles go on while "Loop tests" is checked.
#pragma once

#include <functional>

#include "drivertests/host.h"
#include "platform/types.h"
#include "resources/tests_panel_ids.h"

namespace qv::drivertests {


// The worker's body. interval gives the repeat interval in ms, read at each cycle's sleep.
void RunOpenCloseLoop(TestHost& host, const std::function<DWORD()>& interval);

}  // namespace qv::drivertests
