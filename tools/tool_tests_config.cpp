// The configuration tests of the panel: the SetConfig round trip and the valid baud rates scan.
#include "tools/tests/baud_scan_test.h"
#include "tools/tests/set_config_test.h"
#include "tools/tool_tests.h"

void CToolTests::OnRunSetConfig() { qv::tools::RunSetConfigTest(Host()); }

void CToolTests::OnRunBaudScan() {
  StartWorker([](qv::tools::TestHost& host) { qv::tools::RunBaudScanTest(host); });
}
