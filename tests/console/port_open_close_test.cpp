// The console's port commands on the virtual ports and on pseudo-terminal pairs: choosing a
// port, Open/Close and the control states, open errors, the driver's speed, speed changes, the
// configuration dialog, closing on the engine's request, and what 200 cycles leave behind.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <dirent.h>
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <cstring>
#include <string>
#include <vector>

#include "console/log_view.h"
#include "console/quorvix_dlg_port.h"
#include "drivertests/port_handle.h"
#include "engine/comm.h"
#include "platform/comm/comm_api.h"
#include "platform/comm/virtual_port_control.h"
#include "platform/sync/debug_output.h"
#include "platform/sync/event.h"
#include "platform/sync/kernel_object.h"
#include "platform/sync/last_error.h"
#include "platform/sync/process_counts.h"
#include "platform/ui/qt/comm_config_dialog.h"
#include "tests/common/pty_pair.h"
#include "tests/console/console_fixture.h"
#include "tools/tool_kdobj.h"
#include "tools/tool_states.h"
#include "tools/tool_tests.h"

namespace qv::test {
namespace {

const QString kPadding(22, QLatin1Char(' '));


DCB StateOf(HANDLE port) {
  DCB dcb{};
  GetCommState(port, &dcb);
  return dcb;
}

DWORD StoredDefaultSpeed(const char* device) {
  std::vector<DWORD> buffer(kCommConfigBufferSize / sizeof(DWORD));
  auto* config = reinterpret_cast<COMMCONFIG*>(buffer.data());
  DWORD size = kCommConfigBufferSize;
  return GetDefaultCommConfigA(device, config, &size) ? config->dcb.BaudRate : 0;
}

class PortCommandTest : public ConsoleTest {
 protected:
  void SetUp() override {
    ConsoleTest::SetUp();
    configDialogs_.onUnanswered = [](const qv::ui::CommConfigRequest& r) {
      ADD_FAILURE() << "Unexpected configuration dialog for " << r.device;
    };
    qv::sync::SetDebugOutputToStderr(false);
  }
  void TearDown() override {
    ConsoleTest::TearDown();  // closes a port left open
    qv::comm::ResetVirtualPort("vloop0");
    qv::sync::SetDebugOutputToStderr(true);
  }

  QComboBox* PortCombo() { return Dlg().Item<QComboBox>(IDC_PORT); }
  QString PortText() { return Dlg().GetDlgItemText(IDC_PORT); }
  void TypePort(const QString& text) { PortCombo()->setEditText(text); }
  void Toggle() { Dlg().SendCommand(IDC_OPENCLOSE); }
  bool IsOpen() const { return hPort != INVALID_HANDLE_VALUE; }
  int DumpsOf(const char* what) { return int(Dlg().Log()->Text().count(QLatin1String(what))); }
  // The user picks a speed entry.
  void ChooseSpeed(const QString& text) {
    auto* speed = Dlg().Item<QComboBox>(IDC_SPEED);
    speed->setCurrentIndex(speed->findText(text));
    emit speed->activated(speed->currentIndex());
  }
  // The user picks the list entry of a port; the posted messages are then handled.
  void ChoosePort(const QString& name) {
    QComboBox* combo = PortCombo();
    int index = -1;
    for (int i = 0; i < combo->count(); ++i)
      if (combo->itemText(i).startsWith(name + kPadding + QLatin1Char('('))) index = i;
    ASSERT_GE(index, 0) << name.toStdString();
    combo->setCurrentIndex(index);
    emit combo->activated(index);
    QCoreApplication::processEvents();
  }

