// The diagnostic lines that describe a port's configuration: the engine's start-up dumps and the
// console's default-configuration dump share them.
#include "engine/config_dump.h"

#include <algorithm>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "platform/comm/comm_api.h"

namespace qv::engine {

std::string WideText(const BYTE* base, const BYTE* end, DWORD offset, DWORD sizeInBytes) {
  // Texts the driver points at are shown only as far as they lie inside the query buffer.
  std::string text;
  if (offset >= static_cast<DWORD>(end - base)) return text;
  const BYTE* p = base + offset;
  const std::size_t available = static_cast<std::size_t>(end - p) / 2;
  const std::size_t count = std::min<std::size_t>(sizeInBytes / 2, available);
  for (std::size_t i = 0; i < count; ++i) {
    char16_t c;
    std::memcpy(&c, p + 2 * i, 2);
    if (c == 0) break;
    if (c < 0x80) {
      text += static_cast<char>(c);
    } else if (c < 0x800) {
      text += static_cast<char>(0xC0 | (c >> 6));
      text += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      text += static_cast<char>(0xE0 | (c >> 12));
      text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      text += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return text;
}

// Appends printf output to a dump line, which is at most 1023 characters long.
void AppendFormatted(std::string& line, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
void AppendFormatted(std::string& line, const char* format, ...) {
  char piece[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(piece, sizeof piece, format, args);
  va_end(args);
  line += piece;
  if (line.size() > 1023) line.resize(1023);
}


std::string ModemSettingsText(const BYTE* config, DWORD bufferSize, bool rateInDecimal) {
  COMMCONFIG head{};
  std::memcpy(&head, config, std::min<std::size_t>(bufferSize, sizeof head));
  constexpr DWORD kFixed = offsetof(MODEMSETTINGS, abVariablePortion);
  std::string line;
  if (head.dwProviderSubType != PST_MODEM || bufferSize < kFixed ||
      head.dwProviderOffset > bufferSize - kFixed) {
    return line;
  }
  const BYTE* settingsAt = config + head.dwProviderOffset;
  MODEMSETTINGS ms;
  std::memcpy(&ms, settingsAt, kFixed);
  const std::string devSpecific =
      WideText(settingsAt, config + bufferSize, ms.dwDevSpecificOffset, ms.dwDevSpecificSize);
  AppendFormatted(line,
                  rateInDecimal ? "\r\nMODEMSETTINGS %d/%d %d:'%s' %x %x %x %x %x  %x %d"
                                : "\r\nMODEMSETTINGS %d/%d %d:'%s' %x %x %x %x %x  %x %x",
                  static_cast<int>(ms.dwActualSize), static_cast<int>(ms.dwRequiredSize),
                  static_cast<int>(ms.dwDevSpecificSize), devSpecific.c_str(),
                  ms.dwCallSetupFailTimer, ms.dwInactivityTimeout, ms.dwSpeakerVolume,
                  ms.dwSpeakerMode, ms.dwPreferredModemOptions, ms.dwNegotiatedModemOptions,
                  ms.dwNegotiatedDCERate);
  return line;
}

std::string CommConfigLine(const BYTE* config, DWORD bufferSize) {
  COMMCONFIG head{};
  std::memcpy(&head, config, std::min<std::size_t>(bufferSize, sizeof head));
  std::string line;
  AppendFormatted(line, "COMMCONFIG %x %x", head.wVersion, head.dwProviderSubType);
  line += ModemSettingsText(config, bufferSize, /*rateInDecimal=*/false);
  return line;
}

std::string CommPropLine(const BYTE* properties, DWORD bufferSize) {
  COMMPROP p{};
  std::memcpy(&p, properties, std::min<std::size_t>(bufferSize, offsetof(COMMPROP, wcProvChar)));
  std::string line;
  AppendFormatted(line, "COMMPROP %x %x %x %x  %x %x %x %x  %x %x %x  %x %x", p.wPacketVersion,
                  p.dwServiceMask, p.dwMaxTxQueue, p.dwMaxRxQueue, p.dwMaxBaud, p.dwProvSubType,
                  p.dwProvCapabilities, p.dwSettableParams, p.dwSettableBaud, p.wSettableData,
                  p.wSettableStopParity, p.dwCurrentTxQueue, p.dwCurrentRxQueue);
  constexpr DWORD capsAt = offsetof(COMMPROP, wcProvChar);
  if (p.dwProvSubType == PST_MODEM &&
      bufferSize >= capsAt + offsetof(MODEMDEVCAPS, abVariablePortion)) {
    const BYTE* capsBase = properties + capsAt;
    const BYTE* end = properties + bufferSize;
    MODEMDEVCAPS c;
    std::memcpy(&c, capsBase, offsetof(MODEMDEVCAPS, abVariablePortion));
    const std::string devSpecific =
        WideText(capsBase, end, c.dwDevSpecificOffset, c.dwDevSpecificSize);
    const std::string manufacturer =
        WideText(capsBase, end, c.dwModemManufacturerOffset, c.dwModemManufacturerSize);
    const std::string model = WideText(capsBase, end, c.dwModemModelOffset, c.dwModemModelSize);
    const std::string version =
        WideText(capsBase, end, c.dwModemVersionOffset, c.dwModemVersionSize);
    AppendFormatted(
        line, "\r\nMODEMDEVCAPS %d/%d %d:'%s' %x '%s' '%s' '%s' %x %x %x %x %x %x %d %d",
        static_cast<int>(c.dwActualSize), static_cast<int>(c.dwRequiredSize),
        static_cast<int>(c.dwDevSpecificSize), devSpecific.c_str(), c.dwModemProviderVersion,
        manufacturer.c_str(), model.c_str(), version.c_str(), c.dwDialOptions,
        c.dwCallSetupFailTimer, c.dwInactivityTimeout, c.dwSpeakerVolume, c.dwSpeakerMode,
        c.dwModemOptions, static_cast<int>(c.dwMaxDTERate), static_cast<int>(c.dwMaxDCERate));
  }
  return line;
}

}  // namespace qv::engine
