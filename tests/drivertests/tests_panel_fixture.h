// The console with its "Miscellaneous tests" panel, offscreen: the panel's controls by ID, the
// console's port typed and opened as a user does, bounded waits that keep the UI thread serving.
#pragma once

#include <unistd.h>

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QTemporaryDir>
#include <filesystem>
#include <string>

#include "drivertests/port_handle.h"
#include "engine/comm.h"
#include "platform/comm/virtual_port_control.h"
#include "platform/sync/debug_output.h"
#include "tests/common/socat_cat.h"
#include "tests/console/console_fixture.h"
#include "tools/tool_tests.h"

namespace qv::test {

class TestsPanelTest : public ConsoleTest {
 protected:
  void SetUp() override {
    ConsoleTest::SetUp();
    qv::sync::SetDebugOutputToStderr(false);
    // The record files go to the current folder: a folder of the test's own.
    ASSERT_TRUE(workDir_.isValid());
    savedDir_ = QDir::currentPath();
    QDir::setCurrent(workDir_.path());
  }
  void TearDown() override {
    ConsoleTest::TearDown();  // ends the panel's threads and closes a port left open
    QDir::setCurrent(savedDir_);
    qv::comm::ResetVirtualPort("vloop0");
    CommConnection.LogData = 0;
    SetCommBlockSize(4096);
    qv::sync::SetDebugOutputToStderr(true);
  }

  CToolTests& Panel() { return *Dlg().TestsPanel(); }
  bool Enabled(int id) { return Panel().GetDlgItem(id)->isEnabled(); }
  void Click(int id) { Panel().SendCommand(id); }
  void Check(int id, bool on) {
    Panel().CheckDlgButton(id, on ? BST_CHECKED : BST_UNCHECKED);
    Panel().SendCommand(id);
  }
  // Types into an edit of the panel as a user does (each change notifies).
  void Type(int id, const QString& text) { Panel().Item<QLineEdit>(id)->setText(text); }

  void TypePort(const std::string& name) {
    Dlg().Item<QComboBox>(IDC_PORT)->setEditText(QString::fromStdString(name));
  }
  bool IsOpen() const { return hPort != INVALID_HANDLE_VALUE; }
  // Opens the typed port through the console.
  void OpenPort(const std::string& name) {
    TypePort(name);
    if (!IsOpen()) Dlg().SendCommand(IDC_OPENCLOSE);
    ASSERT_TRUE(IsOpen()) << name;
  }
  void ClosePort() {
    if (IsOpen()) Dlg().SendCommand(IDC_OPENCLOSE);
  }

  QTemporaryDir workDir_;
  QString savedDir_;
};

}  // namespace qv::test
