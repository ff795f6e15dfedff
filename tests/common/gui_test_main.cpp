// Entry point of the GUI suites: a QApplication for the widgets (offscreen under CTest).
#include <gtest/gtest.h>

#include <QApplication>

#include "platform/ui/qt/qt_ui.h"

int main(int argc, char** argv) {
  // Test discovery runs the suite without CTest's environment: stay offscreen there too.
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  // Error boxes find their owner window as in the program.
  qv::ui::SetThreadWindowLookup(&qv::ui::FirstVisibleUnownedQtWindow);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
