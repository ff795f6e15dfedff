#include "platform/ui/qt/comm_config_dialog.h"

#include <QComboBox>
#include <QIntValidator>
#include <QLineEdit>
#include <QPushButton>
#include <atomic>
#include <climits>

#include "platform/sync/last_error.h"
#include "platform/ui/qt/dialog_template.h"
#include "platform/ui/ui_thread.h"

namespace qv::ui {
namespace {

std::atomic<CommConfigProvider*> g_installed{nullptr};

CommConfigProvider& QtProvider() {
  static QtCommConfigDialog qt;
  return qt;
}

constexpr DWORD kOfferedSpeeds[] = {110,    300,    600,    1200,   2400,  4800,
                                    9600,   14400,  19200,  38400,  57600, 115200,
                                    128000, 230400, 256000, 460800, 921600};

DialogTemplate ConfigTemplate(const std::string& device) {
  DialogTemplate t;
  t.caption = QString::fromLocal8Bit(device.c_str()) + QStringLiteral(" Properties");
  t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
  t.cx = 180;
  t.cy = 118;
  const DWORD list = CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;
  t.controls = {
      Control(IDC_STATIC, "STATIC", QStringLiteral("&Bits per second:"), SS_RIGHT, 6, 8, 70, 8),
      Control(IDC_CC_SPEED, "COMBOBOX", QString(),
              CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP, 80, 6, 92, 120),
      Control(IDC_STATIC, "STATIC", QStringLiteral("&Data bits:"), SS_RIGHT, 6, 26, 70, 8),
      Control(IDC_CC_DATABITS, "COMBOBOX", QString(), list, 80, 24, 92, 80),
      Control(IDC_STATIC, "STATIC", QStringLiteral("&Parity:"), SS_RIGHT, 6, 44, 70, 8),
      Control(IDC_CC_PARITY, "COMBOBOX", QString(), list, 80, 42, 92, 80),
      Control(IDC_STATIC, "STATIC", QStringLiteral("&Stop bits:"), SS_RIGHT, 6, 62, 70, 8),
      Control(IDC_CC_STOPBITS, "COMBOBOX", QString(), list, 80, 60, 92, 80),
      Control(IDC_STATIC, "STATIC", QStringLiteral("&Flow control:"), SS_RIGHT, 6, 80, 70, 8),
      Control(IDC_CC_FLOW, "COMBOBOX", QString(), list, 80, 78, 92, 80),
      Control(IDOK, "BUTTON", QStringLiteral("OK"), BS_DEFPUSHBUTTON | WS_TABSTOP, 70, 98, 50, 14),
      Control(IDCANCEL, "BUTTON", QStringLiteral("Cancel"), BS_PUSHBUTTON | WS_TABSTOP, 124, 98, 50,
              14),
  };
  return t;
}

void SelectData(QComboBox* combo, int value) {
  const int i = combo->findData(value);
  if (i >= 0) combo->setCurrentIndex(i);
}

// 1.5 stop bits exist only with 5 data bits, 2 only with more: the list offers what the
// chosen data bits allow, so the dialog cannot produce a line setting that no port accepts.
void FillStopBits(QComboBox* stopBits, int dataBits, int wanted) {
  stopBits->clear();
  stopBits->addItem(QStringLiteral("1"), int(ONESTOPBIT));
  if (dataBits == 5) stopBits->addItem(QStringLiteral("1.5"), int(ONE5STOPBITS));
  else stopBits->addItem(QStringLiteral("2"), int(TWOSTOPBITS));
  // 1.5 and 2 stop bits stand for each other when the data bits change.
  SelectData(stopBits, wanted == ONESTOPBIT ? ONESTOPBIT
                       : dataBits == 5      ? ONE5STOPBITS
                                            : TWOSTOPBITS);
}

class ConfigDialog : public TemplateDialog {
 public:
  ConfigDialog(const CommConfigRequest& request)
      : TemplateDialog(ConfigTemplate(request.device), FromHwndOrNull(request.owner)),
        dcb_(request.dcb) {}

  DCB Chosen() const {
    DCB dcb = dcb_;
    dcb.BaudRate = Speed();
    dcb.ByteSize = BYTE(Item<QComboBox>(IDC_CC_DATABITS)->currentData().toInt());
    dcb.Parity = BYTE(Item<QComboBox>(IDC_CC_PARITY)->currentData().toInt());
    dcb.StopBits = BYTE(Item<QComboBox>(IDC_CC_STOPBITS)->currentData().toInt());
    ApplyFlowControl(dcb, FlowControl(Item<QComboBox>(IDC_CC_FLOW)->currentData().toInt()));
    return dcb;
  }

