#include "drivertests/open_close_loop.h"

#include <algorithm>

#include "drivertests/port_handle.h"
#include "platform/sync/clock.h"
#include "resources/tests_panel_ids.h"

namespace qv::drivertests {
namespace {

// The sleep between cycles, in slices, so that a host going away is not kept waiting for up to
// a minute.
void SleepUnlessEnding(TestHost& host, DWORD milliseconds) {
  constexpr DWORD kSlice = 100;
  const DWORD start = GetTickCount();
  for (;;) {
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= milliseconds || host.Ending()) return;
    Sleep(std::min(kSlice, milliseconds - elapsed));
  }
}

}  // namespace

OpenCloseLoopResult RunOpenCloseLoop(TestHost& host, const std::function<DWORD()>& interval) {
  host.EnableItem(IDC_RUN_OPENCLOSE, false);
  OpenCloseLoopResult result;
  do {
    // Each command returns when the console is done, its error box included: in the panel the
    // loop goes on only once the user has dismissed the box of a refused open.
    bool refused = false;
    for (int command = 0; command < 2; ++command) {
      const bool wasOpen = hPort.Load() != INVALID_HANDLE_VALUE;
      host.ConsoleOpenClose();
      if (wasOpen) continue;
      ++result.opens;
      if (hPort.Load() == INVALID_HANDLE_VALUE) {
        ++result.refusedOpens;
        refused = true;
      }
    }
    ++result.cycles;
    const DWORD pause = interval();
    SleepUnlessEnding(host, refused ? std::max(pause, kRefusedCycleFloorMs) : pause);
  } while (!host.Ending() && host.IsChecked(IDC_LOOPTESTS));
  host.EnableItem(IDC_RUN_OPENCLOSE, true);
  return result;
}

}  // namespace qv::drivertests
