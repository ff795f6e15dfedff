// Connects the platform's UI services to Qt: the calling thread (the one that runs the
// QApplication) becomes the UI thread, worker requests wake its event loop, and message boxes are
// drawn with QMessageBox.
#pragma once

#include "platform/ui/message_box.h"

class QWidget;

namespace qv::ui {

// Call once on the QApplication's thread after the QApplication exists.
void InstallQtUi();

// The lookup behind FirstVisibleUnownedWindowOfThisThread: only the thread that runs the
// QApplication has windows. InstallQtUi installs it (and so does the GUI suites' start).
HWND FirstVisibleUnownedQtWindow();

// Draws Win32-style boxes with QMessageBox: buttons and icon from the flags, the text selectable
// and copied whole with Ctrl+C, the box kept above the application's windows.
class QtMessageBoxes : public MessageBoxProvider {
 public:
  int Show(HWND owner, const std::string& text, const std::string& caption, UINT flags) override;
};

inline HWND ToHwnd(QWidget* widget) { return static_cast<HWND>(widget); }
inline QWidget* FromHwnd(HWND hwnd) { return static_cast<QWidget*>(hwnd); }

}  // namespace qv::ui
