#include "drivertests/baud_scan_run.h"

#include <string>

#include "drivertests/baud_scan.h"
#include "drivertests/port_handle.h"

namespace qv::drivertests {

void RunBaudScanTest(TestHost& host) {
  host.EnableItem(IDC_RUN_BAUDS, false);
  BaudScanHooks hooks;
  hooks.runClosed = [&host](const std::string& run) { host.SetItemText(IDC_BAUDS_STATUS, run); };
  hooks.progress = [&host](DWORD percent) {
    host.SetItemText(IDC_RUN_BAUDS, std::to_string(percent) + " %");
  };
  // The scan belongs to the port it started on. Once the console has closed that port every
  // rate fails for that reason alone, and a list of the rates before the close would blame the
  // driver for refusing the rest.
  const HANDLE scannedPort = hPort.Load();
  const auto portGone = [scannedPort] { return hPort.Load() != scannedPort; };
  hooks.cancelled = [&host, portGone] { return host.Ending() || portGone(); };
  std::string list;
  const bool scanned = ScanBaudRates(scannedPort, kBaudScanLastRate, hooks, &list);
  if (scanned) host.SetItemText(IDC_BAUDS_STATUS, "Test done");
  if (!scanned && !host.Ending() && portGone()) host.SetItemText(IDC_BAUDS_STATUS, "Port closed");
  host.SetItemText(IDC_RUN_BAUDS, "Run Test");
  host.EnableItem(IDC_RUN_BAUDS, true);
  // A scan that could not read the port's state at the start found nothing: no list to show
  // (the error box has said why); nor has one that ended with its host or its port.
  if (scanned) host.Verdict(kBaudScanListHeader + list);
}

}  // namespace qv::drivertests
