// How received bytes are shown in the log: one character per byte as text, or hexadecimal cells.
#pragma once

#include <QString>

#include "platform/types.h"

namespace qv::console {

// Text mode: each byte as the character of the ANSI code page (Windows-1252), except that a zero
// byte becomes the byte 0xD8 (the character with code 216).
QString ReceivedText(const BYTE* data, DWORD count);
// Hex mode: "<", the high and the low nibble in upper case, ">" and a TAB for every byte.
QString HexCells(const BYTE* data, DWORD count);

}  // namespace qv::console
