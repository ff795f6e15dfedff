// The diagnostic lines that describe a port's configuration, built from raw query buffers.
//
// Offsets and sizes inside the records come from the driver: texts are shown only as far as they
// lie inside the buffer, so a driver with broken provider data cannot make a dump read past it.
#pragma once

#include <string>

#include "platform/types.h"

namespace qv::engine {

// Appends printf output to a dump line, which is at most 1023 characters long.
void AppendFormatted(std::string& line, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// A UTF-16 text of sizeInBytes / 2 characters at offset from base (up to a terminator), as UTF-8,
// as far as it lies before end.
std::string WideText(const BYTE* base, const BYTE* end, DWORD offset, DWORD sizeInBytes);

// "\r\nMODEMSETTINGS ..." for a modem port's COMMCONFIG, empty for any other port. The last
// field, the negotiated rate, is hexadecimal in the start-up dump and decimal in the defaults dump.
std::string ModemSettingsText(const BYTE* config, DWORD bufferSize, bool rateInDecimal);

// "COMMCONFIG ..." and "COMMPROP ..." lines of StartComm.
std::string CommConfigLine(const BYTE* config, DWORD bufferSize);
std::string CommPropLine(const BYTE* properties, DWORD bufferSize);

}  // namespace qv::engine
