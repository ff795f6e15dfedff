// The states panel on the virtual loop-back plug (RTS -> CTS, DTR -> DSR and DCD): the lines it
// shows and drives, output held by CTS flow control and the labels that turn red (on a serial
// tty too), the status word's caption, the handshake and toggle modes of the RTS box, purge,
// queue sizes, and the flow-control boxes carried from one connection to the next.
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tests/common/fake_serial_tty.h"
#include "tests/tools/states/states_fixture.h"

namespace qv::test {
namespace {

TEST_F(StatesTest, LoopbackLinesFollowRtsAndDtr) {
  EXPECT_FALSE(Enabled(IDC_RTS)) << "closed: every control disabled";
  EXPECT_FALSE(Enabled(IDC_SIGNALS_IN));
  EXPECT_FALSE(Panel().IsPolling());
  OpenPort("vloop0");
  EXPECT_TRUE(Enabled(IDC_RTS));
  EXPECT_TRUE(Enabled(IDC_IN_QUEUE_SIZE));
  EXPECT_TRUE(Panel().IsPolling());
  ASSERT_TRUE(WaitPolls(2));
  EXPECT_EQ(State(IDC_RTS), BST_CHECKED);
  EXPECT_EQ(State(IDC_DTR), BST_CHECKED);
  EXPECT_EQ(State(IDC_CTS), BST_CHECKED);
  EXPECT_EQ(State(IDC_DSR), BST_CHECKED);
  EXPECT_EQ(State(IDC_RLSD), BST_CHECKED);
  EXPECT_EQ(State(IDC_RING), BST_UNCHECKED);
  EXPECT_TRUE(Enabled(IDC_SIGNALS_IN));
  EXPECT_FALSE(Red(IDC_DTR));

  // A plain click between on and off moves the line only; the control mode stays "enable".
  Click(IDC_RTS);
  EXPECT_EQ(State(IDC_RTS), BST_UNCHECKED);
  EXPECT_EQ(PortState().fRtsControl, RTS_CONTROL_ENABLE);
  EXPECT_TRUE(PollUntil([&] { return State(IDC_CTS) == BST_UNCHECKED; }));
  EXPECT_EQ(State(IDC_DSR), BST_CHECKED);

  Click(IDC_DTR);
  EXPECT_EQ(State(IDC_DTR), BST_UNCHECKED);
  EXPECT_TRUE(Red(IDC_DTR)) << "an unchecked DTR box is drawn red";
  EXPECT_EQ(PortState().fDtrControl, DTR_CONTROL_ENABLE);
  EXPECT_TRUE(PollUntil([&] { return State(IDC_DSR) == BST_UNCHECKED; }));
  EXPECT_TRUE(PollUntil([&] { return State(IDC_RLSD) == BST_UNCHECKED; }));

  Click(IDC_RTS);
  Click(IDC_DTR);
  EXPECT_FALSE(Red(IDC_DTR));
  EXPECT_TRUE(PollUntil([&] {
    return State(IDC_CTS) == BST_CHECKED && State(IDC_DSR) == BST_CHECKED &&
           State(IDC_RLSD) == BST_CHECKED;
  }));

  Click(IDC_BREAK);
  ClickOpenClose();
  EXPECT_EQ(hPort, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(Panel().IsPolling());
  EXPECT_FALSE(Enabled(IDC_RTS));
  EXPECT_FALSE(Enabled(IDC_PURGE_ALL));
  OpenPort("vloop0");
  EXPECT_EQ(State(IDC_BREAK), BST_UNCHECKED) << "the break ended with the port it was set on";
}

// On vloop0, and on a serial tty whose CTS follows RTS as through a loop-back plug (the held bytes
// sit in the kernel's output queue there).
class HeldOutputTest : public StatesTest, public ::testing::WithParamInterface<bool> {
 protected:
  std::unique_ptr<FakeSerialTty> tty_;  // outlives the port, which the tear-down closes
};

TEST_P(HeldOutputTest, OutputHeldByCtsIsShownRedUntilItGoes) {
  if (GetParam()) {
    tty_ = std::make_unique<FakeSerialTty>(/*echo=*/true);
    ASSERT_TRUE(tty_->ok());
    tty_->SetCtsFollowsRts();
  }
  OpenPort(tty_ ? QString::fromStdString(tty_->path()) : "vloop0");
  ASSERT_EQ(State(IDC_CTS_FLOW), BST_CHECKED) << "a new panel starts with CTS flow control";
  EXPECT_EQ(PortState().fOutxCtsFlow, 1u);
  ASSERT_TRUE(PollUntil([&] { return State(IDC_CTS) == BST_CHECKED; }));
  Click(IDC_RTS);  // the plug's CTS follows RTS
  ASSERT_TRUE(PollUntil([&] { return State(IDC_CTS) == BST_UNCHECKED; }));

  SendLine(QString(200, QLatin1Char('A')));  // 200 bytes, then CR LF as a request of its own
  ASSERT_TRUE(PollUntil([&] { return Text(IDC_OUT_QUEUE) == "200"; }))
      << Text(IDC_OUT_QUEUE).toStdString();
  ASSERT_TRUE(WaitPolls(1));
  EXPECT_EQ(Text(IDC_OUT_QUEUE), "200") << "held: nothing leaves";
  // The write thread hands the driver one request at a time: CR LF waits behind the 200.
  EXPECT_EQ(Text(IDC_WRITE_COUNTS), "0/200");
  const DWORD held = kAlertOutQueued | kAlertWritePending | kAlertCtsHold;
  EXPECT_EQ(Panel().AlertFlags() & held, held);
  for (const int id : {IDC_OUT_QUEUE, IDC_CTS, IDC_CTS_FLOW, IDC_WRITE_COUNTS})
    EXPECT_TRUE(Red(id)) << id;
  for (const int id : {IDC_DSR, IDC_DSR_FLOW, IDC_BREAK, IDC_IN_QUEUE, IDC_SIGNALS_IN, IDC_RTS,
                       IDC_DTR, IDC_DSR_SENSITIVITY, IDC_READ_COUNT})
    EXPECT_FALSE(Red(id)) << id;

  Click(IDC_RTS);
  EXPECT_TRUE(PollUntil([&] {
    return Text(IDC_OUT_QUEUE) == "0" && Text(IDC_WRITE_COUNTS) == "202/202" &&
           Text(IDC_READ_COUNT) == "202";
  })) << Text(IDC_WRITE_COUNTS).toStdString()
      << " " << Text(IDC_READ_COUNT).toStdString();
  EXPECT_TRUE(WaitPolls(1));
  EXPECT_EQ(Panel().AlertFlags() & held, 0u);
  for (const int id : {IDC_OUT_QUEUE, IDC_CTS, IDC_CTS_FLOW, IDC_WRITE_COUNTS})
    EXPECT_FALSE(Red(id)) << id;
}

INSTANTIATE_TEST_SUITE_P(Lines, HeldOutputTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "SerialTty" : "vloop0"; });

TEST_F(StatesTest, HeldOutputDuringBreakAndWithoutDsrIsNamed) {
  OpenPort("vloop0");
  Click(IDC_DSR_FLOW);  // DSR output flow, on top of CTS
  ASSERT_EQ(PortState().fOutxDsrFlow, 1u);
  ASSERT_TRUE(PollUntil([&] { return State(IDC_DSR) == BST_CHECKED; }));
  Click(IDC_DTR);  // the plug's DSR follows DTR: output stops
  ASSERT_TRUE(PollUntil([&] { return State(IDC_DSR) == BST_UNCHECKED; }));
  Click(IDC_BREAK);
  SendLine("held");
  ASSERT_TRUE(PollUntil([&] { return (Panel().AlertFlags() & kAlertDsrHold) != 0; }));
  EXPECT_TRUE(Red(IDC_DSR));
  EXPECT_TRUE(Red(IDC_DSR_FLOW));
  EXPECT_TRUE(Red(IDC_BREAK));
  EXPECT_FALSE(Red(IDC_CTS)) << "CTS is on: it holds nothing";

  Click(IDC_BREAK);
  Click(IDC_DTR);
  EXPECT_TRUE(PollUntil([&] { return Text(IDC_READ_COUNT) == "6"; }));
  EXPECT_TRUE(WaitPolls(1));
  EXPECT_FALSE(Red(IDC_DSR));
  EXPECT_FALSE(Red(IDC_BREAK));
}

TEST_F(StatesTest, BoxesActivatedThroughAccessibilityGoThroughTheirHandlers) {
  OpenPort("vloop0");
  ASSERT_TRUE(PollUntil([&] { return State(IDC_CTS) == BST_CHECKED; }));
  const auto act = [&](int id, const QString& action) {
    QAccessible::queryAccessibleInterface(Panel().GetDlgItem(id))
        ->actionInterface()
        ->doAction(action);
  };
  // The plug's CTS follows RTS, its DSR follows DTR. A press turns the line off, a toggle on.
  for (const auto& line : {std::pair{IDC_RTS, MS_CTS_ON}, std::pair{IDC_DTR, MS_DSR_ON}}) {
    for (const bool on : {false, true}) {
      act(line.first, on ? QAccessibleActionInterface::toggleAction()
                         : QAccessibleActionInterface::pressAction());
      EXPECT_TRUE(
          PollUntil([&] { return State(line.first) == (on ? BST_CHECKED : BST_UNCHECKED); }));
      // The plug answers the line change on its own thread: its input line follows shortly.
      EXPECT_TRUE(PollUntil([&] {
        DWORD status = 0;
        return GetCommModemStatus(hPort, &status) && ((status & line.second) != 0) == on;
      })) << line.first;
    }
  }
  // A box that only shows a line stays as the line is.
  act(IDC_CTS, QAccessibleActionInterface::toggleAction());
  QCoreApplication::processEvents();
  EXPECT_EQ(State(IDC_CTS), BST_CHECKED);
}

TEST_F(StatesTest, BreakStaysCheckedWhileTheModemLinesChange) {
  OpenPort("vloop0");
  ASSERT_TRUE(PollUntil([&] { return State(IDC_CTS) == BST_CHECKED; }));
  Click(IDC_BREAK);
  Click(IDC_RTS);  // the plug's CTS follows RTS: a new status word
  ASSERT_TRUE(PollUntil([&] { return State(IDC_CTS) == BST_UNCHECKED; }));
  EXPECT_TRUE(WaitPolls(1));
  EXPECT_EQ(State(IDC_BREAK), BST_CHECKED) << "the line is still in break";
}

TEST_F(StatesTest, AFailedCheckedCallNamesTheLineOfTheCallThatFailed) {
  OpenPort("vloop0");
  const HANDLE open = hPort;
  hPort = reinterpret_cast<HANDLE>(std::uintptr_t{0xFFFFFF0});  // a handle that is no port
  for (int i = 0; i < 3; ++i) boxes_.Answer(IDIGNORE);
  Click(IDC_RTS);                       // EscapeCommFunction
  Click(IDC_DTR, Qt::ControlModifier);  // GetCommState, into handshake
  ReleaseCtrl();
  Click(IDC_CTS_FLOW);  // GetCommState, of the line boxes
  hPort = open;
  ASSERT_EQ(boxes_.Count(), 3u);
  std::set<std::string> where;
  for (const std::string& text : boxes_.Texts()) where.insert(text.substr(text.find("\nIn: ")));
  EXPECT_EQ(where.size(), 3u) << *where.begin();
}

TEST_F(StatesTest, StatusWordWithForeignBitsIsShownWhole) {
  OpenPort("vloop0");
  ASSERT_TRUE(qv::comm::SetModemStatusExtraBits("vloop0", 0x100));
  EXPECT_TRUE(PollUntil([&] { return Text(IDC_SIGNALS_IN) == "Signals IN: 0x1B0"; }))
      << Text(IDC_SIGNALS_IN).toStdString();
  EXPECT_TRUE(Red(IDC_SIGNALS_IN));
  EXPECT_EQ(State(IDC_CTS), BST_CHECKED) << "the four lines still read as they are";

  qv::comm::SetModemStatusExtraBits("vloop0", 0);
  qv::comm::FarEndLines lines;
  lines.dcd = false;
  qv::comm::SetFarEndLines("vloop0", lines);  // 0x30: CTS and DSR
  EXPECT_TRUE(PollUntil([&] { return Text(IDC_SIGNALS_IN) == "Signals IN"; }));
  EXPECT_TRUE(WaitPolls(1));
  EXPECT_FALSE(Red(IDC_SIGNALS_IN));
  EXPECT_EQ(State(IDC_RLSD), BST_UNCHECKED);
}

TEST_F(StatesTest, DsrSensitivityWithoutDsrWarnsThatInputIsDropped) {
  OpenPort("vloop0");
  ASSERT_TRUE(PollUntil([&] { return State(IDC_DSR) == BST_CHECKED; }));
  Click(IDC_DTR);
  ASSERT_TRUE(PollUntil([&] { return State(IDC_DSR) == BST_UNCHECKED; }));
  Click(IDC_DSR_SENSITIVITY);
  EXPECT_EQ(PortState().fDsrSensitivity, 1u);
  EXPECT_TRUE(Red(IDC_DSR_SENSITIVITY)) << "at once, without waiting for the poll";
  EXPECT_TRUE(Red(IDC_DSR));
  Click(IDC_DTR);
  EXPECT_TRUE(PollUntil([&] { return !Red(IDC_DSR_SENSITIVITY) && !Red(IDC_DSR); }));
}

TEST_F(StatesTest, CtrlClickEntersAndLeavesHandshakeThroughTheLineSettings) {
  OpenPort("vloop0");
  Click(IDC_RTS);
  ASSERT_EQ(State(IDC_RTS), BST_UNCHECKED);

  Click(IDC_RTS, Qt::ControlModifier);
  EXPECT_EQ(State(IDC_RTS), BST_INDETERMINATE);
  EXPECT_EQ(PortState().fRtsControl, RTS_CONTROL_HANDSHAKE);
  // The driver raises RTS itself while its input queue has room: the plug's CTS comes back.
  EXPECT_TRUE(PollUntil([&] { return State(IDC_CTS) == BST_CHECKED; }));

  // Out of handshake with a plain click: enabled in the line settings. An escape call would be
  // refused in handshake mode and show the checked-call box, which fails the test.
  Click(IDC_RTS);
  EXPECT_EQ(State(IDC_RTS), BST_CHECKED);
  EXPECT_EQ(PortState().fRtsControl, RTS_CONTROL_ENABLE);

  // Ctrl-click from checked goes to handshake too, and a Ctrl-click there disables.
  Click(IDC_DTR, Qt::ControlModifier);
  EXPECT_EQ(State(IDC_DTR), BST_INDETERMINATE);
  EXPECT_EQ(PortState().fDtrControl, DTR_CONTROL_HANDSHAKE);
  Click(IDC_DTR, Qt::ControlModifier);
  EXPECT_EQ(State(IDC_DTR), BST_UNCHECKED);
  EXPECT_EQ(PortState().fDtrControl, DTR_CONTROL_DISABLE);
  EXPECT_EQ(boxes_.Count(), 0u);
}

TEST_F(StatesTest, ToggleModeShowsIndeterminateAndIsKeptUntilClicked) {
  OpenPort("vloop0");
  DCB dcb = PortState();
  dcb.fRtsControl = RTS_CONTROL_TOGGLE;
  ASSERT_TRUE(SetCommState(hPort, &dcb));
  Panel().SetConnectionState(2);  // as after the console's configuration dialog
  EXPECT_EQ(State(IDC_RTS), BST_INDETERMINATE);
  EXPECT_EQ(PortState().fRtsControl, RTS_CONTROL_TOGGLE) << "written back unchanged";
  Click(IDC_DSR_FLOW);  // writes all boxes to the port
  EXPECT_EQ(PortState().fRtsControl, RTS_CONTROL_TOGGLE);
  Click(IDC_RTS);
  EXPECT_EQ(State(IDC_RTS), BST_CHECKED);
  EXPECT_EQ(PortState().fRtsControl, RTS_CONTROL_ENABLE);
}

TEST_F(StatesTest, PurgeAllZeroesTheCountersAndQueueSizesReachTheOpenPort) {
  OpenPort("vloop0");
  SendLine("hello");
  ASSERT_TRUE(
      PollUntil([&] { return Text(IDC_WRITE_COUNTS) == "7/7" && Text(IDC_READ_COUNT) == "7"; }));
  Click(IDC_PURGE_ALL);
  EXPECT_EQ(Text(IDC_WRITE_COUNTS), "0/0");
  EXPECT_EQ(Text(IDC_READ_COUNT), "0");
  EXPECT_EQ(Panel().ReceivedBytes(), 0);
  ASSERT_TRUE(WaitPolls(1));
  EXPECT_EQ(Text(IDC_WRITE_COUNTS), "0/0");
  EXPECT_EQ(Text(IDC_READ_COUNT), "0");

  auto queueSizes = [&] {
    std::vector<BYTE> buffer(1024);
    auto* prop = reinterpret_cast<COMMPROP*>(buffer.data());
    prop->wPacketLength = WORD(buffer.size());
    GetCommProperties(hPort, prop);
    return std::make_pair(prop->dwCurrentRxQueue, prop->dwCurrentTxQueue);
  };
  EXPECT_EQ(Text(IDC_IN_QUEUE_SIZE), "4096");
  Panel().SetDlgItemText(IDC_IN_QUEUE_SIZE, "8192");
  Panel().SetDlgItemText(IDC_OUT_QUEUE_SIZE, "1024");
  EXPECT_EQ(queueSizes(), std::make_pair(DWORD(8192), DWORD(1024)));
  EXPECT_EQ(CommConnection.InQueueSize, 8192u) << "and the next connection starts with them";

  // An emptied field is refused with a prompt; its size stays.
  boxes_.Answer(IDOK);
  Panel().SetDlgItemText(IDC_IN_QUEUE_SIZE, "");
  ASSERT_EQ(boxes_.Count(), 1u);
  EXPECT_EQ(boxes_.Boxes()[0].text, "Please enter a positive integer.");
  EXPECT_EQ(queueSizes(), std::make_pair(DWORD(8192), DWORD(1024)));
}

TEST_F(StatesTest, FlowControlBoxesCarryOverUnlessCtrlTakesThemFromThePort) {
  OpenPort("vloop0");
  Click(IDC_CTS_FLOW);  // off
  Click(IDC_DSR_FLOW);  // on
  ClickOpenClose();
  OpenPort("vloop0");
  DCB dcb = PortState();
  EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
  EXPECT_EQ(dcb.fOutxDsrFlow, 1u);
  EXPECT_EQ(dcb.fDsrSensitivity, 0u);
  ClickOpenClose();

  // The port starts with other flow settings; with Ctrl held on Open the boxes follow the port.
  std::vector<DWORD> buffer(256);
  auto* config = reinterpret_cast<COMMCONFIG*>(buffer.data());
  DWORD size = DWORD(buffer.size() * sizeof(DWORD));
  ASSERT_TRUE(GetDefaultCommConfigA("vloop0", config, &size));
  config->dcb.fOutxCtsFlow = 1;
  config->dcb.fOutxDsrFlow = 0;
  config->dcb.fDsrSensitivity = 1;
  ASSERT_TRUE(SetDefaultCommConfigA("vloop0", config, size));
  OpenPort("vloop0", Qt::ControlModifier);
  EXPECT_EQ(State(IDC_CTS_FLOW), BST_CHECKED);
  EXPECT_EQ(State(IDC_DSR_FLOW), BST_UNCHECKED);
  EXPECT_EQ(State(IDC_DSR_SENSITIVITY), BST_CHECKED);
  dcb = PortState();
  EXPECT_EQ(dcb.fOutxCtsFlow, 1u);
  EXPECT_EQ(dcb.fDsrSensitivity, 1u);
}

}  // namespace
}  // namespace qv::test
