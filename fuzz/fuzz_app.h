// The application object of the targets that use widgets, fonts or the settings store: made once,
// offscreen, with the settings store in a folder of its own that is removed at exit.
#pragma once

#include <QApplication>
#include <QDir>
#include <QString>
#include <QTemporaryDir>
#include <cstdlib>

#include "platform/store/profile_store.h"

namespace qv::fuzz {

inline QApplication& App() {
  static int argc = 1;
  static char name[] = "quor_vix-fuzz";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    return new QApplication(argc, argv);
  }();
  return *app;
}

// A folder for the settings store and the per-port files; also $XDG_CONFIG_HOME. Removed at exit.
inline QString StoreFolder() {
  static QTemporaryDir folder(QDir::tempPath() + "/qv-fuzz-XXXXXX");
  static const bool applied = [] {
    qv::store::UseFolderForTests(folder.path());
    ::setenv("XDG_CONFIG_HOME", folder.path().toLocal8Bit().constData(), 1);
    return true;
  }();
  (void)applied;
  return folder.path();
}

}  // namespace qv::fuzz
