#include "tools/tool_tests.h"

#include <QComboBox>
#include <QLineEdit>
#include <QTimer>
#include <algorithm>
#include <string>

#include "drivertests/open_close_loop.h"
#include "engine/comm.h"
#include "platform/store/profile_store.h"
#include "platform/sync/clock.h"
#include "platform/sync/event.h"
#include "platform/sync/kernel_object.h"
#include "platform/sync/thread.h"
#include "platform/ui/qt/qt_ui.h"
#include "platform/ui/ui_thread.h"
#include "resources/tests_panel_ids.h"
#include "tools/panel_test_host.h"

namespace {

const QString kSettings = QStringLiteral("Settings");

// The longest the panel's end waits for all of its test threads to finish their current step.
constexpr DWORD kWorkerEndWait = 15000;

qv::ui::DialogTemplate TestsTemplate() {
  using qv::ui::Control;
  qv::ui::DialogTemplate t;
  t.id = CToolTests::kTemplateId;
  t.caption = QStringLiteral("Miscellaneous tests");
  t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
  t.x = 360;
  t.y = 170;
  t.cx = 250;
  t.cy = 218;
  const DWORD check = BS_AUTOCHECKBOX | WS_TABSTOP;
  const DWORD button = BS_PUSHBUTTON | WS_TABSTOP;
  const DWORD number = ES_NUMBER | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP;
  const DWORD off = WS_DISABLED;
  // Template order matters: EnableConnectionControls switches everything after 1032.
  t.controls = {
      Control(IDC_LOOPTESTS, "BUTTON", QStringLiteral("Loop tests"), check, 6, 4, 80, 10),
      Control(IDC_STATIC, "BUTTON", QStringLiteral("Test Open/Close"), BS_GROUPBOX, 4, 16, 242, 26),
      Control(IDC_STATIC, "STATIC", QStringLiteral("Repeat Interval: "), SS_LEFT, 10, 28, 58, 8),
      Control(IDC_LOOPINTERVAL, "EDIT", QString(), number, 68, 26, 32, 12),
      Control(IDC_STATIC, "STATIC", QStringLiteral("ms"), SS_LEFT, 102, 28, 12, 8),
      Control(IDC_RUN_OPENCLOSE, "BUTTON", QStringLiteral("Run Test"), button, 196, 25, 44, 14),
      Control(IDC_STATIC, "BUTTON", QStringLiteral("Test Non-Overlap && Timeouts"), BS_GROUPBOX, 4,
              44, 242, 26),
      Control(IDC_STATIC, "STATIC", QStringLiteral("Phase: "), SS_LEFT, 10, 56, 24, 8),
      Control(IDC_PHASE, "STATIC", QString(), SS_LEFT, 36, 56, 156, 8),
      Control(IDC_RUN_TIMEOUTS, "BUTTON", QStringLiteral("Run Test"), button, 196, 53, 44, 14),
      Control(IDC_STATIC, "BUTTON", QStringLiteral("Test Overlap"), BS_GROUPBOX | off, 4, 72, 242,
              40),
      Control(IDC_STATIC, "STATIC", QStringLiteral("Block Size: "), SS_LEFT | off, 10, 84, 40, 8),
      Control(IDC_BLOCKSIZE, "EDIT", QString(), number | off, 50, 82, 40, 12),
      Control(IDC_STATIC, "STATIC", QStringLiteral("bytes from"), SS_LEFT | off, 94, 84, 38, 8),
      Control(IDC_OVERLAP_FROM, "COMBOBOX", QString(),
              CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP | off, 134, 82, 106, 60),
      Control(IDC_STATIC, "STATIC", QStringLiteral("Block #"), SS_LEFT | off, 10, 99, 28, 8),
      Control(IDC_BLOCKNUMBER, "STATIC", QString(), SS_LEFT | off, 38, 99, 80, 8),
      Control(IDC_RUN_OVERLAP, "BUTTON", QStringLiteral("Run Test"), button | off, 196, 95, 44, 14),
      Control(IDC_STATIC, "BUTTON", QStringLiteral("Test SetConfig"), BS_GROUPBOX | off, 4, 114,
              242, 26),
      Control(IDC_STATIC, "STATIC", QStringLiteral("Status: "), SS_LEFT | off, 10, 126, 26, 8),
      Control(IDC_SETCONFIG_STATUS, "STATIC", QString(), SS_LEFT | off, 36, 126, 156, 8),
      Control(IDC_RUN_SETCONFIG, "BUTTON", QStringLiteral("Run Test"), button | off, 196, 123, 44,
              14),
      Control(IDC_LOGDATA, "BUTTON", QStringLiteral("Record sent/recv packets"), check, 6, 143, 120,
              10),
      Control(IDC_STATIC, "BUTTON", QStringLiteral("Test WriteFile(s) followed by"),
              BS_GROUPBOX | off, 4, 155, 242, 36),
      Control(IDC_WRITE_CLOSEHANDLE, "BUTTON", QStringLiteral("CloseHandle"), button | off, 10, 165,
              76, 12),
      Control(IDC_WRITE_BAUDRATE, "BUTTON", QStringLiteral("Baudrate change"), button | off, 87,
              165, 76, 12),
      Control(IDC_WRITE_FLUSH, "BUTTON", QStringLiteral("FlushFileBuffers"), button | off, 164, 165,
              76, 12),
      Control(IDC_WRITE_TXABORT, "BUTTON", QStringLiteral("PurgeComm TXABORT"), button | off, 10,
              178, 76, 12),
      Control(IDC_WRITE_TXCLEAR, "BUTTON", QStringLiteral("PurgeComm TXCLEAR"), button | off, 87,
              178, 76, 12),
      Control(IDC_WRITE_CANCELIO, "BUTTON", QStringLiteral("CancelIo"), button | off, 164, 178, 76,
              12),
      Control(IDC_STATIC, "BUTTON", QStringLiteral("Test Valid Baudrates"), BS_GROUPBOX | off, 4,
              193, 242, 22),
      Control(IDC_STATIC, "STATIC", QStringLiteral("Status: "), SS_LEFT | off, 10, 203, 26, 8),
      Control(IDC_BAUDS_STATUS, "STATIC", QString(), SS_LEFT | off, 36, 203, 156, 8),
      Control(IDC_RUN_BAUDS, "BUTTON", QStringLiteral("Run Test"), button | off, 196, 200, 44, 13),
  };
  return t;
}

int ReadInt(const char* entry, int defaultValue) {
  return qv::store::GetProfileInt(kSettings, QString::fromLatin1(entry), defaultValue);
}

void WriteInt(const char* entry, int value) {
  qv::store::WriteProfileInt(kSettings, QString::fromLatin1(entry), value);
}

}  // namespace

