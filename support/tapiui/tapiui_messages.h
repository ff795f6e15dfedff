// The telephony error texts library (loaded at run time as "TAPIUI.DLL").
//
// Its message table is keyed by message numbers derived from telephony results: 0xE000 + n for
// the line error 0x80000000 + n, 0xF000 + n for the phone error 0x90000000 + n, and the low 16
// bits for the small negative results (-1 is 0xFFFF).
#pragma once

#include <cstdint>

extern "C" {

// Copies the text of message messageId, ending in CR LF, into buffer (size characters including
// the terminator). Returns the number of characters copied without the terminator; 0 when the
// table has no such message or the text does not fit.
using TapiUiFormatMessageFn = std::uint32_t (*)(std::uint32_t messageId, char* buffer,
                                                std::uint32_t size);
std::uint32_t TapiUiFormatMessage(std::uint32_t messageId, char* buffer, std::uint32_t size);
}

// Name under which the library exports the lookup.
inline constexpr const char* kTapiUiFormatMessageName = "TapiUiFormatMessage";
