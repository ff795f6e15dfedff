// "Open with TAPI" against a scripted line service: the device search and its skip rules, the
// two-step records, the call, the message trace and what each message does, the release on close.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sync/debug_output.h"
#include "telephony/line_open.h"
#include "tests/common/scripted_boxes.h"
#include "tests/telephony/fake_line_service.h"

namespace qv::test {
namespace {

using qv::telephony::TelephonyLineOpen;

class FakeHost : public qv::telephony::LineOpenHost {
 public:
  std::string portName = "\\\\.\\COM5";
  std::vector<std::string> log;
  bool portOpen = false;
  std::vector<HANDLE> opened;
  int cleared = 0;

  std::string PortNameFromCombo() override { return portName; }
  void LogText(const char* text) override { log.push_back(text); }
  HWND BoxOwner() override { return nullptr; }
  bool PortIsOpen() override { return portOpen; }
  void OpenCallPort(HANDLE port) override { opened.push_back(port); }
  void ClearPort() override { ++cleared; }
};

class LineOpenTest : public ::testing::Test {
 protected:
  void Devices(std::vector<FakeDevice> devices) { fake_.service.devices = std::move(devices); }
  FakeLineService& Service() { return fake_.service; }
  std::vector<std::string>& Calls() { return fake_.service.calls; }
  // The service's message to the registered callback, as the event loop would deliver it.
  void Message(DWORD device, DWORD msg, DWORD p1, DWORD p2 = 0, DWORD p3 = 0) {
    ASSERT_NE(Service().callback, nullptr);
    Service().callback(device, msg, 0, p1, p2, p3);
  }

