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
  // The scan belongs to the port it started on. Once the console has closed that port every
  // rate fails for that reason alone, and a list of the rates before the close would blame the
  // driver for refusing the rest.
  const HANDLE scannedPort = hPort.Load();
  const auto portGone = [scannedPort] { return hPort.Load() != scannedPort; };
  hooks.cancelled = [&host, portGone] { return host.Ending() || portGone(); };
  std::string list;
  const bool scanned = ScanBaudRates([] { return hPort.Load(); }, kBaudScanLastRate, hooks, &list);
  if (scanned) host.SetItemText(kBaudScanStatusId, "Test done");
  if (!scanned && !host.Ending() && portGone()) host.SetItemText(kBaudScanStatusId, "Port closed");
  host.SetItemText(kRunBaudScanId, "Run Test");
  host.EnableItem(kRunBaudScanId, true);
  // A scan that could not read the port's state at the start found nothing: no list to show
  // (the error box has said why); nor has one that ended with its host or its port.
  if (scanned) host.Verdict(kBaudScanListHeader + list);
}

}  // namespace qv::tools
