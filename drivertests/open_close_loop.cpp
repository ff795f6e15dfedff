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

void RunOpenCloseLoop(TestHost& host, const std::function<DWORD()>& interval) {
  host.EnableItem(IDC_RUN_OPENCLOSE, false);
  bool refused = false;
  do {
    // Each command returns when the console is done, its error box included.
    for (int command = 0; command < 2; ++command) {
      const bool wasOpen = hPort.Load() != INVALID_HANDLE_VALUE;
      host.ConsoleOpenClose();
      if (!wasOpen && hPort.Load() == INVALID_HANDLE_VALUE) refused = true;
    }
    SleepUnlessEnding(host, interval());
    // A refused open ends the loop with its cycle: looping on would put the console's error box
    // up again at once, every time, and the box leaves no moment to uncheck "Loop tests".
  } while (!refused && !host.Ending() && host.IsChecked(IDC_LOOPTESTS));
  host.EnableItem(IDC_RUN_OPENCLOSE, true);
}

}  // namespace qv::drivertests
