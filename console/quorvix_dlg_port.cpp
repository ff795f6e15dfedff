// The console's port commands: Open/Close, the line settings applied when a port opens, speed
// changes, the port's default configuration and its configuration dialog.
#include "console/quorvix_dlg_port.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <vector>

#include "console/after_modal.h"
#include "console/port_discovery.h"
#include "console/quorvix_dlg.h"
#include "drivertests/port_handle.h"
#include "drivertests/port_path.h"
#include "engine/comm.h"
#include "engine/config_dump.h"
#include "platform/comm/comm_api.h"
#include "platform/comm/port_names.h"
#include "platform/sync/event.h"
#include "platform/sync/kernel_object.h"
#include "platform/sync/last_error.h"
#include "platform/ui/message_box.h"
#include "platform/ui/qt/comm_config_dialog.h"
#include "platform/ui/qt/qt_ui.h"
#include "platform/ui/ui_thread.h"
#include "support/reporting/checked_call.h"
#include "telephony/line_open.h"
#include "tools/tool_kdobj.h"
#include "tools/tool_states.h"
#include "tools/tool_tests.h"

namespace qv::console {
namespace {

constexpr const char* kSourceModule = "quor_vixDlg";
constexpr const char* kAppName = "quor_vix";

// A COMMCONFIG buffer of the console's size, aligned for the record.
class ConfigBuffer {
 public:
  COMMCONFIG* Config() { return reinterpret_cast<COMMCONFIG*>(words_.data()); }
  const BYTE* Bytes() { return reinterpret_cast<const BYTE*>(words_.data()); }