CToolTests::CToolTests(qv::ui::TemplateDialog* console)
    : CToolPanel(TestsTemplate(), console, kToggleId) {
  // 1. The stored values; the record flag goes straight into the engine.
  LoopTests = ReadInt("LoopTests", 0);
  CommConnection.LogData = ReadInt("LogData", 0);
  // An interval the field would refuse is not taken from the store either (a negative one would
  // read as a sleep of 49 days).
  LoopInterval = DWORD(std::clamp(ReadInt("LoopInterval", 0), 0, 65535));
  host_ = std::make_shared<PanelTestHost>(this, console);
}

CToolTests::~CToolTests() {
  // A window that was never ended still lets its threads go first (see OnDestroy).
  if (IsCreated() && !IsDestroyed()) DestroyWindow();
}

bool CToolTests::OnInitDialog() {
  BindHandlers();
  if (auto* from = Item<QComboBox>(IDC_OVERLAP_FROM)) {
    from->addItem(QStringLiteral("Random"));
    from->addItem(QStringLiteral("quor_vix.exe"));
  }
  // 2. Members into the controls; the data source and the engine's block size. Setting 1031
  // here is no edit of the user's: it stores nothing.
  initialising_ = true;
  UpdateData(false);
  SetDlgItemText(IDC_OVERLAP_FROM,
                 qv::store::GetProfileString(kSettings, QStringLiteral("OverlapFrom"),
                                             QStringLiteral("Random")));
  SetDlgItemText(IDC_BLOCKSIZE, QString::number(CommConnection.ReadBlockSize.Load()));
  initialising_ = false;
  return true;
}

