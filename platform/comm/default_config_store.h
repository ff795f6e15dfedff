// The per-port default configuration, kept per user: one small file per port name in
// $XDG_CONFIG_HOME/QUELM/ (or $HOME/.config/QUELM/), holding the COMMCONFIG record as it was set.
#pragma once

#include <string>

#include "platform/comm/comm_api.h"

namespace qv::comm {

// The folder the files live in (not created).
std::string DefaultConfigFolder();

// The stored COMMCONFIG bytes of a device; false when there are none or they are damaged.
bool LoadDefaultConfig(const std::string& device, std::string* bytes);
// Stores the record (replaces the file as a whole). Returns a Win32 error code.
DWORD SaveDefaultConfig(const std::string& device, const void* config, DWORD size);

// The DCB a port opens with: the stored default when there is one, else the built-in default.
DCB OpeningDcb(const std::string& device);

}  // namespace qv::comm
