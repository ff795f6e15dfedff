// The line service: its devices and records, its answers to bad handles and arguments, the
// pass-through call with its port handle, a port in use, and modem ports that come and go.
#include <QCoreApplication>
#include <cstring>
#include <memory>

#include "platform/comm/comm_api.h"
#include "platform/comm/virtual_port_control.h"
#include "platform/sync/kernel_object.h"
#include "sim/phone.h"
#include "tests/telephony/service/service_fixture.h"

namespace qv::test {
namespace {

TEST_F(LineServiceTest, ThePhoneIsALineDeviceAndItsRecordsComeInTwoSteps) {
  const int id = DeviceOf("vphone0");
  ASSERT_GE(id, 0);
  EXPECT_EQ(DeviceOf("vloop0"), -1);  // a plug, no modem
  const HLINE line = OpenLine(DWORD(id));

  // VARSTRING: the fixed part alone tells the size needed; the enlarged one holds the name.
  std::vector<DWORD> words(16, 0xAAAAAAAAu);
  auto* vs = reinterpret_cast<VARSTRING*>(words.data());
  vs->dwTotalSize = 24;
  ASSERT_EQ(lineGetID(line, 0, 0, LINECALLSELECT_LINE, vs, "comm/datamodem/portname"), 0);
  EXPECT_EQ(vs->dwNeededSize, 24u + 8u);  // "vphone0" and its terminator
  EXPECT_EQ(vs->dwUsedSize, 24u);
  EXPECT_EQ(vs->dwStringSize, 0u);
  EXPECT_EQ(words[6], 0xAAAAAAAAu);  // nothing written beyond the record
  vs->dwTotalSize = vs->dwNeededSize;
  ASSERT_EQ(lineGetID(line, 0, 0, LINECALLSELECT_LINE, vs, "COMM/DATAMODEM/PORTNAME"), 0);
  EXPECT_EQ(vs->dwUsedSize, 32u);
  EXPECT_EQ(vs->dwStringFormat, STRINGFORMAT_ASCII);
  EXPECT_STREQ(reinterpret_cast<const char*>(words.data()) + vs->dwStringOffset, "vphone0");
  // Smaller than the fixed part: too small, with the size needed where the record has room.
  vs->dwTotalSize = 8;
  vs->dwNeededSize = 0;
  EXPECT_EQ(lineGetID(line, 0, 0, LINECALLSELECT_LINE, vs, "comm"), LINEERR_STRUCTURETOOSMALL);
  EXPECT_EQ(vs->dwNeededSize, 32u);
  vs->dwTotalSize = 4;
  vs->dwNeededSize = 0;
  EXPECT_EQ(lineGetID(line, 0, 0, LINECALLSELECT_LINE, vs, "comm"), LINEERR_STRUCTURETOOSMALL);
  EXPECT_EQ(vs->dwNeededSize, 0u);

  // LINEDEVCAPS: 240 bytes for version 1.4, 236 before it.
  std::vector<DWORD> caps(256, 0);
  auto* dc = reinterpret_cast<LINEDEVCAPS*>(caps.data());
  dc->dwTotalSize = 240;
  ASSERT_EQ(lineGetDevCaps(app_, DWORD(id), TAPI_VERSION_1_4, 0, dc), 0);
  EXPECT_GT(dc->dwNeededSize, 240u);
  EXPECT_EQ(dc->dwUsedSize, 240u);
  EXPECT_EQ(dc->dwLineNameSize, 0u);
  EXPECT_EQ(dc->dwMediaModes, LINEMEDIAMODE_DATAMODEM);
  EXPECT_EQ(dc->dwBearerModes, LINEBEARERMODE_PASSTHROUGH);
  dc->dwTotalSize = dc->dwNeededSize;
  ASSERT_EQ(lineGetDevCaps(app_, DWORD(id), TAPI_VERSION_1_4, 0, dc), 0);
  EXPECT_EQ(dc->dwUsedSize, dc->dwNeededSize);
  EXPECT_STREQ(reinterpret_cast<const char*>(caps.data()) + dc->dwLineNameOffset,
               "QUELM Virtual Phone (vphone0)");
  EXPECT_EQ(dc->dwLineNameSize, sizeof "QUELM Virtual Phone (vphone0)");
  dc->dwTotalSize = 236;
  EXPECT_EQ(lineGetDevCaps(app_, DWORD(id), TAPI_VERSION_1_4, 0, dc), LINEERR_STRUCTURETOOSMALL);
  EXPECT_EQ(lineGetDevCaps(app_, DWORD(id), 0x00010003, 0, dc), 0);
  EXPECT_EQ(lineClose(line), 0);
}

TEST_F(LineServiceTest, BadHandlesAndArgumentsGetTheirCodes) {
  const int id = DeviceOf("vphone0");
  ASSERT_GE(id, 0);
  DWORD version = 0;
  LINEEXTENSIONID ext{};
  HLINE line = 0;
  EXPECT_EQ(lineNegotiateAPIVersion(0xDEAD, DWORD(id), 0x10004, 0x10004, &version, &ext),
            LINEERR_INVALAPPHANDLE);
  EXPECT_EQ(lineNegotiateAPIVersion(app_, count_, 0x10004, 0x10004, &version, &ext),
            LINEERR_BADDEVICEID);
  EXPECT_EQ(lineNegotiateAPIVersion(app_, DWORD(id), 0x20000, 0x30000, &version, &ext),
            LINEERR_INCOMPATIBLEAPIVERSION);
  EXPECT_EQ(lineNegotiateAPIVersion(app_, DWORD(id), 0x10000, 0x20000, &version, &ext), 0);
  EXPECT_EQ(version, TAPI_VERSION_1_4);
  EXPECT_EQ(lineNegotiateAPIVersion(app_, DWORD(id), 0x10004, 0x10004, nullptr, &ext),
            LINEERR_INVALPOINTER);
  EXPECT_EQ(lineOpen(app_, DWORD(id), &line, TAPI_VERSION_1_4, 1, 0, LINECALLPRIVILEGE_NONE,
                     LINEMEDIAMODE_DATAMODEM, nullptr),
            LINEERR_INCOMPATIBLEEXTVERSION);
  EXPECT_EQ(lineOpen(app_, DWORD(id), &line, TAPI_VERSION_1_4, 0, 0, 0, LINEMEDIAMODE_DATAMODEM,
                     nullptr),
            LINEERR_INVALPRIVSELECT);
  EXPECT_EQ(lineOpen(app_, DWORD(id), &line, TAPI_VERSION_1_4, 0, 0, LINECALLPRIVILEGE_OWNER,
                     LINEMEDIAMODE_INTERACTIVEVOICE, nullptr),
            LINEERR_INVALMEDIAMODE);
  EXPECT_EQ(lineClose(0xDEAD), LINEERR_INVALLINEHANDLE);
  EXPECT_EQ(lineDeallocateCall(0xDEAD), LINEERR_INVALCALLHANDLE);
  EXPECT_EQ(lineShutdown(0xDEAD), LINEERR_INVALAPPHANDLE);

  line = OpenLine(DWORD(id));
  std::vector<DWORD> words(16, 0);
  auto* vs = reinterpret_cast<VARSTRING*>(words.data());
  vs->dwTotalSize = DWORD(words.size() * 4);
  EXPECT_EQ(lineGetID(line, 0, 0, 8, vs, "comm"), LINEERR_INVALCALLSELECT);
  EXPECT_EQ(lineGetID(line, 1, 0, LINECALLSELECT_ADDRESS, vs, "comm"), LINEERR_INVALADDRESSID);
  EXPECT_EQ(lineGetID(line, 0, 0xDEAD, LINECALLSELECT_CALL, vs, "comm"), LINEERR_INVALCALLHANDLE);
  EXPECT_EQ(lineGetID(line, 0, 0, LINECALLSELECT_LINE, vs, "wave/in"), LINEERR_INVALDEVICECLASS);
  EXPECT_EQ(lineGetID(line, 0, 0, LINECALLSELECT_LINE, vs, "comm/datamodem"),
            LINEERR_OPERATIONUNAVAIL);  // a line without a call has no port handle
  EXPECT_EQ(lineGetID(line, 0, 0, LINECALLSELECT_LINE, nullptr, "comm"), LINEERR_INVALPOINTER);

  HCALL call = 0;
  LINECALLPARAMS params = PassThrough();
  EXPECT_EQ(lineMakeCall(line, &call, nullptr, 0, nullptr), LINEERR_BEARERMODEUNAVAIL);
  params.dwBearerMode = LINEBEARERMODE_VOICE;
  EXPECT_EQ(lineMakeCall(line, &call, "123", 0, &params), LINEERR_BEARERMODEUNAVAIL);
  params.dwBearerMode = 0x41;
  EXPECT_EQ(lineMakeCall(line, &call, nullptr, 0, &params), LINEERR_INVALBEARERMODE);
  params = PassThrough();
  params.dwMediaMode = LINEMEDIAMODE_INTERACTIVEVOICE;
  EXPECT_EQ(lineMakeCall(line, &call, nullptr, 0, &params), LINEERR_INVALMEDIAMODE);
  params = PassThrough();
  params.dwTotalSize = 100;
  EXPECT_EQ(lineMakeCall(line, &call, nullptr, 0, &params), LINEERR_STRUCTURETOOSMALL);
  EXPECT_EQ(lineMakeCall(0xDEAD, &call, nullptr, 0, &params), LINEERR_INVALLINEHANDLE);
  EXPECT_EQ(call, 0u);

  // A closed line and a shut-down registration are gone.
  EXPECT_EQ(lineClose(line), 0);
  EXPECT_EQ(lineClose(line), LINEERR_INVALLINEHANDLE);
  EXPECT_EQ(lineShutdown(app_), 0);
  EXPECT_EQ(lineOpen(app_, DWORD(id), &line, TAPI_VERSION_1_4, 0, 0, LINECALLPRIVILEGE_NONE,
                     LINEMEDIAMODE_DATAMODEM, nullptr),
            LINEERR_INVALAPPHANDLE);
  app_ = 0;
}

TEST_F(LineServiceTest, APassThroughCallConnectsAndHandsItsPortOver) {
  const int id = DeviceOf("vphone0");
  ASSERT_GE(id, 0);
  const HLINE line = OpenLine(DWORD(id));
  HCALL call = 0;
  const LINECALLPARAMS params = PassThrough();
  const LONG request = lineMakeCall(line, &call, nullptr, 0, &params);
  ASSERT_GT(request, 0);
  // Nothing is delivered inside the call, and the handle comes with the reply.
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(call, 0u);
  ASSERT_TRUE(WaitUntil([] { return CountOf(LINE_CALLSTATE, LINECALLSTATE_CONNECTED) == 1; }));
  ASSERT_EQ(Messages().size(), 2u);
  EXPECT_EQ(Messages()[0].message, LINE_REPLY);
  EXPECT_EQ(Messages()[0].p1, DWORD(request));
  EXPECT_EQ(Messages()[0].p2, 0u);
  ASSERT_NE(call, 0u);
  EXPECT_EQ(Messages()[1].device, call);
  EXPECT_EQ(Messages()[1].p2, LINECONNECTEDMODE_ACTIVE);
  EXPECT_EQ(Messages()[1].p3, LINECALLPRIVILEGE_OWNER);
  HCALL second = 0;
  EXPECT_EQ(lineMakeCall(line, &second, nullptr, 0, &params), LINEERR_CALLUNAVAIL);

  // "comm/datamodem": the handle's four bytes, then the device name.
  std::vector<DWORD> words(16, 0);
  auto* vs = reinterpret_cast<VARSTRING*>(words.data());
  vs->dwTotalSize = 24;
  ASSERT_EQ(lineGetID(0, 0, call, LINECALLSELECT_CALL, vs, "comm/datamodem"), 0);
  EXPECT_EQ(vs->dwNeededSize, 24u + 4u + 8u);
  vs->dwTotalSize = vs->dwNeededSize;
  ASSERT_EQ(lineGetID(0, 0, call, LINECALLSELECT_CALL, vs, "comm/datamodem"), 0);
  EXPECT_EQ(vs->dwStringFormat, STRINGFORMAT_BINARY);
  EXPECT_EQ(vs->dwStringOffset, 24u);
  DWORD value = 0;
  std::memcpy(&value, reinterpret_cast<const char*>(words.data()) + 24, 4);
  EXPECT_STREQ(reinterpret_cast<const char*>(words.data()) + 28, "vphone0");
  const HANDLE port = reinterpret_cast<HANDLE>(std::uintptr_t{value});
  DCB dcb{};
  EXPECT_TRUE(GetCommState(port, &dcb));

  // The handle is the application's now: releasing the call and the line leaves it open.
  EXPECT_EQ(lineDeallocateCall(call), 0);
  EXPECT_EQ(lineGetID(0, 0, call, LINECALLSELECT_CALL, vs, "comm/datamodem"),
            LINEERR_INVALCALLHANDLE);
  EXPECT_EQ(lineClose(line), 0);
  EXPECT_TRUE(GetCommState(port, &dcb));
  EXPECT_TRUE(CloseHandle(port));
}

TEST_F(LineServiceTest, ACallOnAPortInUseIsDisconnectedWithoutAHandle) {
  const int id = DeviceOf("vphone0");
  ASSERT_GE(id, 0);
  const HANDLE direct = CreateFileA("vphone0", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  ASSERT_NE(direct, INVALID_HANDLE_VALUE);
  const HLINE line = OpenLine(DWORD(id));
  HCALL call = 0;
  const LINECALLPARAMS params = PassThrough();
  ASSERT_GT(lineMakeCall(line, &call, nullptr, 0, &params), 0);
  ASSERT_TRUE(WaitUntil([] { return CountOf(LINE_CALLSTATE, LINECALLSTATE_IDLE) == 1; }));
  EXPECT_EQ(CountOf(LINE_CALLSTATE, LINECALLSTATE_CONNECTED), 0);
  ASSERT_EQ(CountOf(LINE_CALLSTATE, LINECALLSTATE_DISCONNECTED), 1);
  EXPECT_EQ(Messages()[1].p2, LINEDISCONNECTMODE_UNAVAIL);
  std::vector<DWORD> words(16, 0);
  auto* vs = reinterpret_cast<VARSTRING*>(words.data());
  vs->dwTotalSize = DWORD(words.size() * 4);
  EXPECT_EQ(lineGetID(0, 0, call, LINECALLSELECT_CALL, vs, "comm/datamodem"),
            LINEERR_OPERATIONUNAVAIL);
  // An idle call leaves room for the next one.
  HCALL next = 0;
  EXPECT_GT(lineMakeCall(line, &next, nullptr, 0, &params), 0);
  EXPECT_EQ(lineClose(line), 0);  // both calls go with the line
  EXPECT_TRUE(CloseHandle(direct));
}

TEST_F(LineServiceTest, AModemPortThatAppearsRaisesLineCreateAndOneThatGoesEndsItsCall) {
  RestartWithPorts(
      {{"vphone0", "virtual phone", ""}, {"vphone7", "virtual phone", "Second phone"}});
  // Registered before the port exists; it arrives.
  ASSERT_TRUE(
      qv::comm::AddVirtualPort("vphone7", "virtual phone", [] { return qv::sim::MakePhone(); }));
  ASSERT_TRUE(qv::comm::UnplugVirtualPort("vphone7"));
  ASSERT_TRUE(qv::comm::PlugVirtualPort("vphone7"));
  ASSERT_TRUE(WaitUntil([] { return !Messages().empty(); }));
  ASSERT_EQ(Messages()[0].message, LINE_CREATE);
  const DWORD id = Messages()[0].p1;
  EXPECT_GE(id, count_);

  const HLINE line = OpenLine(id);
  EXPECT_EQ(PortNameOf(line), "vphone7");
  HCALL call = 0;
  const LINECALLPARAMS params = PassThrough();
  ASSERT_GT(lineMakeCall(line, &call, nullptr, 0, &params), 0);
  ASSERT_TRUE(WaitUntil([] { return CountOf(LINE_CALLSTATE, LINECALLSTATE_CONNECTED) == 1; }));

  // Gone: the connected call ends and the device is no more.
  ASSERT_TRUE(qv::comm::UnplugVirtualPort("vphone7"));
  ASSERT_TRUE(WaitUntil([] { return CountOf(LINE_CALLSTATE, LINECALLSTATE_IDLE) == 1; }));
  EXPECT_EQ(CountOf(LINE_CALLSTATE, LINECALLSTATE_DISCONNECTED), 1);
  DWORD version = 0;
  LINEEXTENSIONID ext{};
  EXPECT_EQ(lineNegotiateAPIVersion(app_, id, 0x10004, 0x10004, &version, &ext), LINEERR_NODEVICE);
  // Back again: the same identifier, no second LINE_CREATE.
  ASSERT_TRUE(qv::comm::PlugVirtualPort("vphone7"));
  ASSERT_TRUE(WaitUntil(
      [&] { return lineNegotiateAPIVersion(app_, id, 0x10004, 0x10004, &version, &ext) == 0; }));
  EXPECT_EQ(CountOf(LINE_CREATE, id), 1);
  EXPECT_EQ(lineClose(line), 0);  // the call's port, never handed over, closes with it
  EXPECT_TRUE(qv::comm::RemoveVirtualPort("vphone7"));
}

}  // namespace
}  // namespace qv::test
