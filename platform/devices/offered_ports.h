// The ports that a port list offers: every port of the current source that has a name, its
// source shortened to fit a list label, each label once, in the list's case-insensitive order.
// The console's port combo box and the headless runner's "ports" command show these.
#pragma once

#include <vector>

#include "platform/devices/port_entry.h"

namespace qv::devices {

std::vector<PortEntry> OfferedPorts();

}  // namespace qv::devices