void CToolTests::BindHandlers() {
  // Clicks by control ID: one line per handler.
  const struct {
    int id;
    void (CToolTests::*handler)();
  } clicks[] = {
      {IDC_LOOPTESTS, &CToolTests::OnExchange},
      {IDC_LOGDATA, &CToolTests::OnExchange},
      {IDC_RUN_OPENCLOSE, &CToolTests::OnRunOpenClose},
      {IDC_RUN_OVERLAP, &CToolTests::OnRunOverlap},
      {IDC_RUN_TIMEOUTS, &CToolTests::OnRunTimeouts},
      {IDC_WRITE_CLOSEHANDLE, &CToolTests::OnWriteCloseHandle},
      {IDC_WRITE_BAUDRATE, &CToolTests::OnWriteBaudrate},
      {IDC_WRITE_FLUSH, &CToolTests::OnWriteFlush},
      {IDC_WRITE_TXABORT, &CToolTests::OnWriteTxAbort},
      {IDC_WRITE_TXCLEAR, &CToolTests::OnWriteTxClear},
      {IDC_WRITE_CANCELIO, &CToolTests::OnWriteCancelIo},
      {IDC_RUN_SETCONFIG, &CToolTests::OnRunSetConfig},
      {IDC_RUN_BAUDS, &CToolTests::OnRunBaudScan},
  };
  for (const auto& click : clicks) OnCommand(click.id, [this, h = click.handler] { (this->*h)(); });
  OnNotify(IDC_BLOCKSIZE, EN_CHANGE, [this] { OnBlockSizeChange(); });
  OnMessage(WM_START_TIMER, [this](WPARAM id, LPARAM ms) {
    StartTimer(id, UINT(ms));
    return LPARAM(0);
  });
  OnMessage(WM_STOP_TIMER, [this](WPARAM id, LPARAM) {
    StopTimer(id);
    return LPARAM(0);
  });
}

void CToolTests::OnDestroy() {
  // 3. Controls into the members (a refused interval keeps the last one taken: there is no
  // one left to ask), then the stored values.
  LoopTests = IsDlgButtonChecked(IDC_LOOPTESTS) == BST_CHECKED ? 1 : 0;
  CommConnection.LogData = IsDlgButtonChecked(IDC_LOGDATA) == BST_CHECKED ? 1 : 0;
  bool ok = false;
  const uint interval = GetDlgItemText(IDC_LOOPINTERVAL).toUInt(&ok);
  if (ok && interval <= 65535) LoopInterval = interval;
  qv::store::WriteProfileString(kSettings, QStringLiteral("OverlapFrom"),
                                GetDlgItemText(IDC_OVERLAP_FROM));
  WriteInt("LoopInterval", int(LoopInterval.Load()));
  WriteInt("LoopTests", LoopTests);
  WriteInt("LogData", CommConnection.LogData);

  // Running tests end at their next step: the host answers them no more, and a test waiting for
  // a block or the read thread waiting for its acknowledgement is released.
  host_->Detach();
  Echo().echoAbandoned = 1;
  SetEvent(Echo().blockReceived);
  SetEvent(Echo().blockAcknowledged);
  for (auto& [id, timer] : timers_) delete timer;
  timers_.clear();
  // Every worker, one after the other, within one bound (a worker that has ended returns at
  // once). One still in a blocking call at the bound holds the host and the shared record, not
  // the panel, and keeps its handle.
  const DWORD start = GetTickCount();
  for (HANDLE worker : workers_) {
    const DWORD spent = GetTickCount() - start;
    const DWORD left = spent >= kWorkerEndWait ? 0 : kWorkerEndWait - spent;
    if (qv::ui::PumpingWait(1, &worker, left) == WAIT_OBJECT_0) CloseHandle(worker);
  }
  workers_.clear();
}

void CToolTests::EnableConnectionControls(int enable) {
  connectionControls_ = enable;
  if (!enable) {
    // The read thread must not stay held for a block that will never be acknowledged.
    Echo().echoAbandoned = 1;
    SetEvent(Echo().blockAcknowledged);
  }
  // The children in template order: everything after the Non-Overlap "Run Test" button.
  bool after = false;
  for (QObject* child : children()) {
    auto* w = qobject_cast<QWidget*>(child);
    if (w == nullptr || w->isWindow() || !w->property("controlId").isValid()) continue;
    if (after) w->setEnabled(enable != 0);
    if (qv::ui::ControlId(w) == IDC_RUN_TIMEOUTS) after = true;
  }
}

bool CToolTests::FollowsConnection(int id) const {
  bool after = false;
  for (QObject* child : children()) {
    auto* w = qobject_cast<QWidget*>(child);
    if (w == nullptr || w->isWindow() || !w->property("controlId").isValid()) continue;
    if (after && qv::ui::ControlId(w) == id) return true;
    if (qv::ui::ControlId(w) == IDC_RUN_TIMEOUTS) after = true;
  }
  return false;
}