  void ExpectOpenControls() {
    CQuorvixDlg& dlg = Dlg();
    EXPECT_TRUE(IsOpen());
    EXPECT_EQ(dlg.GetDlgItemText(IDC_OPENCLOSE), "Close");
    EXPECT_TRUE(dlg.GetDlgItem(IDC_OPENCLOSE)->isEnabled());
    EXPECT_TRUE(dlg.GetDlgItem(IDC_SENDLINE)->isEnabled());
    EXPECT_TRUE(dlg.GetDlgItem(IDC_SEND)->isEnabled());
    EXPECT_FALSE(dlg.GetDlgItem(IDC_OPENTAPI)->isEnabled());
    EXPECT_FALSE(dlg.GetDlgItem(IDC_OPENONPNP)->isEnabled());
    EXPECT_FALSE(dlg.GetDlgItem(IDC_PORT)->isEnabled());
    EXPECT_EQ(dlg.StatesPanel()->ConnectionState(), 1);
    EXPECT_TRUE(dlg.KdobjPanel()->CommandsEnabled());
    EXPECT_EQ(dlg.TestsPanel()->ConnectionControlsEnabled(), 1);
  }
  void ExpectClosedControls() {
    CQuorvixDlg& dlg = Dlg();
    EXPECT_FALSE(IsOpen());
    EXPECT_EQ(dlg.GetDlgItemText(IDC_OPENCLOSE), "Open");
    EXPECT_FALSE(dlg.GetDlgItem(IDC_SENDLINE)->isEnabled());
    EXPECT_FALSE(dlg.GetDlgItem(IDC_SEND)->isEnabled());
    EXPECT_TRUE(dlg.GetDlgItem(IDC_OPENTAPI)->isEnabled());
    EXPECT_TRUE(dlg.GetDlgItem(IDC_OPENONPNP)->isEnabled());
    EXPECT_EQ(dlg.IsDlgButtonChecked(IDC_OPENONPNP), BST_UNCHECKED);
    EXPECT_EQ(dlg.m_PNPaware, 0);
    EXPECT_TRUE(dlg.GetDlgItem(IDC_PORT)->isEnabled());
    EXPECT_EQ(dlg.StatesPanel()->ConnectionState(), 0);
    EXPECT_FALSE(dlg.KdobjPanel()->CommandsEnabled());
    EXPECT_EQ(dlg.TestsPanel()->ConnectionControlsEnabled(), 0);
    EXPECT_EQ(CommConnection.hReadThread.Load(), nullptr);
    EXPECT_EQ(CommConnection.hWriteThread.Load(), nullptr);
  }

  qv::ui::ScriptedCommConfig configDialogs_;
};

TEST_F(PortCommandTest, ChoosingAnEntrySetsTheDeviceFormAndShowsItsDefaultsOnce) {
  Open();
  ChoosePort("vloop0");
  EXPECT_EQ(PortText(), "\\\\.\\vloop0");
  EXPECT_EQ(PortCombo()->lineEdit()->selectedText(), PortText());  // the whole text selected
  // The loop-back plug is a plain RS-232 port: no modem settings.
  EXPECT_TRUE(Dlg().Log()->Text().contains("<DEFAULTCOMMCONFIG 1 1>\r\n"))
      << Dlg().Log()->Text().toStdString();
  const int dumps = DumpsOf("DEFAULTCOMMCONFIG");

  ChoosePort("vloop0");  // the same port again: no second dump
  EXPECT_EQ(DumpsOf("DEFAULTCOMMCONFIG"), dumps);

  // The phone is a modem: its settings follow on a second line, the DCE rate in decimal.
  ChoosePort("vphone0");
  EXPECT_EQ(PortText(), "\\\\.\\vphone0");
  EXPECT_EQ(DumpsOf("DEFAULTCOMMCONFIG 1 6\r\nMODEMSETTINGS "), 1);

  // A typed name stays as typed, key by key (nothing completes it from the list), and when the
  // list closes without a choice.
  PortCombo()->lineEdit()->clear();
  for (const char c : std::string("vloop0")) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(QLatin1Char(c)));
    QApplication::sendEvent(PortCombo()->lineEdit(), &press);
  }
  EXPECT_EQ(PortText(), "vloop0");
  PortCombo()->showPopup();
  PortCombo()->hidePopup();
  ASSERT_TRUE(WaitUntil([&] { return DumpsOf("DEFAULTCOMMCONFIG") == dumps + 2; }, 2000));
  EXPECT_EQ(PortText(), "vloop0");
}

