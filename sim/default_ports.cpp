#include "sim/devices.h"
#include "sim/loopback_plug.h"

namespace qv::sim {

const std::vector<VirtualPortEntry>& DefaultVirtualPorts() {
  static const std::vector<VirtualPortEntry> ports = {
      {"vloop0", "virtual loop-back plug", [] { return MakeLoopbackPlug(); }},
  };
  return ports;
}

}  // namespace qv::sim