bool CToolTests::UpdateData(bool fromControls) {
  if (!fromControls) {
    CheckDlgButton(IDC_LOOPTESTS, LoopTests ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(IDC_LOGDATA, CommConnection.LogData ? BST_CHECKED : BST_UNCHECKED);
    SetDlgItemText(IDC_LOOPINTERVAL, QString::number(LoopInterval.Load()));
    return true;
  }
  LoopTests = IsDlgButtonChecked(IDC_LOOPTESTS) == BST_CHECKED ? 1 : 0;
  CommConnection.LogData = IsDlgButtonChecked(IDC_LOGDATA) == BST_CHECKED ? 1 : 0;
  bool ok = false;
  const qulonglong interval = GetDlgItemText(IDC_LOOPINTERVAL).trimmed().toULongLong(&ok);
  if (!ok || interval > 65535) {
    MessageBoxA(qv::ui::ToHwnd(this),
                ok ? "Please enter an integer between 0 and 65535." : "Please enter an integer.",
                qv::drivertests::kAppTitle, MB_OK | MB_ICONEXCLAMATION);
    if (auto* edit = Item<QLineEdit>(IDC_LOOPINTERVAL)) {
      edit->setFocus();
      edit->selectAll();
    }
    return false;
  }
  LoopInterval = DWORD(interval);
  return true;
}

qv::drivertests::TestHost& CToolTests::Host() { return *host_; }

namespace {

struct WorkerStart {
  std::shared_ptr<qv::drivertests::TestHost> host;
  std::function<void(qv::drivertests::TestHost&)> body;
};

DWORD TestWorkerThreadProc(LPVOID parameter) {
  std::unique_ptr<WorkerStart> start(static_cast<WorkerStart*>(parameter));
  start->body(*start->host);
  return 0;
}

}  // namespace

HANDLE CToolTests::StartWorker(std::function<void(qv::drivertests::TestHost&)> body) {
  // Threads that have ended give their handles back first.
  std::erase_if(workers_, [](HANDLE worker) {
    if (WaitForSingleObject(worker, 0) != WAIT_OBJECT_0) return false;
    CloseHandle(worker);
    return true;
  });
  auto* start = new WorkerStart{host_, std::move(body)};
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, TestWorkerThreadProc, start, 0, &id);
  if (thread == nullptr) {
    delete start;
    return nullptr;
  }
  workers_.push_back(thread);
  return thread;
}

void CToolTests::OnExchange() { UpdateData(true); }

void CToolTests::OnRunOpenClose() {
  StartWorker([shared = shared_](qv::drivertests::TestHost& host) {
    qv::drivertests::RunOpenCloseLoop(host, [shared] { return shared->loopInterval.Load(); });
  });
}

void CToolTests::OnBlockSizeChange() {
  if (initialising_) return;
  // An unsigned number only; 0 or anything else changes nothing, and a size beyond the bound is
  // refused with the prompt.
  bool ok = false;
  const qulonglong size = GetDlgItemText(IDC_BLOCKSIZE).toULongLong(&ok);
  if (!ok || size == 0) return;
  if (size > kMaxBlockSize) {
    const std::string prompt =
        "Please enter an integer between 1 and " + std::to_string(kMaxBlockSize) + ".";
    MessageBoxA(qv::ui::ToHwnd(this), prompt.c_str(), qv::drivertests::kAppTitle,
                MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  SetCommBlockSize(DWORD(size));
  WriteInt("BlockSize", int(CommConnection.ReadBlockSize.Load()));
}

void CToolTests::StartTimer(WPARAM id, UINT milliseconds) {
  QTimer*& timer = timers_[id];
  if (timer == nullptr) {
    timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, [this, id] { OnTimer(id); });
  }
  timer->start(int(milliseconds));
}

void CToolTests::StopTimer(WPARAM id) {
  auto it = timers_.find(id);
  if (it != timers_.end()) it->second->stop();
}

void CToolTests::OnTimer(WPARAM id) {
  auto it = timerHandlers_.find(id);
  if (it == timerHandlers_.end() || !it->second) return;
  std::function<void()> handler = it->second;  // it may rebind or stop its timer
  handler();
}

void CToolTests::OnRunOverlap() {
  StartWorker([shared = shared_](qv::drivertests::TestHost& host) {
    qv::drivertests::RunBlockEcho(host, shared->echo);
  });
}

void CToolTests::CheckReceivedBlock(const BYTE* data, DWORD count) {
  qv::drivertests::CheckReceivedBlock(*host_, Echo(), data, count);
}