TEST_F(PortCommandTest, OpensByNameByDeviceFormAndByPtyPathAndCloseRestoresEverything) {
  Open();
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  for (const QString& name : {QStringLiteral("vloop0"), QStringLiteral("\\\\.\\vloop0"),
                              QString::fromStdString(pty.path())}) {
    SCOPED_TRACE(name.toStdString());
    TypePort(name);
    Toggle();
    ExpectOpenControls();
    EXPECT_EQ(PortText(), name);
    EXPECT_NE(CommConnection.hReadThread.Load(), nullptr);
    DCB dcb = StateOf(hPort);
    EXPECT_EQ(dcb.BaudRate, DWORD(Dlg().SelectedSpeed()));
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_FALSE(dcb.fOutX || dcb.fInX);

    // The engine runs: what comes in reaches the log.
    const std::string marker = "data through " + name.toStdString().substr(name.size() - 4);
    if (name.startsWith('/')) ASSERT_TRUE(pty.Write(marker));
    else ASSERT_EQ(WriteCommString(marker.c_str()), 1);
    EXPECT_TRUE(WaitUntil([&] {
      return Dlg().Log()->Text().contains(QString::fromStdString(marker));
    })) << Dlg().Log()->Text().toStdString();

    ResetEvent(Dlg().TestsPanel()->Echo().blockReceived);
    Toggle();
    ExpectClosedControls();
    // A test waiting for a block is released by the close.
    EXPECT_EQ(WaitForSingleObject(Dlg().TestsPanel()->Echo().blockReceived, 0), WAIT_OBJECT_0);
  }
}

TEST_F(PortCommandTest, PortsThatCannotBeOpenedShowTheErrorAndStayClosed) {
  Open();
  TypePort(QStringLiteral("\\\\.\\nosuchport0"));
  boxes_.Answer(IDOK);
  Toggle();
  ExpectClosedControls();
  ASSERT_EQ(boxes_.Count(), 1u);
  auto box = boxes_.Boxes()[0];
  EXPECT_EQ(box.caption, "Error");
  EXPECT_EQ(box.flags & MB_ICONMASK, MB_ICONSTOP);
  EXPECT_EQ(box.text, "An error 2 occured on CreateFile:\n\n" + qv::sync::SystemErrorText(2));
  EXPECT_FALSE(qv::sync::SystemErrorText(2).empty());

  // Held by someone else: access denied, with a text that says why that happens.
  HANDLE other = CreateFileA("vloop0", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  TypePort(QStringLiteral("vloop0"));
  boxes_.Clear();
  boxes_.Answer(IDOK);
  Toggle();
  CloseHandle(other);
  ExpectClosedControls();
  ASSERT_EQ(boxes_.Count(), 1u);
  box = boxes_.Boxes()[0];
  EXPECT_EQ(box.text.rfind("An error 5 occured on CreateFile:\n\n", 0), 0u) << box.text;
  EXPECT_NE(box.text.find("another program"), std::string::npos) << box.text;
  EXPECT_NE(box.text.find("dialout"), std::string::npos) << box.text;
}

TEST_F(PortCommandTest, ARoundingDriverIsReportedAndTheSpeedFollowsIt) {
  Open();
  ASSERT_TRUE(qv::comm::SetBaudPolicy("vloop0", {qv::comm::BaudPolicy::kNearest,
                                                 {9600, 57600, 115200, 921600}}));
  TypePort(QStringLiteral("vloop0"));
  ChooseSpeed(QStringLiteral("806400 bps"));  // closed: only the stored default changes
  boxes_.Answer(IDOK);
  Toggle();
  ASSERT_TRUE(IsOpen());
  ASSERT_EQ(boxes_.Count(), 1u);
  EXPECT_EQ(boxes_.Boxes()[0].text,
            "The driver did not accept baudrate 806400 bps\nand switched to another baudrate: "
            "921600 bps");
  EXPECT_EQ(boxes_.Boxes()[0].caption, "quor_vix");
  EXPECT_EQ(boxes_.Boxes()[0].flags & MB_ICONMASK, MB_ICONEXCLAMATION);
  // 921600 is not offered: the selection stays.
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_SPEED), "806400 bps");

  // While open the speed applies at once; rounded again, to an offered one this time.
  boxes_.Clear();
  boxes_.Answer(IDOK);
  ChooseSpeed(QStringLiteral("38400 bps"));
  EXPECT_EQ(StateOf(hPort).BaudRate, 57600u);
  ASSERT_EQ(boxes_.Count(), 1u);
  EXPECT_EQ(boxes_.Boxes()[0].text,
            "The driver did not accept baudrate 38400 bps\nand switched to another baudrate: "
            "57600 bps");
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_SPEED), "57600 bps");

  // A rate the driver keeps: no box.
  boxes_.Clear();
  ChooseSpeed(QStringLiteral("9600 bps"));
  EXPECT_EQ(StateOf(hPort).BaudRate, 9600u);
  EXPECT_EQ(boxes_.Count(), 0u);
  Toggle();
}

