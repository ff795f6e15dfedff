// The console's send commands: Send Line, Send, the raw file's browse and send buttons, and the
// two file sends that the object panel asks for.
//
// Text goes out as the bytes of the local 8-bit encoding, unchanged: no escapes, no conversion.
#include <QLineEdit>
#include <string>

#include "capture/capture_writer.h"
#include "console/quorvix_dlg.h"
#include "console/send_file.h"
#include "drivertests/port_handle.h"
#include "engine/comm.h"
#include "platform/comm/comm_api.h"
#include "platform/ui/qt/qt_ui.h"
#include "support/file_dialog_ex.h"
#include "support/mru_combo_box.h"
#include "tools/tool_kdobj.h"

namespace {

constexpr const char* kRawFileFilter = "All files|*.*||";

// What an object send reads from the object panel: its category and the text of its object type,
// whose leading number is the format.
qv::console::ObjectSendValues ObjectValuesOf(const CToolKDOBJ* panel) {
  qv::console::ObjectSendValues values;
  if (panel == nullptr) return values;
  values.category = panel->Category().toLocal8Bit().toStdString();
  values.objectTypeText = panel->ObjectTypeText().toLocal8Bit().toStdString();
  return values;
}

}  // namespace

void CQuorvixDlg::BindSendHandlers() {
  OnCommand(IDC_SENDLINE, [this] { OnSendLine(); });
  OnCommand(IDC_SEND, [this] { OnSend(); });
  OnCommand(IDC_BROWSE, [this] { OnBrowse(); });
  // The file named in the edit field at the moment of the click.
  OnCommand(IDC_SENDFILE, [this] {
    UpdateData(true);
    SendFile(m_FileName.toLocal8Bit().constData());
  });
}

void CQuorvixDlg::OnSendLine() {
  if (sendLine_ == nullptr) return;
  const QString text = sendLine_->currentText();
  sendLine_->Add(text);
  // The text, then CR LF as a request of its own; an empty text sends the line end only.
  WriteCommLineFrom("line", text.toLocal8Bit().constData());
  SelectSentText();
}

void CQuorvixDlg::OnSend() {
  if (sendLine_ == nullptr) return;
  const QString text = sendLine_->currentText();
  sendLine_->Add(text);
  const QByteArray bytes = text.toLocal8Bit();
  if (bytes.size() == 1) {
    // One character goes out at once, ahead of anything queued; its result is not checked, but
    // a capture shows it only when the driver took it.
    if (TransmitCommChar(hPort, bytes[0]))
      qv::capture::Record(qv::capture::Kind::kTx, "char", bytes.constData(), 1);
  } else {
    WriteCommBufferFrom("send", reinterpret_cast<const BYTE*>(bytes.constData()),
                        DWORD(bytes.size()));
  }
  SelectSentText();
}

void CQuorvixDlg::SelectSentText() {
  // The next typing replaces what was sent.
  if (QLineEdit* edit = sendLine_->lineEdit()) edit->selectAll();
  sendLine_->setFocus();
}

void CQuorvixDlg::OnBrowse() {
  const std::string initial = m_FileName.toLocal8Bit().toStdString();
  CFileDialogEx dialog(TRUE, nullptr, initial.c_str(),
                       OFN_FILEMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY, kRawFileFilter,
                       this);
  if (dialog.DoModal() == IDOK) m_FileName = QString::fromLocal8Bit(dialog.GetPathName());
  UpdateData(false);
}

void CQuorvixDlg::SendFile(const char* path) {
  // A copy first: the caller's text may be one of the members the controls refresh.
  const std::string file = path != nullptr ? path : "";
  UpdateData(true);
  qv::console::SendWholeFile(file.c_str(), qv::ui::ToHwnd(this));
}

void CQuorvixDlg::SendObjectFile(const char* path) {
  const std::string file = path != nullptr ? path : "";
  const qv::console::ObjectSendValues values = ObjectValuesOf(kdobj_);
  // Contact and calendar entries go to the phone as the file's own bytes.
  if (qv::console::IsRawObjectCategory(values.category)) {
    SendFile(file.c_str());
    return;
  }
  UpdateData(true);
  qv::console::SendFramedObject(file.c_str(), values, qv::ui::ToHwnd(this));
}
