// COMMCONFIG and COMMPROP records of a port, with the provider data a modem port carries
// (MODEMSETTINGS / MODEMDEVCAPS with UTF-16 texts placed after the fixed part, located by offset
// and byte size from the start of the record).
#pragma once

#include "platform/comm/comm_api.h"
#include "platform/comm/line.h"
#include "sim/device.h"

namespace qv::comm {

// The bytes a COMMCONFIG for this device needs (header, DCB and provider data).
DWORD CommConfigSize(const sim::DeviceDescription& device);

// Writes the whole record when *size is large enough; sets *size to the bytes needed (on
// ERROR_INSUFFICIENT_BUFFER) or written.
DWORD BuildCommConfig(const DCB& dcb, const sim::DeviceDescription& device, COMMCONFIG* config,
                      DWORD* size);

// Fills a COMMPROP. The caller's wPacketLength counts only when dwProvSpec1 says
// COMMPROP_INITIALIZED; provider characteristics are written only into room the caller gave.
DWORD BuildCommProp(const LineCaps& caps, DWORD inQueue, DWORD outQueue, COMMPROP* prop);

}  // namespace qv::comm
