#include "telephony/service/line_devices.h"

#include <algorithm>
#include <set>

#include "platform/comm/comm_api.h"
#include "platform/comm/virtual_port_control.h"
#include "platform/devices/port_source.h"

namespace qv::tapi {
namespace {

// A virtual port is a modem when its device says so in its configuration; an unplugged one is
// not there.
bool IsVirtualModem(const std::string& name) {
  const auto ports = qv::comm::ListVirtualPorts();
  const bool plugged = std::any_of(ports.begin(), ports.end(),
                                   [&](const auto& p) { return p.name == name && p.plugged; });
  if (!plugged) return false;
  std::vector<DWORD> buffer(1024 / sizeof(DWORD), 0);
  auto* config = reinterpret_cast<COMMCONFIG*>(buffer.data());
  DWORD size = DWORD(buffer.size() * sizeof(DWORD));
  return GetDefaultCommConfigA(name.c_str(), config, &size) &&
         config->dwProviderSubType == PST_MODEM;
}

bool IsModemPort(const std::string& name) {
  // CDC-ACM is the USB class of modems: the data ports of phones.
  if (name.rfind("ttyACM", 0) == 0) return true;
  return IsVirtualModem(name);
}

}  // namespace

std::vector<ModemPort> ScanModemPorts() {
  std::vector<ModemPort> modems;
  std::set<std::string> seen;
  for (const auto& entry : qv::devices::CurrentPortSource().Ports()) {
    if (!seen.insert(entry.name).second) continue;  // entries may repeat
    if (IsModemPort(entry.name)) modems.push_back({entry.name, entry.description});
  }
  // The order of discovery is no order: the identifiers of a first scan follow the names.
  std::sort(modems.begin(), modems.end(),
            [](const ModemPort& a, const ModemPort& b) { return a.port < b.port; });
  return modems;
}

std::string LineNameOf(const ModemPort& modem) {
  const std::string what = modem.description.empty() ? std::string("Modem") : modem.description;
  return what + " (" + modem.port + ")";
}

std::vector<DWORD> MergeModemPorts(std::vector<LineDevice>& devices,
                                   const std::vector<ModemPort>& present,
                                   std::vector<DWORD>* gone) {
  std::vector<DWORD> added;
  std::vector<bool> seen(devices.size(), false);
  for (const ModemPort& modem : present) {
    auto it = std::find_if(devices.begin(), devices.end(),
                           [&](const LineDevice& d) { return d.port == modem.port; });
    if (it == devices.end()) {
      devices.push_back({modem.port, LineNameOf(modem), true});
      added.push_back(DWORD(devices.size() - 1));
      seen.push_back(true);
    } else {
      it->present = true;
      seen[std::size_t(it - devices.begin())] = true;
    }
  }
  for (std::size_t i = 0; i < seen.size(); ++i) {
    if (seen[i] || !devices[i].present) continue;
    devices[i].present = false;
    if (gone) gone->push_back(DWORD(i));
  }
  return added;
}

}  // namespace qv::tapi
