// "Open with TAPI" in the console with the real line service on the virtual phone, and the
// console on a machine without the service.
#include <QComboBox>
#include <fstream>
#include <iterator>
#include <string>

#include "capture/capture_writer.h"
#include "console/log_view.h"
#include "drivertests/port_handle.h"
#include "engine/comm.h"
#include "platform/sync/debug_output.h"
#include "telephony/line_open.h"
#include "telephony/telephony_loader.h"
#include "tests/console/console_fixture.h"
#include "tools/tool_kdobj.h"
#include "tools/tool_states.h"
#include "tools/tool_tests.h"

namespace qv::test {
namespace {

class ConsoleTapiTest : public ConsoleTest {
 protected:
  void SetUp() override {
    ConsoleTest::SetUp();
    qv::telephony::UseLibraryBinderForTests(nullptr);
    qv::sync::SetDebugOutputToStderr(false);
  }
  void TearDown() override {
    ConsoleTest::TearDown();
    qv::telephony::UseLibraryBinderForTests(nullptr);
    qv::sync::SetDebugOutputToStderr(true);
  }
  QString LogText() { return Dlg().Log()->Text(); }
  bool Logged(const QString& text) { return LogText().contains(text); }
  void OpenWithTapi(const char* port) {
    Dlg().Item<QComboBox>(IDC_PORT)->setEditText(QString::fromLatin1(port));
    Dlg().SendCommand(IDC_OPENTAPI);
  }
  VARSTRING* Record(std::vector<DWORD>& words) {
    words.assign(64, 0);
    auto* vs = reinterpret_cast<VARSTRING*>(words.data());
    vs->dwTotalSize = DWORD(words.size() * 4);
    return vs;
  }
};

TEST_F(ConsoleTapiTest, OpenWithTapiOnThePhoneOpensThePortAsIfByNameAndCloseReleasesTheCall) {
  Open();
  EXPECT_EQ(boxes_.Count(), 0u);  // the service registered without a word
  ASSERT_NE(Dlg().Telephony(), nullptr);
  EXPECT_NE(Dlg().Telephony()->hLineApp, 0u);
  EXPECT_TRUE(Dlg().GetDlgItem(IDC_OPENTAPI)->isEnabled());

  // A running capture records the call's port opened and closed.
  const std::string capturePath = ::testing::TempDir() + "tapi_capture.txt";
  std::string captureError;
  ASSERT_TRUE(qv::capture::LineCapture().StartFile(capturePath, "", "", &captureError))
      << captureError;
  OpenWithTapi("\\\\.\\vphone0");
  ASSERT_TRUE(WaitUntil([] { return hPort != INVALID_HANDLE_VALUE; })) << LogText().toStdString();
  EXPECT_TRUE(Logged("Trying to open TAPI device \"QUELM Virtual Phone (vphone0)\""));
  EXPECT_TRUE(Logged("LINE_REPLY       requestID="));
  EXPECT_TRUE(Logged(" result=SUCCESS"));
  EXPECT_TRUE(Logged("LINE_CALLSTATE   hCall="));
  EXPECT_TRUE(
      Logged("CallState=LINECALLSTATE_CONNECTED         CallStateDetail=LINECONNECTEDMODE_ACTIVE"));
  // Opened as a port opened by name: controls, engine, panels.
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_OPENCLOSE), "Close");
  EXPECT_FALSE(Dlg().GetDlgItem(IDC_OPENTAPI)->isEnabled());
  EXPECT_FALSE(Dlg().GetDlgItem(IDC_PORT)->isEnabled());
  EXPECT_NE(CommConnection.hReadThread.Load(), nullptr);
  EXPECT_EQ(Dlg().StatesPanel()->ConnectionState(), 1);
  EXPECT_TRUE(Dlg().KdobjPanel()->CommandsEnabled());
  EXPECT_EQ(Dlg().TestsPanel()->ConnectionControlsEnabled(), 1);
  DCB dcb{};
  ASSERT_TRUE(GetCommState(hPort, &dcb));
  EXPECT_EQ(dcb.BaudRate, DWORD(Dlg().SelectedSpeed()));
  EXPECT_EQ(dcb.ByteSize, 8);

  // The phone answers.
  WriteCommLine("AT");
  EXPECT_TRUE(WaitUntil([&] { return Logged("OK"); })) << LogText().toStdString();

