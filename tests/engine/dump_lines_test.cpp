// The diagnostic lines StartComm writes from the raw configuration buffers.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/comm_internal.h"
#include "platform/comm/comm_api.h"

namespace {

void PutWide(std::vector<BYTE>& buffer, std::size_t at, const std::u16string& text) {
  std::memcpy(buffer.data() + at, text.data(), text.size() * 2);
}

TEST(DumpLines, CommConfigOfAModemCarriesItsSettings) {
  std::vector<BYTE> buffer(1076, 0);
  auto* config = reinterpret_cast<COMMCONFIG*>(buffer.data());
  config->wVersion = 1;
  config->dwProviderSubType = PST_MODEM;
  config->dwProviderOffset = 48;
  auto* ms = reinterpret_cast<MODEMSETTINGS*>(buffer.data() + 48);
  ms->dwActualSize = 60;
  ms->dwRequiredSize = 60;
  ms->dwDevSpecificOffset = 44;
  ms->dwDevSpecificSize = 8;  // four characters
  ms->dwCallSetupFailTimer = 0x3c;
  ms->dwInactivityTimeout = 0;
  ms->dwSpeakerVolume = 1;
  ms->dwSpeakerMode = 1;
  ms->dwPreferredModemOptions = 0x37e;
  ms->dwNegotiatedModemOptions = 0x10;
  ms->dwNegotiatedDCERate = 115200;
  PutWide(buffer, 48 + 44, u"Xy\u00e9zTAIL");
  EXPECT_EQ(qv::engine::CommConfigLine(buffer.data(), 1076),
            "COMMCONFIG 1 6\r\nMODEMSETTINGS 60/60 8:'Xy\xc3\xa9z' 3c 0 1 1 37e  10 1c200");

  config->dwProviderSubType = PST_RS232;
  EXPECT_EQ(qv::engine::CommConfigLine(buffer.data(), 1076), "COMMCONFIG 1 1");
}

TEST(DumpLines, OffsetsOutsideTheBufferAreNotFollowed) {
  std::vector<BYTE> buffer(1076, 0);
  auto* config = reinterpret_cast<COMMCONFIG*>(buffer.data());
  config->dwProviderSubType = PST_MODEM;
  config->dwProviderOffset = 0xFFFFFF00u;
  EXPECT_EQ(qv::engine::CommConfigLine(buffer.data(), 1076), "COMMCONFIG 0 6");

  // Settings inside, but their text pointing far away or running past the end.
  config->dwProviderOffset = 1076 - 44;
  auto* ms = reinterpret_cast<MODEMSETTINGS*>(buffer.data() + 1076 - 44);
  ms->dwDevSpecificOffset = 0x7FFFFFF0u;
  ms->dwDevSpecificSize = 0x100000;
  EXPECT_EQ(qv::engine::CommConfigLine(buffer.data(), 1076),
            "COMMCONFIG 0 6\r\nMODEMSETTINGS 0/0 1048576:'' 0 0 0 0 0  0 0");
  // The text overlaps the last field and ends with the buffer.
  ms->dwDevSpecificOffset = 40;
  buffer[1076 - 4] = 'A';
  buffer[1076 - 2] = 'B';
  EXPECT_EQ(qv::engine::CommConfigLine(buffer.data(), 1076),
            "COMMCONFIG 0 6\r\nMODEMSETTINGS 0/0 1048576:'AB' 0 0 0 0 0  0 420041");
}

TEST(DumpLines, CommPropOfAModemCarriesItsCapabilitiesAndTexts) {
  std::vector<BYTE> buffer(1164, 0);
  auto* prop = reinterpret_cast<COMMPROP*>(buffer.data());
  prop->wPacketLength = 1164;
  prop->wPacketVersion = 2;
  prop->dwServiceMask = SP_SERIALCOMM;
  prop->dwMaxTxQueue = 0;
  prop->dwMaxRxQueue = 0;
  prop->dwMaxBaud = BAUD_USER;
  prop->dwProvSubType = PST_RS232;
  prop->dwProvCapabilities = 0xff;
  prop->dwSettableParams = 0x7f;
  prop->dwSettableBaud = 0x1006ffff;
  prop->wSettableData = 0xf;
  prop->wSettableStopParity = 0x1f07;
  prop->dwCurrentTxQueue = 4096;
  prop->dwCurrentRxQueue = 4096;
  EXPECT_EQ(qv::engine::CommPropLine(buffer.data(), 1164),
            "COMMPROP 2 1 0 0  10000000 1 ff 7f  1006ffff f 1f07  1000 1000");

  prop->dwProvSubType = PST_MODEM;
  auto* caps = reinterpret_cast<MODEMDEVCAPS*>(buffer.data() + 60);
  caps->dwActualSize = 100;
  caps->dwRequiredSize = 100;
  caps->dwDevSpecificOffset = 76;
  caps->dwDevSpecificSize = 4;
  caps->dwModemProviderVersion = 0x10000;
  caps->dwModemManufacturerOffset = 80;
  caps->dwModemManufacturerSize = 6;
  caps->dwModemModelOffset = 86;
  caps->dwModemModelSize = 4;
  caps->dwModemVersionOffset = 90;
  caps->dwModemVersionSize = 200;  // runs on into zeros: ends at the first NUL
  caps->dwDialOptions = 0x3c0;
  caps->dwMaxDTERate = 115200;
  caps->dwMaxDCERate = 9600;
  PutWide(buffer, 60 + 76, u"ds");
  PutWide(buffer, 60 + 80, u"Mfr");
  PutWide(buffer, 60 + 86, u"M1");
  PutWide(buffer, 60 + 90, u"v2");
  EXPECT_EQ(qv::engine::CommPropLine(buffer.data(), 1164),
            "COMMPROP 2 1 0 0  10000000 6 ff 7f  1006ffff f 1f07  1000 1000"
            "\r\nMODEMDEVCAPS 100/100 4:'ds' 10000 'Mfr' 'M1' 'v2' 3c0 0 0 0 0 0 115200 9600");
}

}  // namespace
