#include "drivertests/baud_scan.h"

#include <cstdio>

#include "platform/comm/comm_api.h"
#include "support/reporting/checked_call.h"

namespace qv::drivertests {
namespace {

constexpr const char* kModule = "ToolTests";

// One run of kept rates as it joins the list: ", 9600" or ", 50-115200".
std::string RunItem(DWORD first, DWORD last, bool single) {
  char text[32];
  if (single) {
    std::snprintf(text, sizeof text, ", %u", first);
  } else {
    std::snprintf(text, sizeof text, ", %u-%u", first, last);
  }
  return text;
}

}  // namespace

bool ScanBaudRates(HANDLE port, DWORD last, const BaudScanHooks& hooks, std::string* list) {
  list->clear();
  DCB dcb;
  if (!qv::support::CheckLastError(kModule, [&] { return GetCommState(port, &dcb); })) {
    return false;
  }
  std::string result;
  DWORD runStart = 0;  // 0: no run open (rate 0 never opens one)
  for (DWORD rate = 0;; ++rate) {
    dcb.BaudRate = rate;
    bool kept = false;
    if (SetCommState(port, &dcb)) {
      DCB readBack;
      kept = qv::support::CheckLastError(kModule, [&] { return GetCommState(port, &readBack); }) &&
             readBack.BaudRate == rate;
    }
    if (kept) {
      if (runStart == 0) runStart = rate;
    } else if (runStart != 0) {
      const std::string item = RunItem(runStart, rate - 1, rate == runStart + 1);
      if (hooks.runClosed) hooks.runClosed(item.substr(2));
      result += item;
      runStart = 0;
    }
    if (rate % kBaudScanProgressStep == 0) {
      if (hooks.progress) hooks.progress(rate / kBaudScanProgressStep);
      if (hooks.cancelled && hooks.cancelled()) return false;
    }
    if (rate == last) break;
  }
  // A run still open at the end reaches the last rate (shown only in the list).
  if (runStart != 0) result += RunItem(runStart, last, false);
  if (result.size() >= 2) *list = result.substr(2);
  return true;
}

}  // namespace qv::drivertests
