// The console with its test panel, offscreen, for the configuration tests: a port opened through
// the console's own Open/Close, the panel's buttons clicked by control ID.
#pragma once

#include <QComboBox>
#include <QString>
#include <string>

#include "drivertests/port_handle.h"
#include "platform/comm/virtual_port_control.h"
#include "platform/sync/debug_output.h"
#include "tests/console/console_fixture.h"
#include "tools/tool_tests.h"

namespace qv::test {

class ConfigPanelTest : public ConsoleTest {
 protected:
  void SetUp() override {
    ConsoleTest::SetUp();
    qv::sync::SetDebugOutputToStderr(false);
    Open();
  }
  void TearDown() override {
    ConsoleTest::TearDown();  // closes a port left open
    qv::comm::ResetVirtualPort("vloop0");
    qv::sync::SetDebugOutputToStderr(true);
  }

  CToolTests& Panel() { return *Dlg().TestsPanel(); }
  std::string PanelText(int id) { return Panel().GetDlgItemText(id).toStdString(); }
  void TypePort(const std::string& text) {
    Dlg().Item<QComboBox>(IDC_PORT)->setEditText(QString::fromStdString(text));
  }
  // Opens the port through the console, as the user does.
  void OpenPort(const std::string& text) {
    TypePort(text);
    Dlg().SendCommand(IDC_OPENCLOSE);
    ASSERT_NE(hPort.Load(), INVALID_HANDLE_VALUE) << "the console did not open " << text;
  }
  // The user picks a speed entry.
  void ChooseSpeed(const QString& text) {
    auto* speed = Dlg().Item<QComboBox>(IDC_SPEED);
    speed->setCurrentIndex(speed->findText(text));
    emit speed->activated(speed->currentIndex());
  }
};

}  // namespace qv::test
