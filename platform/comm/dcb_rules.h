// The line settings a port starts with, and which DCBs a port accepts.
#pragma once

#include "platform/comm/comm_api.h"

namespace qv::comm {

// 9600 bps, 8N1, binary, DTR and RTS on, XON/XOFF characters DC1/DC3.
DCB DefaultDcb();

// ERROR_SUCCESS, or ERROR_INVALID_PARAMETER for settings no serial port can run with.
DWORD ValidateDcb(const DCB& dcb);

// Bits on the wire per character: start bit, data bits, parity bit, stop bits (1.5 as 1.5).
double BitsPerCharacter(const DCB& dcb);

}  // namespace qv::comm
