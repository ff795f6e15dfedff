#include "platform/comm/provider_data.h"

#include <cstring>
#include <string>
#include <vector>

namespace qv::comm {
namespace {

constexpr DWORD kConfigHeader = offsetof(COMMCONFIG, wcProviderData);  // 48
constexpr DWORD kSettingsFixed = offsetof(MODEMSETTINGS, abVariablePortion);
constexpr DWORD kDevCapsFixed = offsetof(MODEMDEVCAPS, abVariablePortion);
constexpr DWORD kPropFixed = offsetof(COMMPROP, wcProvChar);  // 60

// UTF-8 to UTF-16 (characters outside the BMP become U+FFFD), without a terminator.
std::u16string Utf16(const std::string& text) {
  std::u16string out;
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = text[i];
    std::uint32_t cp = c;
    std::size_t len = 1;
    if (c >= 0xF0) {
      cp = 0xFFFD;
      len = 4;
    } else if (c >= 0xE0 && i + 2 < text.size()) {
      cp = ((c & 0x0F) << 12) | ((text[i + 1] & 0x3F) << 6) | (text[i + 2] & 0x3F);
      len = 3;
    } else if (c >= 0xC0 && i + 1 < text.size()) {
      cp = ((c & 0x1F) << 6) | (text[i + 1] & 0x3F);
      len = 2;
    }
    out.push_back(static_cast<char16_t>(cp));
    i += len;
  }
  return out;
}

// Appends a text to a record's variable part; returns {offset, byte size}.
std::pair<DWORD, DWORD> AppendText(std::vector<std::uint8_t>& record, const std::string& text) {
  const std::u16string wide = Utf16(text);
  const DWORD offset = static_cast<DWORD>(record.size());
  const DWORD bytes = static_cast<DWORD>(wide.size() * sizeof(char16_t));
  record.resize(record.size() + bytes);
  std::memcpy(record.data() + offset, wide.data(), bytes);
  return {offset, bytes};
}

std::vector<std::uint8_t> ModemSettings(const sim::DeviceDescription& d) {
  std::vector<std::uint8_t> record(kSettingsFixed);
  MODEMSETTINGS ms{};
  const auto [offset, size] = AppendText(record, d.devSpecific);
  ms.dwActualSize = static_cast<DWORD>(record.size());
  ms.dwRequiredSize = ms.dwActualSize;
  ms.dwDevSpecificOffset = size ? offset : 0;
  ms.dwDevSpecificSize = size;
  ms.dwCallSetupFailTimer = 60;
  ms.dwInactivityTimeout = 0;
  ms.dwSpeakerVolume = 1;             // medium
  ms.dwSpeakerMode = 1;               // on while dialling
  ms.dwPreferredModemOptions = 0x13;  // compression, error control, hardware flow control
  ms.dwNegotiatedModemOptions = 0;
  ms.dwNegotiatedDCERate = 0;  // no call connected
  std::memcpy(record.data(), &ms, kSettingsFixed);
  return record;
}

std::vector<std::uint8_t> ModemDevCaps(const sim::DeviceDescription& d) {
  std::vector<std::uint8_t> record(kDevCapsFixed);
  MODEMDEVCAPS mc{};
  const auto dev = AppendText(record, d.devSpecific);
  const auto manufacturer = AppendText(record, d.manufacturer);
  const auto model = AppendText(record, d.model);
  const auto version = AppendText(record, d.version);
  mc.dwActualSize = static_cast<DWORD>(record.size());
  mc.dwRequiredSize = mc.dwActualSize;
  mc.dwDevSpecificOffset = dev.second ? dev.first : 0;
  mc.dwDevSpecificSize = dev.second;
  mc.dwModemProviderVersion = 0x00010000;
  mc.dwModemManufacturerOffset = manufacturer.first;
  mc.dwModemManufacturerSize = manufacturer.second;
  mc.dwModemModelOffset = model.first;
  mc.dwModemModelSize = model.second;
  mc.dwModemVersionOffset = version.first;
  mc.dwModemVersionSize = version.second;
  mc.dwDialOptions = 0;
  mc.dwCallSetupFailTimer = 255;
  mc.dwInactivityTimeout = 0;
  mc.dwSpeakerVolume = 0x7;
  mc.dwSpeakerMode = 0xF;
  mc.dwModemOptions = 0x13;
  mc.dwMaxDTERate = d.maxDteRate;
  mc.dwMaxDCERate = d.maxDceRate;
  std::memcpy(record.data(), &mc, kDevCapsFixed);
  return record;
}

bool IsModem(const sim::DeviceDescription& d) { return d.providerSubType == PST_MODEM; }

}  // namespace