TEST_F(PortCommandTest, SpeedChangedWhileClosedBecomesThePortsDefault) {
  Open();
  ChoosePort("vloop0");
  ChooseSpeed(QStringLiteral("19200 bps"));
  EXPECT_EQ(StoredDefaultSpeed("vloop0"), 19200u);
  ChooseSpeed(QStringLiteral("4800 bps"));
  EXPECT_EQ(StoredDefaultSpeed("vloop0"), 4800u);

  // Shown again when the port is chosen again after another one.
  ChoosePort("vphone0");
  EXPECT_NE(Dlg().GetDlgItemText(IDC_SPEED), "4800 bps");
  ChoosePort("vloop0");
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_SPEED), "4800 bps");

  // A port that is not there keeps no default, silently.
  TypePort(QStringLiteral("\\\\.\\nosuchport0"));
  ChooseSpeed(QStringLiteral("2400 bps"));
  EXPECT_EQ(StoredDefaultSpeed("nosuchport0"), 0u);
  EXPECT_EQ(boxes_.Count(), 0u);
}

TEST_F(PortCommandTest, ConfigurationDialogOnAnOpenPort) {
  Open();
  TypePort(QStringLiteral("vloop0"));
  Dlg().SelectSpeed(115200);
  Toggle();
  ASSERT_TRUE(IsOpen());

  // OK: the choice applies to the open port and the speed combo and the states panel follow.
  configDialogs_.Accept([](DCB& dcb) {
    dcb.BaudRate = 57600;
    dcb.ByteSize = 7;
    dcb.Parity = EVENPARITY;
  });
  Dlg().SendCommand(IDC_PORTCONFIG);
  ASSERT_EQ(configDialogs_.Requests().size(), 1u);
  EXPECT_EQ(configDialogs_.Requests()[0].device, "vloop0");
  EXPECT_EQ(configDialogs_.Requests()[0].dcb.BaudRate, 115200u);
  DCB dcb = StateOf(hPort);
  EXPECT_EQ(dcb.BaudRate, 57600u);
  EXPECT_EQ(dcb.ByteSize, 7);
  EXPECT_EQ(dcb.Parity, EVENPARITY);
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_SPEED), "57600 bps");
  EXPECT_EQ(Dlg().StatesPanel()->ConnectionState(), 2);

  // Cancel is no error: what was read before the dialog is written back, and the states panel
  // still hears of it. (The scripted dialog changes the port meanwhile to tell the two apart.)
  Dlg().StatesPanel()->SetConnectionState(1);
  class ChangeThenCancel : public qv::ui::CommConfigProvider {
   public:
    qv::ui::CommConfigResult RunCommConfigDialog(const qv::ui::CommConfigRequest&) override {
      DCB changed = StateOf(hPort);
      changed.BaudRate = 2400;
      SetCommState(hPort, &changed);
      return {};  // ERROR_CANCELLED
    }
  } changeThenCancel;
  qv::ui::SetCommConfigProvider(&changeThenCancel);
  Dlg().SendCommand(IDC_PORTCONFIG);
  qv::ui::SetCommConfigProvider(&configDialogs_);
  EXPECT_EQ(StateOf(hPort).BaudRate, 57600u);
  EXPECT_EQ(Dlg().StatesPanel()->ConnectionState(), 2);
  EXPECT_EQ(boxes_.Count(), 0u);

  // A dialog that fails: the error box, nothing written.
  Dlg().StatesPanel()->SetConnectionState(1);
  configDialogs_.Fail(ERROR_NOT_ENOUGH_MEMORY);
  boxes_.Answer(IDOK);
  Dlg().SendCommand(IDC_PORTCONFIG);
  ASSERT_EQ(boxes_.Count(), 1u);
  EXPECT_EQ(boxes_.Boxes()[0].text.rfind("An error 8 occured on CommConfigDialog:\n\n", 0), 0u)
      << boxes_.Boxes()[0].text;
  EXPECT_EQ(Dlg().StatesPanel()->ConnectionState(), 1);
  Toggle();
}