  const HLINE line = Dlg().Telephony()->hLine;
  const HCALL call = Dlg().Telephony()->hCall;
  ASSERT_NE(call, 0u);
  Dlg().SendCommand(IDC_OPENCLOSE);
  EXPECT_EQ(hPort, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(Dlg().GetDlgItem(IDC_OPENTAPI)->isEnabled());
  EXPECT_EQ(Dlg().StatesPanel()->ConnectionState(), 0);
  EXPECT_EQ(Dlg().Telephony()->hCall, 0u);
  // The call was deallocated and its line closed.
  std::vector<DWORD> words;
  EXPECT_EQ(lineGetID(0, 0, call, LINECALLSELECT_CALL, Record(words), "comm/datamodem"),
            LINEERR_INVALCALLHANDLE);
  EXPECT_EQ(lineGetID(line, 0, 0, LINECALLSELECT_LINE, Record(words), "comm"),
            LINEERR_INVALLINEHANDLE);
  EXPECT_EQ(boxes_.Count(), 0u);
  qv::capture::LineCapture().Stop();
  std::ifstream captured(capturePath);
  const std::string text((std::istreambuf_iterator<char>(captured)), {});
  EXPECT_NE(text.find(" OPEN 0 || \\\\.\\vphone0\n"), std::string::npos) << text;
  EXPECT_LT(text.find(" OPEN "), text.find(" CLOSE ")) << text;

  // Again, after the close.
  OpenWithTapi("\\\\.\\vphone0");
  ASSERT_TRUE(WaitUntil([] { return hPort != INVALID_HANDLE_VALUE; }));
  Dlg().SendCommand(IDC_OPENCLOSE);
  EXPECT_EQ(boxes_.Count(), 0u);
}

TEST_F(ConsoleTapiTest, ADisconnectReportedBeforeTheCloseLeavesCallAndLineWithTheService) {
  Open();
  OpenWithTapi("vphone0");
  ASSERT_TRUE(WaitUntil([] { return hPort != INVALID_HANDLE_VALUE; }));
  const HLINE line = Dlg().Telephony()->hLine;
  const HCALL call = Dlg().Telephony()->hCall;
  // The service reports the call gone (as on a carrier loss).
  qv::telephony::TelephonyLineOpen::OnLineCallback(
      call, LINE_CALLSTATE, 0, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL, 0);
  EXPECT_EQ(Dlg().Telephony()->hCall, 0u);
  EXPECT_TRUE(Logged(
      "CallState=LINECALLSTATE_DISCONNECTED      CallStateDetail=LINEDISCONNECTMODE_NORMAL"));
  Dlg().SendCommand(IDC_OPENCLOSE);
  EXPECT_EQ(hPort, INVALID_HANDLE_VALUE);
  std::vector<DWORD> words;
  EXPECT_EQ(lineGetID(line, 0, 0, LINECALLSELECT_LINE, Record(words), "comm"), 0);
  EXPECT_EQ(lineGetID(0, 0, call, LINECALLSELECT_CALL, Record(words), "comm/datamodem"), 0);
  EXPECT_EQ(boxes_.Count(), 0u);
}

TEST_F(ConsoleTapiTest, APortWithoutALineDeviceGetsTheNoDeviceBox) {
  Open();
  boxes_.Answer(IDOK);
  OpenWithTapi("\\\\.\\vloop0");
  ASSERT_EQ(boxes_.Count(), 1u);
  EXPECT_EQ(boxes_.Boxes()[0].text, "No TAPI device on this port");
  EXPECT_EQ(hPort, INVALID_HANDLE_VALUE);
  // The phone's line was opened to look at it, and closed again.
  EXPECT_FALSE(Logged("Trying to open TAPI device"));
}

TEST_F(ConsoleTapiTest, WithoutTheServiceTheConsoleStartsAfterTheErrorBoxAndFindsNoDevice) {
  class NoLibrary : public qv::telephony::LibraryBinder {
   public:
    HMODULE Load(const char*) override { return nullptr; }
  } noLibrary;
  qv::telephony::UseLibraryBinderForTests(&noLibrary);
  boxes_.Answer(IDIGNORE);
  Open();
  ASSERT_EQ(boxes_.Count(), 1u);
  EXPECT_NE(boxes_.Boxes()[0].text.find("TAPI Error"), std::string::npos);
  EXPECT_NE(boxes_.Boxes()[0].text.find("0x80000049"), std::string::npos);
  EXPECT_EQ(boxes_.Boxes()[0].flags & MB_TYPEMASK, UINT(MB_ABORTRETRYIGNORE));
  EXPECT_TRUE(Dlg().isVisible());

  boxes_.Answer(IDOK);
  OpenWithTapi("\\\\.\\vphone0");
  ASSERT_EQ(boxes_.Count(), 2u);
  EXPECT_EQ(boxes_.Boxes()[1].text, "No TAPI device on this port");
  Close();  // the shutdown is not checked: no third box
  EXPECT_EQ(boxes_.Count(), 2u);
}

}  // namespace
}  // namespace qv::test