 protected:
  bool OnInitDialog() override {
    auto* speed = Item<QComboBox>(IDC_CC_SPEED);
    for (DWORD s : kOfferedSpeeds) speed->addItem(QString::number(s));
    speed->lineEdit()->setValidator(new QIntValidator(1, INT_MAX, speed));
    speed->setEditText(QString::number(dcb_.BaudRate));

    auto* dataBits = Item<QComboBox>(IDC_CC_DATABITS);
    for (int bits = 5; bits <= 8; ++bits) dataBits->addItem(QString::number(bits), bits);
    // A DCB outside the offered values shows the nearest one.
    SelectData(dataBits, dcb_.ByteSize < 5 ? 5 : dcb_.ByteSize > 8 ? 8 : dcb_.ByteSize);

    auto* parity = Item<QComboBox>(IDC_CC_PARITY);
    const char* parities[] = {"None", "Odd", "Even", "Mark", "Space"};
    for (int p = NOPARITY; p <= SPACEPARITY; ++p)
      parity->addItem(QString::fromLatin1(parities[p]), p);
    SelectData(parity, dcb_.Parity <= SPACEPARITY ? dcb_.Parity : NOPARITY);

    auto* stopBits = Item<QComboBox>(IDC_CC_STOPBITS);
    FillStopBits(stopBits, dataBits->currentData().toInt(), dcb_.StopBits);

    auto* flow = Item<QComboBox>(IDC_CC_FLOW);
    flow->addItem(QStringLiteral("None"), int(FlowControl::kNone));
    flow->addItem(QStringLiteral("Xon / Xoff"), int(FlowControl::kXonXoff));
    flow->addItem(QStringLiteral("Hardware"), int(FlowControl::kHardware));
    SelectData(flow, int(FlowControlOf(dcb_)));

    OnNotify(IDC_CC_DATABITS, CBN_SELCHANGE, [this] {
      auto* stopBits = Item<QComboBox>(IDC_CC_STOPBITS);
      FillStopBits(stopBits, Item<QComboBox>(IDC_CC_DATABITS)->currentData().toInt(),
                   stopBits->currentData().toInt());
    });
    OnNotify(IDC_CC_SPEED, CBN_EDITCHANGE, [this] { EnableOk(); });
    OnNotify(IDC_CC_SPEED, CBN_SELCHANGE, [this] { EnableOk(); });
    EnableOk();
    return true;
  }

 private:
  static QWidget* FromHwndOrNull(HWND owner) { return static_cast<QWidget*>(owner); }

  DWORD Speed() const {
    bool ok = false;
    const uint value = GetDlgItemText(IDC_CC_SPEED).trimmed().toUInt(&ok);
    return ok ? DWORD(value) : 0;
  }
  void EnableOk() { EnableDlgItem(IDOK, Speed() > 0); }

  DCB dcb_;
};

}  // namespace

FlowControl FlowControlOf(const DCB& dcb) {
  if (dcb.fOutX || dcb.fInX) return FlowControl::kXonXoff;
  if (dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) return FlowControl::kHardware;
  return FlowControl::kNone;
}

void ApplyFlowControl(DCB& dcb, FlowControl flow) {
  const bool hardware = flow == FlowControl::kHardware;
  const bool software = flow == FlowControl::kXonXoff;
  dcb.fOutX = software;
  dcb.fInX = software;
  if (software && dcb.XonChar == dcb.XoffChar) {
    // A record that never had flow characters gets the usual DC1/DC3.
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
  }
  dcb.fOutxCtsFlow = hardware;
  dcb.fOutxDsrFlow = 0;
  if (hardware) dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
  else if (dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) dcb.fRtsControl = RTS_CONTROL_ENABLE;
  if (dcb.fDtrControl == DTR_CONTROL_HANDSHAKE) dcb.fDtrControl = DTR_CONTROL_ENABLE;
}

void SetCommConfigProvider(CommConfigProvider* provider) { g_installed.store(provider); }

CommConfigProvider* CurrentCommConfigProvider() {
  CommConfigProvider* p = g_installed.load();
  return p != nullptr ? p : &QtProvider();
}

CommConfigResult QtCommConfigDialog::RunCommConfigDialog(const CommConfigRequest& request) {
  ConfigDialog dialog(request);
  CommConfigResult result;
  if (dialog.DoModal() != IDOK) return result;  // ERROR_CANCELLED
  result.error = ERROR_SUCCESS;
  result.dcb = dialog.Chosen();
  return result;
}

ScriptedCommConfig::ScriptedCommConfig() : previous_(g_installed.exchange(this)) {}

ScriptedCommConfig::~ScriptedCommConfig() { g_installed.store(previous_); }

void ScriptedCommConfig::Accept(std::function<void(DCB&)> edit) {
  std::lock_guard<std::mutex> hold(lock_);
  answers_.push_back({ERROR_SUCCESS, std::move(edit)});
}

void ScriptedCommConfig::Cancel() { Fail(ERROR_CANCELLED); }

void ScriptedCommConfig::Fail(DWORD error) {
  std::lock_guard<std::mutex> hold(lock_);
  answers_.push_back({error, {}});
}

std::vector<CommConfigRequest> ScriptedCommConfig::Requests() const {
  std::lock_guard<std::mutex> hold(lock_);
  return requests_;
}

CommConfigResult ScriptedCommConfig::RunCommConfigDialog(const CommConfigRequest& request) {
  Answer answer{ERROR_CANCELLED, {}};
  bool answered = false;
  {
    std::lock_guard<std::mutex> hold(lock_);
    requests_.push_back(request);
    if (!answers_.empty()) {
      answer = std::move(answers_.front());
      answers_.pop_front();
      answered = true;
    }
  }
  if (!answered && onUnanswered) onUnanswered(request);
  CommConfigResult result;
  result.error = answer.error;
  result.dcb = request.dcb;
  if (answer.error == ERROR_SUCCESS && answer.edit) answer.edit(result.dcb);
  return result;
}

}  // namespace qv::ui

BOOL CommConfigDialogA(const char* name, HWND owner, COMMCONFIG* config) {
  if (name == nullptr || *name == '\0' || config == nullptr ||
      config->dwSize < offsetof(COMMCONFIG, wcProviderData)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  qv::ui::CommConfigRequest request;
  request.owner = owner;
  request.device = name;
  request.dcb = config->dcb;
  qv::ui::CommConfigResult result;
  qv::ui::RunOnUiThread(
      [&] { result = qv::ui::CurrentCommConfigProvider()->RunCommConfigDialog(request); });
  if (result.error != ERROR_SUCCESS) {
    SetLastError(result.error);
    return FALSE;
  }
  config->dcb = result.dcb;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}
