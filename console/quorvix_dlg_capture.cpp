// The capture of the line from the log view's context menu: "Start capture..." asks for a file
// with the program's file dialog (its folder remembered), "Stop capture" ends it. While it runs
// the title says so. The log view itself stays as it is: the capture is beside it.
#include <QMenu>
#include <QPointer>
#include <string>

#include "capture/capture_writer.h"
#include "console/quorvix_dlg.h"
#include "drivertests/port_handle.h"
#include "drivertests/port_path.h"
#include "platform/comm/comm_api.h"
#include "platform/ui/message_box.h"
#include "platform/ui/qt/qt_ui.h"
#include "platform/ui/qt/queued_call.h"
#include "support/file_dialog_ex.h"

namespace {

constexpr const char* kCaptureFilter = "Capture files|*.txt|All files|*.*||";
constexpr const char* kCaptureFileName = "capture.txt";

}  // namespace

bool CQuorvixDlg::CaptureRunning() const { return qv::capture::LineCapture().Running(); }

void CQuorvixDlg::AddCaptureActions(QMenu& menu) {
  QAction* start =
      menu.addAction(QStringLiteral("Start capt&ure..."), this, [this] { OnStartCapture(); });
  start->setEnabled(!CaptureRunning());
  QAction* stop =
      menu.addAction(QStringLiteral("St&op capture"), this, [this] { OnStopCapture(); });
  stop->setEnabled(CaptureRunning());
}

void CQuorvixDlg::OnStartCapture() {
  qv::capture::CaptureWriter& capture = qv::capture::LineCapture();
  if (capture.Running()) return;
  // A capture that stopped by itself has ended its thread; it is collected before the next.
  capture.Stop();
  CFileDialogEx dialog(FALSE, "txt", kCaptureFileName,
                       OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT | OFN_NOCHANGEDIR, kCaptureFilter,
                       this);
  if (dialog.DoModal() != IDOK) return;
  const std::string path = dialog.GetPathName();

  const std::string port = PortNameFromCombo();
  std::string settings = "closed";
  if (hPort != INVALID_HANDLE_VALUE) {
    DCB dcb{};
    if (GetCommState(hPort, &dcb)) settings = qv::drivertests::DescribeLineSettings(dcb);
  }
  QPointer<CQuorvixDlg> self(this);
  capture.SetOnFailure([self, path](const std::string& reason) {
    // On the writer's thread: the box and the stop belong to the UI thread.
    if (self) {
      qv::ui::QueueCall(self.data(), [self, path, reason] {
        if (self) self->OnCaptureFailed(path, reason);
      });
    }
  });
  std::string error;
  if (!capture.StartFile(path, port, settings, &error)) {
    const std::string text = "The capture cannot start:\n\n" + error +
                             "\n\nChoose a folder you may write to, on a disk with free space. "
                             "The port goes on as it was.";
    MessageBoxA(qv::ui::ToHwnd(this), text.c_str(), "quor_vix", MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  ShowCaptureInTitle();
}

void CQuorvixDlg::OnStopCapture() {
  qv::capture::LineCapture().Stop();
  ShowCaptureInTitle();
}

void CQuorvixDlg::OnCaptureFailed(const std::string& path, const std::string& reason) {
  // Only the capture that failed: one started since (after a Stop) has no failure of its own.
  qv::capture::CaptureWriter& capture = qv::capture::LineCapture();
  if (!capture.Failure().empty()) capture.Stop();
  ShowCaptureInTitle();
  const std::string text = "The capture stopped:\n\n" + reason +
                           "\n\nWhat was written before stays in " + path +
                           ". The port goes on as it was.";
  MessageBoxA(qv::ui::ToHwnd(this), text.c_str(), "quor_vix", MB_OK | MB_ICONEXCLAMATION);
}

void CQuorvixDlg::ShowCaptureInTitle() {
  if (baseTitle_.isEmpty()) return;
  const qv::capture::CaptureWriter& capture = qv::capture::LineCapture();
  if (!capture.Running()) {
    setWindowTitle(baseTitle_);
    return;
  }
  setWindowTitle(baseTitle_ + QStringLiteral(" - capturing to ") +
                 QString::fromLocal8Bit(capture.Path()));
}