TEST_F(PortCommandTest, ConfigurationDialogOnAClosedPortStoresTheDefault) {
  Open();
  ChoosePort("vloop0");
  const int dumps = DumpsOf("DEFAULTCOMMCONFIG");
  configDialogs_.Accept([](DCB& dcb) {
    dcb.BaudRate = 38400;
    qv::ui::ApplyFlowControl(dcb, qv::ui::FlowControl::kHardware);
  });
  Dlg().SendCommand(IDC_PORTCONFIG);
  EXPECT_EQ(StoredDefaultSpeed("vloop0"), 38400u);
  // The defaults are shown again, and the speed combo follows them.
  EXPECT_EQ(DumpsOf("DEFAULTCOMMCONFIG"), dumps + 1);
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_SPEED), "38400 bps");
  // A port opened afterwards starts from that default (flow control kept), at the chosen speed.
  Toggle();
  ASSERT_TRUE(IsOpen());
  EXPECT_EQ(qv::ui::FlowControlOf(StateOf(hPort)), qv::ui::FlowControl::kHardware);
  EXPECT_EQ(StateOf(hPort).BaudRate, 38400u);
  Toggle();

  // No such port: the read fails and nothing else happens.
  TypePort(QStringLiteral("\\\\.\\nosuchport0"));
  boxes_.Answer(IDOK);
  Dlg().SendCommand(IDC_PORTCONFIG);
  ASSERT_EQ(boxes_.Count(), 1u);
  EXPECT_EQ(boxes_.Boxes()[0].text.rfind("An error 2 occured on GetDefaultCommConfig:\n\n", 0), 0u);
  EXPECT_EQ(configDialogs_.Requests().size(), 1u);
}

TEST_F(PortCommandTest, RefreshingWhileOpenLeavesThePortText) {
  Open();
  ChoosePort("vloop0");
  Toggle();
  ASSERT_TRUE(IsOpen());
  Dlg().RefreshPortList();
  EXPECT_EQ(PortText(), "\\\\.\\vloop0");
  EXPECT_FALSE(PortCombo()->isEnabled());
  Toggle();
}

