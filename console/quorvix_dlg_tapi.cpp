// The console's side of the telephony line service: its registration at start and end, the
// "Open with TAPI" button, and what a connected call's handle does to the console's port.
#include "capture/capture_writer.h"
#include "console/quorvix_dlg.h"
#include "drivertests/port_handle.h"
#include "platform/ui/qt/qt_ui.h"
#include "telephony/line_open.h"

namespace {

class ConsoleLineHost : public qv::telephony::LineOpenHost {
 public:
  explicit ConsoleLineHost(CQuorvixDlg& dlg) : dlg_(dlg) {}
  std::string PortNameFromCombo() override { return dlg_.PortNameFromCombo(); }
  void LogText(const char* text) override { dlg_.LogText(text); }
  HWND BoxOwner() override { return qv::ui::ToHwnd(&dlg_); }
  bool PortIsOpen() override { return hPort != INVALID_HANDLE_VALUE; }
  void OpenCallPort(HANDLE port) override {
    // A running capture shows the call's port opened, as it shows a port opened by name.
    qv::capture::Record(qv::capture::Kind::kOpen, dlg_.PortNameFromCombo());
    hPort = port;
    dlg_.PortOpened(1);
  }
  void ClearPort() override { hPort = INVALID_HANDLE_VALUE; }

 private:
  CQuorvixDlg& dlg_;
};

}  // namespace

void CQuorvixDlg::StartTelephony() {
  tapiHost_ = std::make_unique<ConsoleLineHost>(*this);
  tapi_ = std::make_unique<qv::telephony::TelephonyLineOpen>(*tapiHost_);
  OnCommand(IDC_OPENTAPI, [this] { tapi_->OpenWithTapi(); });
  tapi_->Initialize();
}

void CQuorvixDlg::StopTelephony() {
  if (tapi_) tapi_->Shutdown();
}