DWORD CommConfigSize(const sim::DeviceDescription& device) {
  if (!IsModem(device)) return sizeof(COMMCONFIG);
  return kConfigHeader + static_cast<DWORD>(ModemSettings(device).size());
}

DWORD BuildCommConfig(const DCB& dcb, const sim::DeviceDescription& device, COMMCONFIG* config,
                      DWORD* size) {
  if (size == nullptr) return ERROR_INVALID_PARAMETER;
  std::vector<std::uint8_t> provider;
  if (IsModem(device)) provider = ModemSettings(device);
  const DWORD needed =
      provider.empty() ? DWORD{sizeof(COMMCONFIG)} : kConfigHeader + DWORD(provider.size());
  if (config == nullptr || *size < needed) {
    *size = needed;
    return ERROR_INSUFFICIENT_BUFFER;
  }
  std::memset(config, 0, needed);
  config->dwSize = needed;
  config->wVersion = 1;
  config->dcb = dcb;
  config->dwProviderSubType = device.providerSubType;
  if (!provider.empty()) {
    config->dwProviderOffset = kConfigHeader;
    config->dwProviderSize = static_cast<DWORD>(provider.size());
    std::memcpy(reinterpret_cast<std::uint8_t*>(config) + kConfigHeader, provider.data(),
                provider.size());
  }
  *size = needed;
  return ERROR_SUCCESS;
}

DWORD BuildCommProp(const LineCaps& caps, DWORD inQueue, DWORD outQueue, COMMPROP* prop) {
  if (prop == nullptr) return ERROR_INVALID_PARAMETER;
  DWORD room = sizeof(COMMPROP);
  if (prop->dwProvSpec1 == COMMPROP_INITIALIZED) {
    if (prop->wPacketLength < sizeof(COMMPROP)) return ERROR_INSUFFICIENT_BUFFER;
    room = prop->wPacketLength;
  }
  std::vector<std::uint8_t> provider;
  if (IsModem(caps.description)) provider = ModemDevCaps(caps.description);
  const bool withProvider = !provider.empty() && kPropFixed + provider.size() <= room;
  std::memset(prop, 0, sizeof(COMMPROP));
  prop->wPacketLength =
      static_cast<WORD>(withProvider ? kPropFixed + provider.size() : sizeof(COMMPROP));
  prop->wPacketVersion = 2;
  prop->dwServiceMask = SP_SERIALCOMM;
  prop->dwMaxTxQueue = 0;  // no limit
  prop->dwMaxRxQueue = 0;
  prop->dwMaxBaud = BAUD_USER;
  prop->dwProvSubType = caps.description.providerSubType;
  prop->dwProvCapabilities = PCF_PARITY_CHECK | PCF_XONXOFF | PCF_SETXCHAR | PCF_TOTALTIMEOUTS |
                             PCF_INTTIMEOUTS | PCF_SPECIALCHARS;
  prop->dwSettableParams =
      SP_PARITY | SP_BAUD | SP_DATABITS | SP_STOPBITS | SP_HANDSHAKING | SP_PARITY_CHECK;
  if (caps.modemLines) {
    prop->dwProvCapabilities |= PCF_DTRDSR | PCF_RTSCTS | PCF_RLSD;
    prop->dwSettableParams |= SP_RLSD;
  }
  prop->dwSettableBaud = 0x7FFFF | BAUD_USER;  // every standard rate up to 57600, and any other
  prop->wSettableData = DATABITS_5 | DATABITS_6 | DATABITS_7 | DATABITS_8;
  prop->wSettableStopParity = STOPBITS_10 | STOPBITS_15 | STOPBITS_20 | PARITY_NONE | PARITY_ODD |
                              PARITY_EVEN | PARITY_MARK | PARITY_SPACE;
  prop->dwCurrentTxQueue = outQueue;
  prop->dwCurrentRxQueue = inQueue;
  if (withProvider) {
    std::memcpy(reinterpret_cast<std::uint8_t*>(prop) + kPropFixed, provider.data(),
                provider.size());
  }
  return ERROR_SUCCESS;
}

}  // namespace qv::comm
