#include "drivertests/set_config.h"

#include <functional>
#include <vector>

#include "drivertests/port_handle.h"
#include "platform/comm/comm_api.h"
#include "platform/comm/port_names.h"

namespace qv::drivertests {
namespace {

// One route: read, halve, set, read back, compare, put the old rate back.
bool RoundTrip(const std::function<BOOL(COMMCONFIG*, DWORD*)>& get,
               const std::function<BOOL(const COMMCONFIG*, DWORD)>& set) {
  std::vector<DWORD> words(kCommConfigBufferSize / sizeof(DWORD), 0);
  auto* config = reinterpret_cast<COMMCONFIG*>(words.data());
  DWORD size = kCommConfigBufferSize;
  // A configuration that cannot be read has not kept anything (the zeroed buffer would
  // otherwise "keep" its half of 0).
  if (!get(config, &size)) return false;
  const DWORD original = config->dcb.BaudRate;
  const DWORD half = original >> 1;
  config->dcb.BaudRate = half;
  set(config, size);  // judged by the read-back alone
  size = kCommConfigBufferSize;
  if (!get(config, &size)) return false;
  const bool kept = config->dcb.BaudRate == half;
  // The rate read at first, not twice the half: an odd rate comes back whole. It goes back also
  // when the driver kept some other rate instead: that one was never the user's.
  config->dcb.BaudRate = original;
  const bool restored = set(config, size) != FALSE;
  return kept && restored;
}

}  // namespace

std::string SetConfigDeviceName(const std::string& portText) {
  std::string name = portText.substr(0, qv::comm::kPortNameSize - 1);
  return qv::comm::WithoutDevicePrefix(name);
}

std::string SetConfigRoundTrip(const std::string& device, HANDLE port) {
  const char* name = device.c_str();
  const bool defaults = RoundTrip(
      [name](COMMCONFIG* c, DWORD* size) { return GetDefaultCommConfigA(name, c, size); },
      [name](const COMMCONFIG* c, DWORD size) { return SetDefaultCommConfigA(name, c, size); });
  if (!defaults) return kSetDefaultCommConfigFailed;
  const bool current =
      RoundTrip([port](COMMCONFIG* c, DWORD* size) { return GetCommConfig(port, c, size); },
                [port](const COMMCONFIG* c, DWORD size) { return SetCommConfig(port, c, size); });
  return current ? kSetConfigSuccess : kSetCommConfigFailed;
}

void RunSetConfigTest(TestHost& host) {
  host.SetItemText(IDC_SETCONFIG_STATUS, "Running");
  const std::string device = SetConfigDeviceName(host.ConsolePortText());
  host.SetItemText(IDC_SETCONFIG_STATUS, SetConfigRoundTrip(device, hPort));
}

}  // namespace qv::drivertests
