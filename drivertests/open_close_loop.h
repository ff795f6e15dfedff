// The Open/Close loop: the console's Open/Close command twice per cycle (open and close, or
// close and reopen when a port was open), each through the console's full path, then a sleep of
// the repeat interval; cycles go on while "Loop tests" is checked. A refused open does not end
// the loop: a stress test meant to catch intermittent open failures counts them and goes on.
#pragma once

#include <functional>

#include "drivertests/host.h"
#include "platform/types.h"
#include "resources/tests_panel_ids.h"

namespace qv::drivertests {

// What a run did: the cycles run, the opens tried and how many of those the console refused.
struct OpenCloseLoopResult {
  int cycles = 0;
  int opens = 0;
  int refusedOpens = 0;
};

// A cycle with a refused open sleeps at least this long: a port that is gone refuses at once,
// and a host that shows no box (the headless runner) would otherwise retry as fast as it can.
inline constexpr DWORD kRefusedCycleFloorMs = 50;

// The worker's body. interval gives the repeat interval in ms, read at each cycle's sleep.
OpenCloseLoopResult RunOpenCloseLoop(TestHost& host, const std::function<DWORD()>& interval);

}  // namespace qv::drivertests
