// The console with its test panel, offscreen, for the timeouts and write-then-interrupt tests:
// port names typed into the console's combo, clicks by control ID, scripted boxes, and a check
// that every test thread has ended when a test is over.
#pragma once

#include <QComboBox>
#include <QCoreApplication>
#include <string>

#include "console/quorvix_dlg.h"
#include "drivertests/port_handle.h"
#include "platform/comm/comm_api.h"
#include "platform/comm/virtual_port_control.h"
#include "platform/sync/debug_output.h"
#include "platform/sync/thread.h"
#include "tests/console/console_fixture.h"
#include "tools/tool_tests.h"

namespace qv::test {

class IoPanelTest : public ConsoleTest {
 protected:
  void SetUp() override {
    ConsoleTest::SetUp();
    qv::sync::SetDebugOutputToStderr(false);
    threadsBefore_ = qv::sync::RunningThreadCount();
    Open();
  }
  void TearDown() override {
    Close();  // closes a port left open: blocked test threads return
    // Every thread a test started (an abandoned one included) has ended.
    EXPECT_TRUE(WaitUntil([&] { return qv::sync::RunningThreadCount() <= threadsBefore_; }))
        << qv::sync::RunningThreadCount() << " threads still running";
    qv::comm::ResetVirtualPort("vloop0");
    ConsoleTest::TearDown();
    qv::sync::SetDebugOutputToStderr(true);
  }

  CToolTests& Panel() { return *Dlg().TestsPanel(); }
  void Click(int id) { Panel().SendCommand(id); }
  std::string PanelText(int id) { return Panel().GetDlgItemText(id).toStdString(); }
  bool PanelEnabled(int id) { return Panel().GetDlgItem(id)->isEnabled(); }
  std::string ConsoleText(int id) { return Dlg().GetDlgItemText(id).toStdString(); }

  void UsePort(const std::string& name, int speed = 115200) {
    Dlg().Item<QComboBox>(IDC_PORT)->setEditText(QString::fromStdString(name));
    ASSERT_TRUE(Dlg().SelectSpeed(speed));
  }
  // The console's Open/Close, as the user clicks it.
  void OpenClose() { Dlg().SendCommand(IDC_OPENCLOSE); }

  // Waits (serving the UI) until the scripted boxes have shown count boxes.
  bool WaitForBoxes(std::size_t count, int ms = 10000) {
    return WaitUntil([&] { return boxes_.Count() >= count; }, ms);
  }

 private:
  int threadsBefore_ = 0;
};

}  // namespace qv::test
