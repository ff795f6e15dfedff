// A loop-back plug: the host's TX is wired to its RX, RTS to CTS, DTR to DSR and DCD.
#pragma once

#include <memory>

#include "sim/device.h"

namespace qv::sim {

std::unique_ptr<Device> MakeLoopbackPlug();

}  // namespace qv::sim
