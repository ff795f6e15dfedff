#include "tools/tests/baud_scan_test.h"

#include <string>

#include "tools/port_handle.h"
#include "tools/tests/baud_scan.h"

namespace qv::tools {

void RunBaudScanTest(TestHost& host) {
  host.EnableItem(kRunBaudScanId, false);
  BaudScanHooks hooks;
  hooks.runClosed = [&host](const std::string& run) { host.SetItemText(kBaudScanStatusId, run); };
  hooks.progress = [&host](DWORD percent) {
    host.SetItemText(kRunBaudScanId, std::to_string(percent) + " %");
  };
  hooks.cancelled = [&host] { return host.Ending(); };
  std::string list;
  const bool scanned = ScanBaudRates([] { return hPort.Load(); }, kBaudScanLastRate, hooks, &list);
  if (scanned) host.SetItemText(kBaudScanStatusId, "Test done");
  host.SetItemText(kRunBaudScanId, "Run Test");
  host.EnableItem(kRunBaudScanId, true);
  // A scan that could not read the port's state at the start found nothing: no list to show
  // (the error box has said why); nor has one that ended with its host.
  if (scanned) host.Verdict(kBaudScanListHeader + list);
}

}  // namespace qv::tools
