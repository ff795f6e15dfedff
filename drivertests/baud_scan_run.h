// The panel's scan of valid baud rates ("Test Valid Baudrates"): the scan of baud_scan.h on the
// console's open port, its progress in the caption of the Run Test button, the latest run of kept
// rates in the status, and the list in a box at the end.
#pragma once

#include "drivertests/host.h"
#include "resources/tests_panel_ids.h"

namespace qv::drivertests {


inline constexpr const char* kBaudScanListHeader =
    "List of valid baudrates found below 2000000 bps:\n";

// The worker's body. The port is left at the last rate it took; the console's speed choice is
// not touched.
void RunBaudScanTest(TestHost& host);

}  // namespace qv::drivertests