  ScopedFakeService fake_;
  TestMessageBoxes boxes_;
  FakeHost host_;
};

TEST_F(LineOpenTest, TheSearchSkipsDevicesOfOtherVersionsPortsAndCaseAndCallsTheMatch) {
  Devices({{LINEERR_INCOMPATIBLEAPIVERSION},
           {LINEERR_NODEVICE},
           {0, 0, "com5", "Lower case"},                   // another port: case counts
           {0, LINEERR_INVALDEVICECLASS, "", "No modem"},  // no data-modem port
           {0, LINEERR_OPERATIONUNAVAIL, "", "No class"},
           {0, 0, "COM5", "Phone modem"},
           {0, 0, "COM5", "Never asked"}});
  TelephonyLineOpen line(host_);
  line.Initialize();
  EXPECT_EQ(line.lineDeviceCount, 7u);
  Calls().clear();
  line.OpenWithTapi();

  EXPECT_EQ(Service().Count("lineNegotiateAPIVersion"), 6);  // not the device after the match
  EXPECT_EQ(Service().Count("lineOpen"), 4);
  EXPECT_EQ(Calls().front(), "lineNegotiateAPIVersion 0");
  // Rejected lines are closed; the matching one stays open for its call.
  EXPECT_EQ(Service().Count("lineClose"), 3);
  EXPECT_EQ(Service().Count("lineClose 0x203"), 1);
  EXPECT_EQ(Service().Count("lineClose 0x206"), 0);
  // The port name and the capabilities each came in two steps.
  EXPECT_EQ(Service().Count("lineGetID comm/datamodem/portname 0x206"), 2);
  EXPECT_EQ(Service().Count("lineGetDevCaps 5"), 2);
  ASSERT_EQ(host_.log.size(), 1u);
  EXPECT_EQ(host_.log[0], "Trying to open TAPI device \"Phone modem\"");
  EXPECT_EQ(Calls().back(), "lineMakeCall 0x206");
  EXPECT_EQ(line.hLine, 0x206u);
  const LINECALLPARAMS& p = Service().lastCallParams;
  EXPECT_EQ(p.dwTotalSize, 112u);
  EXPECT_EQ(p.dwBearerMode, LINEBEARERMODE_PASSTHROUGH);
  EXPECT_EQ(p.dwMediaMode, LINEMEDIAMODE_DATAMODEM);
  EXPECT_EQ(p.dwMinRate | p.dwMaxRate | p.dwAddressMode | p.dwCallParamFlags, 0u);
  EXPECT_EQ(Service().callTarget, &line.hCall);
  EXPECT_EQ(boxes_.Count(), 0u);
}

TEST_F(LineOpenTest, NoMatchingDeviceSaysSoInAPlainBox) {
  Devices({{0, 0, "COM6", "Other"}});
  TelephonyLineOpen line(host_);
  line.Initialize();
  boxes_.Answer(IDOK);
  line.OpenWithTapi();
  ASSERT_EQ(boxes_.Count(), 1u);
  EXPECT_EQ(boxes_.Boxes()[0].text, "No TAPI device on this port");
  EXPECT_EQ(boxes_.Boxes()[0].caption, "quor_vix");
  EXPECT_EQ(boxes_.Boxes()[0].flags, UINT(MB_OK));
  EXPECT_EQ(Service().Count("lineClose"), 1);
  EXPECT_EQ(Service().Count("lineMakeCall"), 0);
}

TEST_F(LineOpenTest, DamagedAnswersRejectTheDeviceInsteadOfBeingRead) {
  // A name that points beyond the record, and a needed size no record can have.
  Devices({{0, 0, "COM5", "Outside", true}, {0, 0, "COM5", "Huge", false, 0x7FFFFFFF}});
  TelephonyLineOpen line(host_);
  line.Initialize();
  boxes_.Answer(IDOK);
  line.OpenWithTapi();
  ASSERT_EQ(boxes_.Count(), 1u);
  EXPECT_EQ(boxes_.Boxes()[0].text, "No TAPI device on this port");
  EXPECT_EQ(Service().Count("lineClose"), 2);
  // The huge one was not asked a second time.
  EXPECT_EQ(Service().Count("lineGetID comm/datamodem/portname 0x202"), 1);
}

TEST_F(LineOpenTest, AnIgnoredOpenFailureGoesOnWithTheNextDeviceWithoutUsingTheLine) {
  Devices({{0, 0, "COM5", "First"}});
  Service().openResult = LINEERR_RESOURCEUNAVAIL;
  TelephonyLineOpen line(host_);
  line.Initialize();
  boxes_.Answer(IDRETRY);   // lineOpen fails again
  boxes_.Answer(IDIGNORE);  // then given up
  boxes_.Answer(IDOK);      // no device
  line.OpenWithTapi();
  ASSERT_EQ(boxes_.Count(), 3u);
  EXPECT_NE(boxes_.Boxes()[0].text.find("TAPI Error"), std::string::npos);
  EXPECT_EQ(boxes_.Boxes()[2].text, "No TAPI device on this port");
  EXPECT_EQ(Service().Count("lineOpen"), 2);
  EXPECT_EQ(Service().Count("lineGetID"), 0);
  EXPECT_EQ(Service().Count("lineClose"), 0);
}

TEST_F(LineOpenTest, LineCreateRaisesTheCountAndTheNextSearchTriesTheNewIds) {
  Devices({{LINEERR_NODEVICE}, {LINEERR_NODEVICE}, {LINEERR_NODEVICE}});
  TelephonyLineOpen line(host_);
  line.Initialize();
  ASSERT_EQ(line.lineDeviceCount, 3u);
  Message(0, LINE_CREATE, 7);
  EXPECT_EQ(line.lineDeviceCount, 8u);
  EXPECT_EQ(host_.log.back(), "LINE_CREATE      idDevice=7");
  Message(0, LINE_CREATE, 2);  // an identifier below the count changes nothing
  EXPECT_EQ(line.lineDeviceCount, 8u);

  Service().devices.resize(8, FakeDevice{LINEERR_NODEVICE});
  Calls().clear();
  boxes_.Answer(IDOK);
  line.OpenWithTapi();
  EXPECT_EQ(Service().Count("lineNegotiateAPIVersion"), 8);
  EXPECT_EQ(Calls()[7], "lineNegotiateAPIVersion 7");
}

TEST_F(LineOpenTest, DeviceCountsAndIdsBeyondTheBoundAreTracedAndLeftOut) {
  const DWORD kMax = qv::telephony::kMaxLineDevices;
  const struct {
    DWORD initialized, created, count;
  } cases[] = {
      {0xFFFFFFFFu, 3, kMax},  // a search of billions of IDs on the console's thread
      {2, 0xFFFFFFFEu, 2},     // would make the count 0xFFFFFFFF
      {2, 0xFFFFFFFFu, 2},     // would wrap it to 0
      {2, kMax - 1, kMax},     // the last ID searched
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.created);
    Service().initializeCount = c.initialized;
    TelephonyLineOpen line(host_);
    qv::sync::ClearDebugOutputCapture();
    line.Initialize();
    Message(0, LINE_CREATE, c.created);
    EXPECT_EQ(line.lineDeviceCount, c.count);
    EXPECT_EQ(!qv::sync::DebugOutputCaptured().empty(), c.initialized > kMax || c.created >= kMax);
  }
}

TEST_F(LineOpenTest, ACallThatEndsWithoutConnectingClosesItsLineAndSaysSo) {
  enum Ending { kBusyPort, kFailedRequest, kRefusedAtOnce };
  Devices({{0, 0, "COM5", "Phone modem"}});
  for (const Ending ending : {kBusyPort, kFailedRequest, kRefusedAtOnce}) {
    SCOPED_TRACE(ending);
    Service().makeCallResult = ending == kRefusedAtOnce ? LINEERR_CALLUNAVAIL : 0;
    TelephonyLineOpen line(host_);
    line.Initialize();
    if (ending == kRefusedAtOnce) boxes_.Answer(IDIGNORE);
    Calls().clear();
    line.OpenWithTapi();
    if (ending == kBusyPort) {
      // The service gives the call, then cannot open the port: disconnected, then idle.
      line.hCall = 0x301;
      Message(0x301, LINE_CALLSTATE, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_UNAVAIL);
      Message(0x301, LINE_CALLSTATE, LINECALLSTATE_IDLE);
      EXPECT_EQ(Service().Count("lineDeallocateCall 0x301"), 1);
    } else if (ending == kFailedRequest) {
      Message(0, LINE_REPLY, 7, DWORD(LINEERR_CALLUNAVAIL));
    }
    EXPECT_EQ(Service().Count("lineClose 0x201"), 1);
    EXPECT_EQ(line.hLine | line.hCall, 0u) << "nothing left for the close";
    EXPECT_EQ(host_.log.back(), "The call on TAPI device \"Phone modem\" ended without "
                                "connecting: its line is closed");
  }
  // A call that connected keeps its line when it goes idle: the close releases it. A second
  // press while it is being placed opens no second line over the first.
  Service().makeCallResult = 0;
  TelephonyLineOpen line(host_);
  line.Initialize();
  Calls().clear();
  line.OpenWithTapi();
  line.OpenWithTapi();
  EXPECT_EQ(Service().Count("lineOpen"), 1);
  EXPECT_EQ(host_.log.back(), "A call on TAPI device \"Phone modem\" is still being placed: wait "
                              "until it connects or ends");
  line.hCall = 0x302;
  Message(0x302, LINE_CALLSTATE, LINECALLSTATE_CONNECTED, 0, 0);
  Message(0x302, LINE_CALLSTATE, LINECALLSTATE_IDLE);
  EXPECT_EQ(Service().Count("lineClose"), 0);
}

TEST_F(LineOpenTest, ReinitRegistersAgainAndDropsTheStaleLineAndCall) {
  Devices({{}});
  TelephonyLineOpen line(host_);
  line.Initialize();
  const HLINEAPP first = line.hLineApp;
  line.hLine = 0x201;
  line.hCall = 0x301;
  Calls().clear();
  Message(0, LINE_LINEDEVSTATE, 0x00040000, 1);  // a detail: not the request to re-register
  EXPECT_TRUE(Calls().empty());
  Message(0, LINE_LINEDEVSTATE, 0x00040000, 0);
  EXPECT_EQ(host_.log.back(),
            "LINE_LINEDEVSTATE DeviceState=0x40000 DeviceStateDetail1=0 DeviceStateDetail2=0");
  EXPECT_EQ(Calls(), (std::vector<std::string>{"lineShutdown 0x" + fake::Hex(first).substr(2),
                                               "lineInitialize"}));
  EXPECT_NE(line.hLineApp, first);
  // The old registration's line and call are gone with it: the close releases nothing.
  EXPECT_EQ(line.hLine, 0u);
  EXPECT_EQ(line.hCall, 0u);
  Calls().clear();
  line.ReleaseCall();
  EXPECT_TRUE(Calls().empty());
  EXPECT_EQ(boxes_.Count(), 0u);
}

TEST_F(LineOpenTest, TheConnectedCallsHandleBecomesThePort) {
  Devices({{}});
  TelephonyLineOpen line(host_);
  line.Initialize();
  line.hCall = 0x301;
  Message(0, LINE_REPLY, 7, 0);
  EXPECT_EQ(host_.log.back(), "LINE_REPLY       requestID=       7 result=SUCCESS");
  Message(0x301, LINE_CALLSTATE, LINECALLSTATE_CONNECTED, 0, LINECALLPRIVILEGE_OWNER);
  EXPECT_EQ(host_.log.back(),
            "LINE_CALLSTATE   hCall=301      CallState=LINECALLSTATE_CONNECTED         "
            "CallStateDetail=0 (active)                      CallPrivilege=4");
  EXPECT_EQ(Service().Count("lineGetID comm/datamodem 0x301"), 2);
  ASSERT_EQ(host_.opened.size(), 1u);
  EXPECT_EQ(host_.opened[0], reinterpret_cast<HANDLE>(std::uintptr_t{0x1234}));
  EXPECT_EQ(line.hCall, 0x301u);

  // No handle in the answer: no port.
  Service().callPortHandle = 0;
  Message(0x301, LINE_CALLSTATE, LINECALLSTATE_CONNECTED, 0, 0);
  EXPECT_EQ(host_.cleared, 1);
  // A call without a data-modem device ends silently.
  Service().callIdResult = LINEERR_NODEVICE;
  Message(0x301, LINE_CALLSTATE, LINECALLSTATE_CONNECTED, 0, 0);
  EXPECT_EQ(host_.opened.size(), 1u);
  EXPECT_EQ(host_.cleared, 1);
  EXPECT_EQ(boxes_.Count(), 0u);
}

TEST_F(LineOpenTest, APortOpenedByNameMeanwhileIsNotReplacedByTheCall) {
  Devices({{}});
  TelephonyLineOpen line(host_);
  line.Initialize();
  line.hCall = 0x301;
  host_.portOpen = true;
  Message(0x301, LINE_CALLSTATE, LINECALLSTATE_CONNECTED, 0, 0);
  EXPECT_TRUE(host_.opened.empty());
  EXPECT_EQ(host_.cleared, 0);
  EXPECT_EQ(Service().Count("lineGetID"), 0);
  EXPECT_EQ(line.hCall, 0x301u);  // released with the port's close
}

TEST_F(LineOpenTest, OtherCallStatesForgetTheCallAndTheCloseThenReleasesNothing) {
  Devices({{}});
  TelephonyLineOpen line(host_);
  line.Initialize();
  line.hLine = 0x201;
  line.hCall = 0x301;
  Message(0x301, LINE_CALLSTATE, 0x300, 0x77, 0);  // an unknown state and detail
  EXPECT_EQ(host_.log.back(),
            "LINE_CALLSTATE   hCall=301      CallState=LINECALLSTATE_0x00000300        "
            "CallStateDetail=0x00000077                      CallPrivilege=0");
  EXPECT_EQ(line.hCall, 0u);
  Calls().clear();
  line.ReleaseCall();
  EXPECT_TRUE(Calls().empty());

  // With a call: deallocated, then its line closed, and forgotten.
  line.hCall = 0x302;
  line.ReleaseCall();
  EXPECT_EQ(Calls(), (std::vector<std::string>{"lineDeallocateCall 0x302", "lineClose 0x201"}));
  EXPECT_EQ(line.hCall, 0u);
}

TEST_F(LineOpenTest, OtherMessagesAreTracedWithTheirRawValues) {
  Devices({{}});
  TelephonyLineOpen line(host_);
  line.Initialize();
  Message(0x201, LINE_CLOSE, 5, 6);
  EXPECT_EQ(host_.log.back(), "LINE_CLOSE       handle=201\tdwMsg=  3\tdwParam1=5 dwParam2=6");
  Message(0x201, 21, 0, 0);
  EXPECT_EQ(host_.log.back(), "LINE_Callback_0x21L handle=201\tdwMsg= 21\tdwParam1=0 dwParam2=0");
  Message(0, LINE_REPLY, 3, DWORD(LINEERR_CALLUNAVAIL));
  EXPECT_EQ(host_.log.back(), "LINE_REPLY       requestID=       3 result=LINEERR_CALLUNAVAIL");
}

TEST_F(LineOpenTest, WithoutTheServiceStartUpAsksAndTheSearchFindsNothing) {
  fake_.binder.libraryPresent = false;
  TelephonyLineOpen line(host_);
  boxes_.Answer(IDIGNORE);
  line.Initialize();
  ASSERT_EQ(boxes_.Count(), 1u);
  EXPECT_NE(boxes_.Boxes()[0].text.find("TAPI Error"), std::string::npos);
  EXPECT_NE(boxes_.Boxes()[0].text.find("0x80000049"), std::string::npos);
  EXPECT_EQ(line.lineDeviceCount, 0u);
  boxes_.Answer(IDOK);
  line.OpenWithTapi();
  ASSERT_EQ(boxes_.Count(), 2u);
  EXPECT_EQ(boxes_.Boxes()[1].text, "No TAPI device on this port");
  line.Shutdown();  // not checked: no box
  EXPECT_EQ(boxes_.Count(), 2u);
}

}  // namespace
}  // namespace qv::test