 private:
  std::vector<DWORD> words_ = std::vector<DWORD>(kCommConfigBufferSize / sizeof(DWORD), 0);
};

// Qt's combo box has no notification for a drop-down list closed without a choice; this filter
// on the list's popup sends CBN_SELENDCANCEL when the popup hides and no entry was activated.
class SelectionEndWatch : public QObject {
 public:
  SelectionEndWatch(QComboBox* combo, qv::ui::TemplateDialog* dialog, int id)
      : QObject(combo), combo_(combo), dialog_(dialog), id_(id) {
    QObject::connect(combo, &QComboBox::activated, this, [this] { activated_ = true; });
    // view() creates the popup container, the window that shows and hides.
    combo->view()->window()->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show) {
      activated_ = false;
    } else if (event->type() == QEvent::Hide) {
      // The combo box reports a choice only after its popup has hidden.
      QTimer::singleShot(0, this, [this] {
        if (!activated_ && combo_->isEnabled()) dialog_->SendCommand(id_, CBN_SELENDCANCEL);
      });
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  QComboBox* combo_;
  qv::ui::TemplateDialog* dialog_;
  int id_;
  bool activated_ = false;
};

}  // namespace

std::string DefaultCommConfigLine(const BYTE* config, DWORD size) {
  COMMCONFIG head{};
  std::memcpy(&head, config, std::min<std::size_t>(size, sizeof head));
  std::string line;
  qv::engine::AppendFormatted(line, "DEFAULTCOMMCONFIG %x %x", head.wVersion,
                              head.dwProviderSubType);
  line += qv::engine::ModemSettingsText(config, size, /*rateInDecimal=*/true);
  return line;
}

}  // namespace qv::console

using namespace qv::console;

void CQuorvixDlg::BindPortHandlers() {
  OnCommand(IDC_OPENCLOSE, [this] { OnOpenClose(); });
  OnMessage(WM_CLOSE_REQUEST, [this](WPARAM serial, LPARAM) {
    CloseOnRequest(unsigned(serial));
    return LPARAM(0);
  });
  OnNotify(IDC_SPEED, CBN_SELCHANGE, [this] { OnSpeedChange(); });
  OnNotify(IDC_PORT, CBN_SELENDOK, [this] { PostMessage(WM_PORT_CHOSEN); });
  OnNotify(IDC_PORT, CBN_SELENDCANCEL, [this] { PostMessage(WM_PORT_CHOSEN); });
  OnMessage(WM_PORT_CHOSEN, [this](WPARAM, LPARAM) {
    OnPortChosen();
    return LPARAM(0);
  });
  OnMessage(WM_SHOW_PORT_DEFAULTS, [this](WPARAM, LPARAM) {
    ShowPortDefaults();
    return LPARAM(0);
  });
  OnCommand(IDC_PORTCONFIG, [this] { OnPortConfig(); });
  OnCommand(ID_DEVICE_LIST, [this] { OnDeviceList(); });
  if (auto* port = Item<QComboBox>(IDC_PORT)) {
    // Qt completes typed text inline from the list and then reports the completed entry as
    // chosen; a typed port name must stay as typed.
    port->setCompleter(nullptr);
    new SelectionEndWatch(port, this, IDC_PORT);
  }
}

void CQuorvixDlg::RefreshPortList() { qv::console::RefreshPortList(Item<QComboBox>(IDC_PORT)); }

std::string CQuorvixDlg::PortNameFromCombo() {
  return qv::console::PortNameFromCombo(Item<QComboBox>(IDC_PORT));
}

void CQuorvixDlg::OnDeviceList() {
  DeviceListCommand([this](const char* text) { LogText(text); });
}

void CQuorvixDlg::OnOpenClose() {
  // A test's console command waits until this one has returned (its boxes included).
  const qv::ui::UiCommandScope command;
  if (hPort == INVALID_HANDLE_VALUE) {
    const std::string name = PortNameFromCombo();
    hPort = qv::drivertests::OpenPortOverlapped(name);
    if (hPort == INVALID_HANDLE_VALUE) {
      ReportOpenError("CreateFile");
      return;
    }
    PortOpened(1);
    return;
  }
  ClosePort();
}

void CQuorvixDlg::CloseOnRequest(unsigned serial) {
  // Closed already, or closed and opened again since the request was made: nothing to do.
  if (hPort == INVALID_HANDLE_VALUE || serial != portSerial_.load()) return;
  // Run inside the box's event loop, the close would wait for an engine thread that itself
  // waits for that box to end: asked again once the box has gone.
  QWidget* modal = QApplication::activeModalWidget();
  if (modal != nullptr && modal != this) {
    RunAfterModal(modal, this, [this, serial] { CloseOnRequest(serial); });
    return;
  }
  ClosePort();
}

void CQuorvixDlg::ClosePort() {
  const qv::ui::UiCommandScope command;
  // 1. The panels first, so that none of them uses the port while it goes.
  if (states_) states_->SetConnectionState(0);
  if (kdobj_) kdobj_->EnableCommands(false);
  if (tests_) tests_->EnableConnectionControls(0);
  // 2.-3. The engine ends before the handle does.
  qv::drivertests::CloseConsolePort();
  // 4. An overlapped test waiting for a block is released.
  if (tests_) SetEvent(tests_->Echo().blockReceived);
  // 5. A telephony call: deallocated, and its line closed (quorvix_dlg_tapi.cpp).
  if (Telephony()) Telephony()->ReleaseCall();
  // 6. The controls of the closed state.
  EnableDlgItem(IDC_SENDLINE, false);
  EnableDlgItem(IDC_SEND, false);
  EnableDlgItem(IDC_OPENTAPI, true);
  CheckDlgButton(IDC_OPENONPNP, BST_UNCHECKED);
  EnableDlgItem(IDC_OPENONPNP, true);
  EnableDlgItem(IDC_PORT, true);
  SetDlgItemText(IDC_OPENCLOSE, QStringLiteral("Open"));
  UpdateData(true);
  ++portSerial_;
}

void CQuorvixDlg::PortOpened(int start) {
  ++portSerial_;
  // 1. The controls of the open state.
  if (states_) states_->setEnabled(true);
  EnableDlgItem(IDC_SENDLINE, true);
  EnableDlgItem(IDC_SEND, true);
  EnableDlgItem(IDC_OPENTAPI, false);
  EnableDlgItem(IDC_OPENONPNP, false);
  EnableDlgItem(IDC_PORT, false);
  SetDlgItemText(IDC_OPENCLOSE, QStringLiteral("Close"));
  EnableDlgItem(IDC_OPENCLOSE, true);

  // 2.-5. 8N1 at the chosen speed, and what the driver made of it.
  CheckDriverBaud(
      qv::drivertests::ApplyOpenLineSettings(hPort, DWORD(SelectedSpeed()), kSourceModule));

  // 6. Nothing left over from before goes out.
  qv::drivertests::PurgeLeftOverOutput(hPort, kSourceModule);
  if (!start) return;

  // 8. An engine that does not start has said why; the port closes again.
  if (!StartComm(hPort, ConsoleReceive)) PostMessage(WM_CLOSE_REQUEST, WPARAM(portSerial_.load()));

  // 9. The panels.
  if (states_) states_->SetConnectionState(1);
  if (kdobj_) kdobj_->EnableCommands(true);
  if (tests_) tests_->EnableConnectionControls(1);
}

void CQuorvixDlg::CheckDriverBaud(const DCB& dcb) {
  const int accepted = int(dcb.BaudRate);
  const std::string text = qv::drivertests::DriverBaudText(SelectedSpeed(), accepted);
  if (text.empty()) return;
  MessageBoxA(qv::ui::ToHwnd(this), text.c_str(), kAppName, MB_OK | MB_ICONEXCLAMATION);
  SelectSpeed(accepted);
}

void CQuorvixDlg::ReportOpenError(const char* operation) {
  const std::string text = qv::drivertests::OpenErrorText(GetLastError(), operation);
  MessageBoxA(qv::ui::ToHwnd(this), text.c_str(), "Error", MB_OK | MB_ICONSTOP);
}

void CQuorvixDlg::OnSpeedChange() {
  if (hPort == INVALID_HANDLE_VALUE) {
    // Closed: the speed becomes the port's stored default. Failures are silent: a port that is
    // not there now simply keeps no default.
    const std::string device = qv::comm::WithoutDevicePrefix(PortNameFromCombo());
    ConfigBuffer buffer;
    DWORD size = kCommConfigBufferSize;
    if (!GetDefaultCommConfigA(device.c_str(), buffer.Config(), &size)) return;
    buffer.Config()->dcb.BaudRate = DWORD(SelectedSpeed());
    SetDefaultCommConfigA(device.c_str(), buffer.Config(), size);
    return;
  }
  CheckDriverBaud(qv::drivertests::ApplySpeed(hPort, DWORD(SelectedSpeed()), kSourceModule));
}

void CQuorvixDlg::OnPortChosen() {
  auto* port = Item<QComboBox>(IDC_PORT);
  if (port == nullptr) return;
  // The selection before PortNameFromCombo cleans the text (and with it the selection).
  const bool entrySelected = ComboSelection(port) >= 0;
  const std::string form = qv::comm::kDevicePrefix + PortNameFromCombo();
  if (entrySelected) {
    const QSignalBlocker quiet(port);  // a text set by the program is no edit of the user's
    port->setCurrentIndex(-1);
    port->setEditText(QString::fromLocal8Bit(form));
  }
  if (port->lineEdit()) port->lineEdit()->selectAll();
  SendMessage(WM_SHOW_PORT_DEFAULTS);
}

void CQuorvixDlg::ShowPortDefaults() {
  const std::string name = PortNameFromCombo();
  if (name == lastDefaultsName_) return;
  lastDefaultsName_ = name;

  ConfigBuffer buffer;
  DWORD size = kCommConfigBufferSize;
  if (!GetDefaultCommConfigA(name.c_str(), buffer.Config(), &size)) {
    // "\\.\COM1" has its defaults under "COM1".
    size = kCommConfigBufferSize;
    const std::string shorter = name.size() > 4 ? name.substr(4) : std::string();
    if (!GetDefaultCommConfigA(shorter.c_str(), buffer.Config(), &size)) return;
  }
  LogText(DefaultCommConfigLine(buffer.Bytes(), std::min(size, kCommConfigBufferSize)).c_str());
  SelectSpeed(int(buffer.Config()->dcb.BaudRate));
}

void CQuorvixDlg::OnPortConfig() {
  const std::string device = qv::comm::WithoutDevicePrefix(PortNameFromCombo());
  const bool open = hPort != INVALID_HANDLE_VALUE;
  ConfigBuffer buffer;
  COMMCONFIG* config = buffer.Config();
  DWORD size = kCommConfigBufferSize;
  if (!open) {
    if (!GetDefaultCommConfigA(device.c_str(), config, &size)) {
      ReportOpenError("GetDefaultCommConfig");
      return;
    }
  } else if (!GetCommConfig(hPort, config, &size)) {
    ReportOpenError("GetCommConfig");
    return;
  }
  // Cancel is no error: the configuration as read is written back below.
  if (!CommConfigDialogA(device.c_str(), qv::ui::ToHwnd(this), config) &&
      GetLastError() != ERROR_CANCELLED) {
    ReportOpenError("CommConfigDialog");
    return;
  }
  if (!open) {
    if (SetDefaultCommConfigA(device.c_str(), config, size)) {
      lastDefaultsName_.clear();
      ShowPortDefaults();
    } else {
      ReportOpenError("SetDefaultCommConfig");
    }
    return;
  }
  if (SetCommConfig(hPort, config, size)) {
    qv::drivertests::RecordLineSettings(hPort);
    SelectSpeed(int(config->dcb.BaudRate));
    if (states_) states_->SetConnectionState(2);
  } else {
    ReportOpenError("SetCommConfig");
  }
}
