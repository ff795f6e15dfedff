// The scan of the baud rates a driver keeps: every whole rate from 0 up to a last one is set on
// the open port with SetCommState; a rate counts as kept when the call succeeds and GetCommState
// reads that same rate back. A driver that takes a rate but runs a neighbour instead has not kept
// it. The kept rates come out as runs: "300, 600, 50-115200".
//
// This is the loop alone, without any window: the panel's test and the benchmark both run it.
#pragma once

#include <functional>
#include <string>

#include "platform/types.h"

namespace qv::drivertests {

inline constexpr DWORD kBaudScanLastRate = 2000000;
// Progress is reported every this many rates (101 times in a full scan).
inline constexpr DWORD kBaudScanProgressStep = 20000;

struct BaudScanHooks {
  // A run of kept rates ended before the last rate: "9600" or "50-115200".
  std::function<void(const std::string& run)> runClosed;
  // At every multiple of kBaudScanProgressStep: the rate divided by the step.
  std::function<void(DWORD percent)> progress;
  // Asked at the same points: true ends the scan there (its host is going away).
  std::function<bool()> cancelled;
};

// Scans 0..last on `port`, the handle the scan started with: once that port is closed every call
// fails and the rest counts as refused, and a port opened since is never touched. The DCB read
// at the start is used for every rate, only its rate changes; the port is left at the last rate
// it took. A failing read (at the start, or of a rate just taken) goes to the checked-call box of
// module ToolTests; ignored there, a rate read back counts as not kept and a failed start ends
// the scan with false, as a cancelled scan does.
// *list receives the runs joined by ", " (empty when no rate was kept).
bool ScanBaudRates(HANDLE port, DWORD last, const BaudScanHooks& hooks, std::string* list);

}  // namespace qv::drivertests
