// The virtual ports that are always present, each with the simulated device at its far end.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/device.h"

namespace qv::sim {

struct VirtualPortEntry {
  std::string name;    // what the user opens: "vloop0", or "\\.\vloop0"
  std::string source;  // what port discovery shows in parentheses: "virtual loop-back plug"
  std::function<std::unique_ptr<Device>()> makeDevice;
};

// In the order port discovery lists them.
const std::vector<VirtualPortEntry>& DefaultVirtualPorts();

}  // namespace qv::sim
