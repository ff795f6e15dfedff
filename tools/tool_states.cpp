#include "tools/tool_states.h"

#include <QCheckBox>
#include <QMetaObject>
#include <QPalette>
#include <QSignalBlocker>
#include <cstdio>

#include "drivertests/port_handle.h"
#include "drivertests/port_path.h"
#include "engine/comm.h"
#include "platform/comm/comm_api.h"
#include "platform/ui/message_box.h"
#include "platform/ui/qt/qt_ui.h"
#include "platform/ui/qt/queued_call.h"
#include "platform/ui/ui_thread.h"
#include "support/reporting/checked_call.h"
#include "tools/states/input_modifiers.h"
#include "tools/states/states_controls.h"

using namespace qv::states;

namespace {

constexpr const char* kSourceModule = "ToolStates";
const QColor kAlertRed(255, 0, 0);

// Every GetCommState, SetCommState and EscapeCommFunction of the panel is a checked call. The
// box names the caller's line, not this one.
template <class Call>
bool Checked(Call&& call, std::source_location where = std::source_location::current()) {
  return qv::support::CheckLastError(kSourceModule, std::forward<Call>(call), where) != 0;
}

// Red text, or the panel's own colours. A disabled control keeps the grey of disabled text.
void SetTextRed(QWidget* w, bool red) {
  const QVariant shown = w->property("drawnRed");
  if (shown.isValid() && shown.toBool() == red) return;
  w->setProperty("drawnRed", red);
  QPalette palette;  // nothing set: the control takes everything from the panel
  if (red) {
    for (const auto group : {QPalette::Active, QPalette::Inactive})
      for (const auto role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
        palette.setColor(group, role, kAlertRed);
  }
  w->setPalette(palette);
}

}  // namespace

CToolStates::CToolStates(qv::ui::TemplateDialog* console)
    : CToolPanel(StatesTemplate(), console, kToggleId),
      rts_{IDC_RTS, SETRTS, CLRRTS},
      dtr_{IDC_DTR, SETDTR, CLRDTR} {
  poll_.setInterval(kPollIntervalMs);
  poll_.setObjectName(QStringLiteral("CYCL"));
  connect(&poll_, &QTimer::timeout, this, [this] { OnPollTimer(); });
  WatchInputModifiers();
  BindHandlers();
}

bool CToolStates::OnInitDialog() {
  // The flow-control choice a new panel starts with, carried over to every connection.
  CheckDlgButton(IDC_CTS_FLOW, BST_CHECKED);
  {
    // The sizes shown are not an edit of the user's.
    const QSignalBlocker in(GetDlgItem(IDC_IN_QUEUE_SIZE));
    const QSignalBlocker out(GetDlgItem(IDC_OUT_QUEUE_SIZE));
    SetDlgItemText(IDC_IN_QUEUE_SIZE, QString::number(CommConnection.InQueueSize.Load()));
    SetDlgItemText(IDC_OUT_QUEUE_SIZE, QString::number(CommConnection.OutQueueSize.Load()));
  }
  Recolour();
  return true;
}

void CToolStates::BindHandlers() {
  OnCommand(IDC_RTS, [this] { OnOutputLineClicked(rts_, true); });
  OnCommand(IDC_DTR, [this] { OnOutputLineClicked(dtr_, false); });
  OnCommand(IDC_BREAK, [this] { OnBreakClicked(); });
  OnCommand(IDC_PURGE_ALL, [this] { OnPurgeAll(); });
  for (const int id : {IDC_DSR_SENSITIVITY, IDC_CTS_FLOW, IDC_DSR_FLOW})
    OnCommand(id, [this] { ApplyLineBoxes(); });
  OnNotify(IDC_IN_QUEUE_SIZE, EN_CHANGE, [this] { OnQueueSizeEdited(); });
  OnNotify(IDC_OUT_QUEUE_SIZE, EN_CHANGE, [this] { OnQueueSizeEdited(); });
}

// ---- connection ----------------------------------------------------------------------------------

void CToolStates::EnableControls(bool enable) {
  for (QObject* child : children()) {
    auto* w = qobject_cast<QWidget*>(child);
    if (w && !w->isWindow() && w->property("controlId").isValid()) w->setEnabled(enable);
  }
}

void CToolStates::EnableSignals(bool enable) {
  for (const int id : {IDC_SIGNALS_IN, IDC_CTS, IDC_DSR, IDC_RING, IDC_RLSD})
    EnableDlgItem(id, enable);
  signalsEnabled_ = enable;
}

void CToolStates::EnableQueues(bool enable) {
  for (const int id : {IDC_QUEUE_LABELS, IDC_IN_QUEUE, IDC_OUT_QUEUE}) EnableDlgItem(id, enable);
  queuesEnabled_ = enable;
}

void CToolStates::SetConnectionState(int state) {
  connectionState_ = state;
  const bool connected = state != 0;
  EnableControls(connected);
  signalsEnabled_ = connected;
  queuesEnabled_ = connected;
  if (!connected) {
    if (CtrlKeyDown()) ApplyLineBoxes();
    poll_.stop();
    return;
  }
  if (state == 1) {
    // Nothing of the port before stays on show: its lines read off until this port's first
    // status, which always counts as a change (and the old DSR decides no alert meanwhile). A
    // line without modem lines so shows none, rather than the last port's, greyed.
    lastModemStatus_.reset();
    for (const int id : {IDC_CTS, IDC_DSR, IDC_RING, IDC_RLSD}) CheckDlgButton(id, BST_UNCHECKED);
    SetAlert(kAlertOddStatus, false);
    SetDlgItemText(IDC_SIGNALS_IN, QStringLiteral("Signals IN"));
    // A break ended with the port it was set on; a new port starts without one.
    CheckDlgButton(IDC_BREAK, BST_UNCHECKED);
  }
  DCB dcb{};
  if (ReadDcb(&dcb)) {
    ShowControlMode(rts_, dcb.fRtsControl);
    ShowControlMode(dtr_, dcb.fDtrControl);
    // Otherwise the flow-control boxes stay as the user left them and go to the new port.
    if (CtrlKeyDown() || state == 2) {
      CheckDlgButton(IDC_DSR_SENSITIVITY, dcb.fDsrSensitivity ? BST_CHECKED : BST_UNCHECKED);
      CheckDlgButton(IDC_CTS_FLOW, dcb.fOutxCtsFlow ? BST_CHECKED : BST_UNCHECKED);
      CheckDlgButton(IDC_DSR_FLOW, dcb.fOutxDsrFlow ? BST_CHECKED : BST_UNCHECKED);
    }
  }
  ApplyLineBoxes();
  Recolour();
  poll_.start();
}

void CToolStates::AddReceivedBytes(DWORD count) {
  receivedBytes_ += long(count);
  if (qv::ui::IsUiThread()) {
    ShowReceivedCount();
    return;
  }
  // The UI thread shows the total; chunks that arrive before it did so share one update, which
  // shows the count as it is by then.
  if (countShowQueued_.exchange(true)) return;
  qv::ui::QueueCall(this, [this] {
    countShowQueued_ = false;
    ShowReceivedCount();
  });
}

// ---- line settings -------------------------------------------------------------------------------

bool CToolStates::ReadDcb(DCB* dcb, std::source_location where) {
  return Checked([&] { return GetCommState(hPort, dcb); }, where);
}

void CToolStates::WriteDcb(const DCB& dcb, std::source_location where) {
  Checked([&] { return SetCommState(hPort, &dcb); }, where);
  qv::drivertests::RecordLineSettings(hPort);
}

void CToolStates::ShowControlMode(OutputLine& line, DWORD mode) {
  // Toggle mode (RTS raised by the driver while it sends) is driver control like handshake, so
  // it shows as the indeterminate state too; the box writes it back unchanged until the user
  // clicks it, and a click leaves it as it leaves handshake.
  line.toggleMode = mode == RTS_CONTROL_TOGGLE;
  CheckDlgButton(line.id, mode >= 2 ? BST_INDETERMINATE : mode);
  if (QWidget* box = GetDlgItem(line.id))
    box->setToolTip(line.toggleMode
                        ? QStringLiteral("Toggle mode: the driver drives the line while it sends")
                        : QString());
}

DWORD CToolStates::ModeOf(const OutputLine& line) const {
  const UINT state = IsDlgButtonChecked(line.id);
  if (state == BST_INDETERMINATE && line.toggleMode) return RTS_CONTROL_TOGGLE;
  return state;
}

void CToolStates::ApplyLineBoxes() {
  DCB dcb{};
  // A line state that could not be read is not written back as zeros.
  if (ReadDcb(&dcb)) {
    dcb.fDtrControl = ModeOf(dtr_);
    dcb.fRtsControl = ModeOf(rts_);
    dcb.fDsrSensitivity = IsDlgButtonChecked(IDC_DSR_SENSITIVITY) == BST_CHECKED;
    dcb.fOutxCtsFlow = IsDlgButtonChecked(IDC_CTS_FLOW) == BST_CHECKED;
    dcb.fOutxDsrFlow = IsDlgButtonChecked(IDC_DSR_FLOW) == BST_CHECKED;
    WriteDcb(dcb);
  }
  SetAlert(kAlertDsrDrops, IsDlgButtonChecked(IDC_DSR_SENSITIVITY) == BST_CHECKED &&
                               lastModemStatus_ && !(*lastModemStatus_ & MS_DSR_ON));
  Recolour();
}

void CToolStates::OnOutputLineClicked(OutputLine& line, bool isRts) {
  // The modifiers of this click, not of the keyboard by now.
  const bool ctrl = CtrlKeyDown();
  const UINT before = IsDlgButtonChecked(line.id);
  UINT after = 0;
  if (ctrl) {
    after = before == BST_INDETERMINATE ? BST_UNCHECKED : BST_INDETERMINATE;
  } else {
    after = before == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
  }
  if (before == BST_INDETERMINATE || after == BST_INDETERMINATE) {
    // Into or out of handshake mode: the driver's control mode changes.
    DCB dcb{};
    if (ReadDcb(&dcb)) {
      if (isRts) {
        dcb.fRtsControl = after;
      } else {
        dcb.fDtrControl = after;
      }
      WriteDcb(dcb);
    }
  } else {
    // Between on and off: only the line, the control mode stays.
    const DWORD code = after == BST_CHECKED ? line.setCode : line.clearCode;
    Checked([&] { return EscapeCommFunction(hPort, code); });
  }
  line.toggleMode = false;
  if (QWidget* box = GetDlgItem(line.id)) box->setToolTip(QString());
  CheckDlgButton(line.id, after);
  Recolour();  // DTR's colour follows its box
}

void CToolStates::OnBreakClicked() {
  if (IsDlgButtonChecked(IDC_BREAK) == BST_CHECKED) {
    SetCommBreak(hPort);
  } else {
    ClearCommBreak(hPort);
  }
}

void CToolStates::OnPurgeAll() {
  PurgeComm(hPort, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
  receivedBytes_ = 0;
  CommConnection.WriteRequested = 0;
  CommConnection.WriteCompleted = 0;
  ShowCounters();
  ShowReceivedCount();
  Recolour();
}

bool CToolStates::TakeQueueSize(int id, qv::engine::SharedWord<DWORD>& size) {
  bool ok = false;
  const qulonglong value = GetDlgItemText(id).trimmed().toULongLong(&ok);
  // A driver queue of no bytes is refused by SetupComm, here and at every later connection.
  if (!ok || value == 0 || value > 0xFFFFFFFFull) return false;
  size = DWORD(value);
  return true;
}

void CToolStates::OnQueueSizeEdited() {
  // The sizes become the engine's, for this port now and for the connections to come.
  const bool inOk = TakeQueueSize(IDC_IN_QUEUE_SIZE, CommConnection.InQueueSize);
  const bool outOk = TakeQueueSize(IDC_OUT_QUEUE_SIZE, CommConnection.OutQueueSize);
  if (!inOk || !outOk) {
    MessageBoxA(qv::ui::ToHwnd(this), "Please enter a positive integer.", "quor_vix",
                MB_OK | MB_ICONEXCLAMATION);
    if (QWidget* field = GetDlgItem(inOk ? IDC_OUT_QUEUE_SIZE : IDC_IN_QUEUE_SIZE))
      field->setFocus();
  }
  // A size field left empty keeps the size it had.
  SetupComm(hPort, CommConnection.InQueueSize, CommConnection.OutQueueSize);
}

// ---- the poll ------------------------------------------------------------------------------------

void CToolStates::OnPollTimer() {
  if (hPort == INVALID_HANDLE_VALUE) return;
  ++pollCount_;

  DWORD status = 0;
  const bool haveStatus = GetCommModemStatus(hPort, &status) != 0;
  if (haveStatus != signalsEnabled_) EnableSignals(haveStatus);
  if (haveStatus && lastModemStatus_ != status) {
    // A running capture gets each change the poll sees.
    qv::drivertests::RecordModemStatus(status);
    ShowStatus(status);
  }

  // The queues are read without taking the driver's error word: that belongs to the engine's
  // read thread, which reports each line error from it.
  COMSTAT queues{};
  const bool haveQueues = GetCommQueueStatus(hPort, &queues) != 0;
  if (haveQueues != queuesEnabled_) EnableQueues(haveQueues);
  if (haveQueues) {
    if (queues.cbOutQue != 0) {
      SetAlert(kAlertOutQueued, true);
      // What holds the output, as far as this tick's status tells (without one: nothing known).
      SetAlert(kAlertCtsHold, haveStatus && !(status & MS_CTS_ON) &&
                                  IsDlgButtonChecked(IDC_CTS_FLOW) == BST_CHECKED);
      SetAlert(kAlertDsrHold, haveStatus && !(status & MS_DSR_ON) &&
                                  IsDlgButtonChecked(IDC_DSR_FLOW) == BST_CHECKED);
      SetAlert(kAlertBreakHold, IsDlgButtonChecked(IDC_BREAK) == BST_CHECKED);
    } else {
      SetAlert(kAlertOutQueued | kAlertCtsHold | kAlertDsrHold | kAlertBreakHold, false);
    }
    SetDlgItemText(IDC_OUT_QUEUE, QString::number(queues.cbOutQue));
    SetAlert(kAlertInQueued, queues.cbInQue != 0);
    SetDlgItemText(IDC_IN_QUEUE, QString::number(queues.cbInQue));
  }
  ShowCounters();
  ShowReceivedCount();
  Recolour();
}

void CToolStates::ShowStatus(DWORD status) {
  CheckDlgButton(IDC_CTS, (status & MS_CTS_ON) ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(IDC_DSR, (status & MS_DSR_ON) ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(IDC_RING, (status & MS_RING_ON) ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(IDC_RLSD, (status & MS_RLSD_ON) ? BST_CHECKED : BST_UNCHECKED);
  if (status & ~kModemLineBits) {
    // The driver put more than the four lines into the word: show all of it.
    char caption[64];
    std::snprintf(caption, sizeof caption, "Signals IN: 0x%.2X", unsigned(status));
    SetAlert(kAlertOddStatus, true);
    SetDlgItemText(IDC_SIGNALS_IN, QString::fromLatin1(caption));
  } else {
    SetAlert(kAlertOddStatus, false);
    SetDlgItemText(IDC_SIGNALS_IN, QStringLiteral("Signals IN"));
  }
  SetAlert(kAlertDsrDrops,
           !(status & MS_DSR_ON) && IsDlgButtonChecked(IDC_DSR_SENSITIVITY) == BST_CHECKED);
  lastModemStatus_ = status;
}

void CToolStates::SetAlert(DWORD bit, bool on) {
  alertFlags_ = on ? (alertFlags_ | bit) : (alertFlags_ & ~bit);
}

void CToolStates::ShowCounters() {
  const DWORD completed = CommConnection.WriteCompleted;
  const DWORD requested = CommConnection.WriteRequested;
  SetAlert(kAlertWritePending, completed != requested);
  // Both unsigned: past 2 GB a count is still a byte count, not a negative number.
  SetDlgItemText(IDC_WRITE_COUNTS, QStringLiteral("%1/%2").arg(completed).arg(requested));
}

void CToolStates::ShowReceivedCount() {
  SetDlgItemText(IDC_READ_COUNT, QString::number(receivedBytes_.Load()));
}

// ---- colours -------------------------------------------------------------------------------------

void CToolStates::Recolour() {
  const UINT dtrState = IsDlgButtonChecked(IDC_DTR);
  for (QObject* child : children()) {
    auto* w = qobject_cast<QWidget*>(child);
    if (w == nullptr || w->isWindow() || !w->property("controlId").isValid()) continue;
    SetTextRed(w, qv::states::IsDrawnRed(qv::ui::ControlId(w), alertFlags_, dtrState));
  }
}

bool CToolStates::IsDrawnRed(int controlId) const {
  const QWidget* w = GetDlgItem(controlId);
  return w && w->palette().color(QPalette::Active, QPalette::WindowText) == kAlertRed;
}
