#include "sim/devices.h"
#include "sim/loopback_plug.h"
#include "sim/phone.h"

namespace qv::sim {

const std::vector<VirtualPortEntry>& DefaultVirtualPorts() {
  static const std::vector<VirtualPortEntry> ports = {
      {"vloop0", "virtual loop-back plug", [] { return MakeLoopbackPlug(); }},
      {"vphone0", "virtual phone", [] { return MakePhone(); }},
  };
  return ports;
}

}  // namespace qv::sim
