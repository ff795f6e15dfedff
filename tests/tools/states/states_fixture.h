// The states panel of a real console, offscreen: ports opened and closed with the console's
// Open/Close button, the panel's boxes clicked with the mouse (modifiers included), its poll
// waited for tick by tick.
#pragma once

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>

#include "drivertests/port_handle.h"
#include "engine/comm.h"
#include "platform/comm/comm_api.h"
#include "platform/comm/virtual_port_control.h"
#include "platform/sync/debug_output.h"
#include "support/mru_combo_box.h"
#include "tests/console/console_fixture.h"
#include "tools/states/states_controls.h"
#include "tools/tool_states.h"

namespace qv::test {

using namespace qv::states;

class StatesTest : public ConsoleTest {
 protected:
  void SetUp() override {
    ConsoleTest::SetUp();
    qv::sync::SetDebugOutputToStderr(false);
    // The engine's write counters live as long as the process.
    CommConnection.WriteRequested = 0;
    CommConnection.WriteCompleted = 0;
    Open();
    Panel().show();
    // No modifier left over from an earlier test's click.
    ReleaseCtrl();
  }
  void TearDown() override {
    ConsoleTest::TearDown();  // closes a port left open
    qv::comm::ResetVirtualPort("vloop0");
    CommConnection.InQueueSize = 4096;
    CommConnection.OutQueueSize = 4096;
    qv::sync::SetDebugOutputToStderr(true);
  }

  CToolStates& Panel() { return *Dlg().StatesPanel(); }
  QString Text(int id) { return Panel().GetDlgItemText(id); }
  UINT State(int id) { return Panel().IsDlgButtonChecked(id); }
  bool Enabled(int id) { return Panel().GetDlgItem(id)->isEnabled(); }
  bool Red(int id) { return Panel().IsDrawnRed(id); }
  DCB PortState() {
    DCB dcb{};
    GetCommState(hPort, &dcb);
    return dcb;
  }

  // A mouse click on a control, on its check mark for a check box.
  static void Click(QWidget* w, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    const QPointF at =
        qobject_cast<QPushButton*>(w) ? QPointF(w->rect().center()) : QPointF(6, w->height() / 2.0);
    QMouseEvent press(QEvent::MouseButtonPress, at, w->mapToGlobal(at), Qt::LeftButton,
                      Qt::LeftButton, modifiers);
    QApplication::sendEvent(w, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, w->mapToGlobal(at), Qt::LeftButton,
                        Qt::NoButton, modifiers);
    QApplication::sendEvent(w, &release);
  }
  void Click(int id, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    Click(Panel().GetDlgItem(id), modifiers);
  }
  void ReleaseCtrl() {
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Control, Qt::NoModifier);
    QApplication::sendEvent(&Dlg(), &release);
  }

  // Opens (or closes) the port with a click on the console's Open/Close button.
  void OpenPort(const QString& name, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    Dlg().Item<QComboBox>(IDC_PORT)->setEditText(name);
    ClickOpenClose(modifiers);
    ASSERT_NE(hPort, INVALID_HANDLE_VALUE) << name.toStdString();
    ASSERT_EQ(Panel().ConnectionState(), 1);
  }
  void ClickOpenClose(Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    Click(Dlg().GetDlgItem(IDC_OPENCLOSE), modifiers);
    if (modifiers != Qt::NoModifier) ReleaseCtrl();
  }
  void SendLine(const QString& text) {
    Dlg().SendLineCombo()->setEditText(text);
    Dlg().SendCommand(IDC_SENDLINE);
  }

  // Lets the poll run `ticks` more times (bounded; false when it did not).
  bool WaitPolls(unsigned ticks) {
    const unsigned until = Panel().PollCount() + ticks;
    return WaitUntil([&] { return Panel().PollCount() >= until; }, 10000);
  }
  // Waits until a condition holds after a poll (bounded).
  bool PollUntil(const std::function<bool()>& done) { return WaitUntil(done, 10000); }
};

}  // namespace qv::test
