// Program start: the update checker, the monitoring hook, the application object, the console.
#include <QApplication>
#include <cstdio>

#include "console/quorvix_app.h"
#include "console/update_checker.h"
#include "platform/ui/qt/qt_ui.h"
#include "support/monitoring.h"

int main(int argc, char* argv[]) {
  qv::console::LaunchUpdateChecker();
  qv::support::TheMonitoringHook();  // loaded once, unloaded at process exit
  QApplication app(argc, argv);
  qv::ui::InstallQtUi();
  CQuorvixApp theApp;
  if (!theApp.IsValid()) {
    std::fprintf(stderr, "quor_vix: the program's version resource is missing\n");
    return 1;
  }
  theApp.InitInstance();
  return 0;
}
