#include "platform/devices/system_ports.h"
#include "sim/devices.h"

namespace qv::devices {

std::vector<PortEntry> VirtualPortEntries() {
  std::vector<PortEntry> ports;
  for (const sim::VirtualPortEntry& port : sim::DefaultVirtualPorts()) {
    PortEntry entry;
    entry.name = port.name;
    entry.source = port.source;
    // A virtual device describes itself like a modem does: by its model text.
    if (port.makeDevice) {
      if (auto device = port.makeDevice()) entry.description = device->Describe().model;
    }
    if (FitSourceToLabel(entry.name, entry.source)) ports.push_back(std::move(entry));
  }
  return ports;
}

}  // namespace qv::devices
