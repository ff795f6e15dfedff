#include "console/quorvix_app.h"

#include "console/quorvix_dlg.h"
#include "support/monitoring.h"

CQuorvixApp::CQuorvixApp() : version_(nullptr) {}

bool CQuorvixApp::InitInstance() {
  qv::support::PinProcessToOneProcessor();
  // The settings company key is fixed in the settings store ("QUELM").
  {
    CQuorvixDlg dialog(QString::fromStdString(version_.GetFullVersionText()));
    dialog.DoModal();
    dialog.DestroyWindow();
  }
  qv::support::TheMonitoringHook().NotifyApplicationEnd(qv::support::ApplicationInstanceId());
  return false;
}