TEST_F(PortCommandTest, EngineCloseRequestIsPostedAndTogglesThePortClosed) {
  Open();
  TypePort(QStringLiteral("vloop0"));
  Toggle();
  ASSERT_TRUE(IsOpen());
  // Posted, never run inside the call.
  static_cast<ConsoleSink&>(Dlg()).RequestClose();
  EXPECT_TRUE(IsOpen());
  ASSERT_TRUE(WaitUntil([&] { return !IsOpen(); }));
  ExpectClosedControls();

  // The far end of a pty pair hangs up: the read fails, the engine reports it and asks for the
  // close, which runs through the same toggle.
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  TypePort(QString::fromStdString(pty.path()));
  Toggle();
  ASSERT_TRUE(IsOpen());
  boxes_.Answer(IDOK);
  boxes_.Answer(IDOK);
  pty.CloseFarEnd();
  ASSERT_TRUE(WaitUntil([&] { return !IsOpen(); }, 10000));
  ExpectClosedControls();
  ASSERT_GE(boxes_.Count(), 1u);
  EXPECT_EQ(boxes_.Texts()[0].rfind("Unexpected ", 0), 0u) << boxes_.Texts()[0];
}

TEST(PortDefaultsLine, ModemSettingsAreReadOnlyWithinTheRecord) {
  std::vector<DWORD> words(kCommConfigBufferSize / sizeof(DWORD), 0);
  auto* bytes = reinterpret_cast<BYTE*>(words.data());
  COMMCONFIG head{};
  head.wVersion = 1;
  head.dwProviderSubType = PST_MODEM;
  head.dwProviderOffset = offsetof(COMMCONFIG, wcProviderData);
  std::memcpy(bytes, &head, sizeof head);
  MODEMSETTINGS ms{};
  ms.dwActualSize = ms.dwRequiredSize = 52;
  ms.dwDevSpecificOffset = offsetof(MODEMSETTINGS, abVariablePortion);
  ms.dwDevSpecificSize = 0xFFFF;  // claims far more than the record holds
  ms.dwCallSetupFailTimer = 0x3c;
  ms.dwNegotiatedDCERate = 115200;
  BYTE* settings = bytes + head.dwProviderOffset;
  std::memcpy(settings, &ms, offsetof(MODEMSETTINGS, abVariablePortion));
  const char16_t text[] = u"AT&F";
  std::memcpy(settings + ms.dwDevSpecificOffset, text, 8);
  const DWORD size = head.dwProviderOffset + ms.dwDevSpecificOffset + 8;

  EXPECT_EQ(qv::console::DefaultCommConfigLine(bytes, size),
            "DEFAULTCOMMCONFIG 1 6\r\nMODEMSETTINGS 52/52 65535:'AT&F' 3c 0 0 0 0  0 115200");
  // Provider data said to lie beyond the valid bytes is left out.
  head.dwProviderOffset = 1050;
  std::memcpy(bytes, &head, sizeof head);
  EXPECT_EQ(qv::console::DefaultCommConfigLine(bytes, 1076), "DEFAULTCOMMCONFIG 1 6");
}

TEST_F(PortCommandTest, TwoHundredCyclesThroughTheToggleLeakNothing) {
  Open();
  TypePort(QStringLiteral("vloop0"));
  Dlg().Item<QAbstractButton>(IDC_VERBOSE)->click();  // the engine's dumps need not pile up
  // One cycle first, so that everything created once (the port object, Qt's helpers) exists.
  Toggle();
  Toggle();
  const int fds = qv::sync::CountProcess().fds;
  const int threads = qv::sync::CountProcess().threads;
  for (int i = 0; i < 200; ++i) {
    Toggle();
    ASSERT_TRUE(IsOpen()) << "cycle " << i;
    Toggle();
    ASSERT_FALSE(IsOpen()) << "cycle " << i;
  }
  // Threads that have ended may take a moment to leave the task list.
  EXPECT_TRUE(WaitUntil([&] { return qv::sync::CountProcess().threads <= threads; }, 5000))
      << qv::sync::CountProcess().threads << " threads, " << threads << " before";
  EXPECT_EQ(qv::sync::CountProcess().fds, fds);
  EXPECT_EQ(boxes_.Count(), 0u);
}

}  // namespace
}  // namespace qv::test
