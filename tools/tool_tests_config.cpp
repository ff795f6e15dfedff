// The configuration tests of the panel: the SetConfig round trip and the valid baud rates scan.
#include "drivertests/baud_scan_run.h"
#include "drivertests/set_config.h"
#include "tools/tool_tests.h"

void CToolTests::OnRunSetConfig() { qv::drivertests::RunSetConfigTest(Host()); }

void CToolTests::OnRunBaudScan() {
  StartWorker([](qv::drivertests::TestHost& host) { qv::drivertests::RunBaudScanTest(host); });
}
