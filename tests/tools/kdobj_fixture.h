// The object command panel inside a real console, offscreen: a scratch current directory for
// the files it names, settings in a temporary folder, scripted boxes and file dialogs.
#pragma once

#include <QAbstractButton>
#include <QComboBox>
#include <QCoreApplication>
#include <filesystem>
#include <ostream>
#include <string>

#include "drivertests/port_handle.h"
#include "engine/comm.h"
#include "platform/comm/virtual_port_control.h"
#include "tests/console/console_fixture.h"
#include "tests/console/send_fixture.h"
#include "tools/tool_kdobj.h"

// Captions and fields read as text in failure messages.
inline void PrintTo(const QString& text, std::ostream* os) {
  *os << '"' << text.toStdString() << '"';
}

namespace qv::test {

class KdobjTest : public ConsoleTest {
 protected:
  void SetUp() override {
    ConsoleTest::SetUp();
    previousDir_ = std::filesystem::current_path();
    scratch_ = std::filesystem::temp_directory_path() /
               ("qv_kdobj_" + std::to_string(::getpid()) + "_" + std::to_string(++counter_));
    std::filesystem::create_directories(scratch_);
    std::filesystem::current_path(scratch_);
    CommConnection.LogData = 0;
  }
  void TearDown() override {
    ConsoleTest::TearDown();  // an open port is closed with the console
    StopComm(0);
    if (hPort != INVALID_HANDLE_VALUE) CloseHandle(hPort);
    hPort = INVALID_HANDLE_VALUE;
    qv::comm::ResetVirtualPort("vphone0");
    CommConnection.LogData = 0;
    std::filesystem::current_path(previousDir_);
    std::filesystem::remove_all(scratch_);
  }

  CToolKDOBJ& Panel() { return *Dlg().KdobjPanel(); }
  QString Caption(int id) { return Panel().GetDlgItemText(id); }
  bool Enabled(int id) { return Panel().GetDlgItem(id)->isEnabled(); }
  QComboBox* Combo(int id) { return Panel().Item<QComboBox>(id); }
  std::string Here(const std::string& name) { return (scratch_ / name).string(); }

  // Typing into a field, and the posted notices that follow handled.
  void Type(int id, const QString& text) {
    if (QComboBox* combo = Combo(id)) combo->setEditText(text);
    else Panel().SetDlgItemText(id, text);
    QCoreApplication::processEvents();
  }
  // The user picks a row of a combo's list.
  void Choose(int id, int row) {
    QComboBox* combo = Combo(id);
    combo->setCurrentIndex(row);
    emit combo->activated(row);
    QCoreApplication::processEvents();
  }
  int RowBeginning(int id, const QString& start) {
    QComboBox* combo = Combo(id);
    for (int i = 0; i < combo->count(); ++i)
      if (combo->itemText(i).startsWith(start)) return i;
    ADD_FAILURE() << "no row begins with " << start.toStdString();
    return -1;
  }
  void Click(int id) {
    Panel().Item<QAbstractButton>(id)->click();
    QCoreApplication::processEvents();
  }

  // Opens the port through the console's Open/Close command, as the user does.
  void OpenPort(const QString& name) {
    Dlg().Item<QComboBox>(IDC_PORT)->setEditText(name);
    Dlg().SendCommand(IDC_OPENCLOSE);
    ASSERT_NE(hPort, INVALID_HANDLE_VALUE) << name.toStdString();
  }
  void ClosePort() {
    Dlg().SendCommand(IDC_OPENCLOSE);
    ASSERT_EQ(hPort, INVALID_HANDLE_VALUE);
  }

 private:
  std::filesystem::path previousDir_;
  std::filesystem::path scratch_;
  static inline int counter_ = 0;
};

}  // namespace qv::test
