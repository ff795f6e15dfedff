// A console dialog driven offscreen: settings in a temporary folder, scripted message boxes and
// common dialogs, the test's thread as the UI thread.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "console/quorvix_dlg.h"
#include "platform/store/profile_store.h"
#include "platform/ui/qt/dialog_service.h"
#include "platform/ui/qt/qt_ui.h"
#include "tests/common/event_pump.h"
#include "tests/common/scripted_boxes.h"

namespace qv::test {

class ConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.isValid());
    qv::store::UseFolderForTests(folder_.path());
    // The comm layer keeps each port's default configuration per user: in the same folder.
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME")) savedXdg_ = xdg;
    setenv("XDG_CONFIG_HOME", folder_.path().toLocal8Bit().constData(), 1);
    static const bool installed = [] {
      qv::ui::InstallQtUi();
      return true;
    }();
    (void)installed;
    dialogs_.onUnanswered = [](const qv::ui::ScriptedDialogs::Request&) {
      ADD_FAILURE() << "Unexpected common dialog";
    };
  }

  void TearDown() override {
    dlg_.reset();
    if (savedXdg_.empty()) unsetenv("XDG_CONFIG_HOME");
    else setenv("XDG_CONFIG_HOME", savedXdg_.c_str(), 1);
  }

  // Builds and initialises the console as the program does before showing it.
  CQuorvixDlg& Open() {
    dlg_ = std::make_unique<CQuorvixDlg>(QStringLiteral("1.00"));
    dlg_->Create();
    dlg_->show();
    // Let the window settle (frame, deferred size corrections).
    QCoreApplication::processEvents();
    return *dlg_;
  }
  // Ends the console's window (settings written) and the object.
  void Close() {
    if (dlg_) dlg_->DestroyWindow();
    dlg_.reset();
  }
  CQuorvixDlg& Dlg() { return *dlg_; }

  static bool WaitUntil(const std::function<bool()>& done, int ms = 5000) {
    return PumpEventsUntil(done, ms);
  }

  TestMessageBoxes boxes_;
  qv::ui::ScriptedDialogs dialogs_;

 private:
  QTemporaryDir folder_;
  std::string savedXdg_;
  std::unique_ptr<CQuorvixDlg> dlg_;
};

}  // namespace qv::test
