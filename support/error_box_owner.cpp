#include "support/error_box_owner.h"

#include <QApplication>
#include <QThread>
#include <QWidget>

#include "platform/ui/qt/qt_ui.h"

namespace qv::support {

HWND FirstVisibleUnownedWindowOfThisThread() {
  // Only the thread that runs the QApplication has windows.
  if (qApp == nullptr || QThread::currentThread() != qApp->thread()) return nullptr;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->isVisible() && widget->parentWidget() == nullptr) return qv::ui::ToHwnd(widget);
  }
  return nullptr;
}

}  // namespace qv::support
