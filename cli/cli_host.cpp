#include "cli/cli_host.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <memory>

#include "capture/capture_writer.h"
#include "drivertests/port_handle.h"
#include "drivertests/port_path.h"
#include "platform/comm/port_names.h"
#include "platform/comm/virtual_port_control.h"
#include "platform/sync/event.h"
#include "platform/sync/kernel_object.h"
#include "platform/sync/last_error.h"
#include "platform/sync/thread.h"
#include "platform/ui/ui_thread.h"

namespace qv::cli {
namespace {

// The console's module name: its port path reports checked calls under it.
constexpr const char* kConsoleModule = "quor_vixDlg";
// The timers' resolution while the UI thread waits.
constexpr auto kTimerSlice = std::chrono::milliseconds(10);
// How often a running capture looks at the modem lines: as often as the console's states panel.
constexpr auto kModemLook = std::chrono::milliseconds(100);

struct WorkerStart {
  CliHost* host;
  std::function<void(qv::drivertests::TestHost&)> body;
};

DWORD WorkerThreadProc(LPVOID parameter) {
  std::unique_ptr<WorkerStart> start(static_cast<WorkerStart*>(parameter));
  start->body(*start->host);
  return 0;
}

// The answer that lets a run go on without anyone there: OK, Yes, Ignore (the failed call's
// result goes back to the test, which reports it), Cancel where Retry/Cancel is offered.
int UnattendedAnswer(UINT flags) {
  switch (flags & MB_TYPEMASK) {
    case MB_OKCANCEL: return IDOK;
    case MB_ABORTRETRYIGNORE: return IDIGNORE;
    case MB_YESNOCANCEL:
    case MB_YESNO: return IDYES;
    case MB_RETRYCANCEL: return IDCANCEL;
    default: return IDOK;
  }
}

}  // namespace

CliHost::CliHost(HostSettings settings)
    : settings_(std::move(settings)), speed_(settings_.speed), tty_(::isatty(STDOUT_FILENO)) {
  previousBoxes_ = qv::ui::CurrentMessageBoxProvider();
  qv::ui::SetMessageBoxProvider(this);
  CommConnection.console = this;
}

CliHost::~CliHost() {
  ending_ = true;
  if (PortOpen()) CloseConnection();
  for (HANDLE worker : workers_) {
    Wait(worker, 5000);
    CloseHandle(worker);
  }
  CommConnection.console = nullptr;
  qv::ui::SetMessageBoxProvider(previousBoxes_);
}

bool CliHost::IsChecked(int id) {
  if (id != IDC_LOOPTESTS) return false;
  // Asked once at the end of every cycle: checked until the last cycle has run.
  const int asked = ++loopQuestions_;
  return asked < settings_.cycles && !Ending();
}

std::string CliHost::ItemText(int id) {
  if (id == IDC_OVERLAP_FROM) return settings_.source;
  std::lock_guard hold(lock_);
  const auto it = items_.find(id);
  return it == items_.end() ? std::string() : it->second;
}

void CliHost::SetItemText(int id, const std::string& text) {
  {
    std::lock_guard hold(lock_);
    items_[id] = text;
  }
  if (onItemText) onItemText(id, text);
}

void CliHost::ConsoleOpenClose() {
  qv::ui::RunOnUiThread([this] { OpenCloseOnUi(); });
}

void CliHost::ConsolePortOpened(int start) {
  qv::ui::RunOnUiThread([this, start] { PortOpenedOnUi(start); });
}

bool CliHost::ConsoleSelectSpeed(const std::string& prefix) {
  char* end = nullptr;
  const unsigned long rate = std::strtoul(prefix.c_str(), &end, 10);
  if (end == prefix.c_str() || rate == 0) return false;
  qv::ui::RunOnUiThread([&] {
    speed_ = DWORD(rate);
    if (hPort == INVALID_HANDLE_VALUE) return;
    CheckDriverBaud(DWORD(rate), qv::drivertests::ApplySpeed(hPort, DWORD(rate), kConsoleModule));
  });
  return true;
}

std::string CliHost::ConsoleCommandLineText() {
  return settings_.startPhase > 0 ? std::to_string(settings_.startPhase) : std::string();
}

int CliHost::ShowBox(const std::string& text, const std::string&, UINT flags) {
  return Record(text, flags);
}

int CliHost::Show(HWND, const std::string& text, const std::string&, UINT flags) {
  return Record(text, flags);
}

int CliHost::Record(const std::string& text, UINT flags) {
  {
    std::lock_guard hold(lock_);
    boxes_.push_back(text);
  }
  {
    std::lock_guard hold(outputLock_);
    if (progressShown_) std::fputs("\r\033[K", stdout);
    progressShown_ = false;
    std::fputs(text.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  }
  return UnattendedAnswer(flags);
}

void CliHost::Progress(const std::string& text) {
  if (!tty_) return;
  std::lock_guard hold(outputLock_);
  std::fputs("\r\033[K", stdout);
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
  progressShown_ = !text.empty();
}

void CliHost::BindTimer(WPARAM id, std::function<void()> onExpiry) {
  std::lock_guard hold(lock_);
  timers_[id].onExpiry = std::move(onExpiry);
}

void CliHost::ArmTimer(WPARAM id, UINT milliseconds) {
  {
    std::lock_guard hold(lock_);
    Timer& timer = timers_[id];
    timer.armed = true;
    timer.period = std::chrono::milliseconds(milliseconds);
    timer.due = Clock::now() + timer.period;
  }
  if (onTimer) qv::ui::RunOnUiThread([&] { onTimer(id, true); });
}

void CliHost::DisarmTimer(WPARAM id) {
  {
    std::lock_guard hold(lock_);
    timers_[id].armed = false;
  }
  if (onTimer) qv::ui::RunOnUiThread([&] { onTimer(id, false); });
}

void CliHost::RunDueTimers() {
  for (;;) {
    std::function<void()> expired;
    {
      std::lock_guard hold(lock_);
      const auto now = Clock::now();
      for (auto& [id, timer] : timers_) {
        if (!timer.armed || timer.due > now) continue;
        timer.due = now + timer.period;  // repeats until disarmed, as a Win32 timer
        expired = timer.onExpiry;
        break;
      }
    }
    if (!expired) return;
    expired();
  }
}

// The driver tells a change of the input lines only to a wait for it, and the engine's read
// thread waits for errors alone: a running capture gets the lines as the console's states panel
// sees them, by looking, from the open of each port on.
void CliHost::WatchModemLines() {
  const HANDLE port = hPort;
  if (port == INVALID_HANDLE_VALUE || !qv::capture::LineCapture().Running()) {
    modemPort_ = INVALID_HANDLE_VALUE;
    return;
  }
  const auto now = Clock::now();
  if (port == modemPort_ && now < nextModemLook_) return;
  if (port != modemPort_) lastModem_.reset();
  modemPort_ = port;
  nextModemLook_ = now + kModemLook;
  const DWORD error = GetLastError();
  DWORD status = 0;
  if (GetCommModemStatus(port, &status) && status != lastModem_) {
    lastModem_ = status;
    qv::drivertests::RecordModemStatus(status);
  }
  SetLastError(error);
}

void CliHost::LogText(const char* text) {
  if (!settings_.verbose) return;
  std::lock_guard hold(outputLock_);
  std::fprintf(stderr, "%s\n", text);
}

int CliHost::OnCommData(const BYTE* data, DWORD count) {
  if (onReceive) onReceive(data, count);
  qv::drivertests::CheckReceivedBlock(*this, echo_, data, count);
  return 1;
}

void CliHost::RequestClose() {
  // Posted, never carried out here: the UI thread closes the connection it was asked about.
  closeRequest_ = serial_.load();
}

void CliHost::BeginTest() {
  speed_ = settings_.speed;
  loopQuestions_ = 0;
  std::lock_guard hold(lock_);
  boxes_.clear();
  items_.clear();
}

std::vector<std::string> CliHost::Boxes() const {
  std::lock_guard hold(lock_);
  return boxes_;
}

bool CliHost::PortOpen() const { return hPort != INVALID_HANDLE_VALUE; }

bool CliHost::OpenConnection() {
  if (!PortOpen()) OpenCloseOnUi();
  return PortOpen();
}

void CliHost::CloseConnection() {
  if (PortOpen()) OpenCloseOnUi();
}

void CliHost::OpenCloseOnUi() {
  if (hPort == INVALID_HANDLE_VALUE) {
    const HANDLE port = qv::drivertests::OpenPortOverlapped(settings_.port);
    if (port == INVALID_HANDLE_VALUE) {
      Record(qv::drivertests::OpenErrorText(GetLastError(), "CreateFile"), MB_OK | MB_ICONSTOP);
      return;
    }
    hPort = port;
    PortOpenedOnUi(1);
    return;
  }
  qv::drivertests::CloseConsolePort();
  // An echo test waiting for a block is released.
  SetEvent(echo_.blockReceived);
  ++serial_;
}

void CliHost::PortOpenedOnUi(int start) {
  ++serial_;
  using qv::comm::FarEndByteFault;
  const std::pair<long long, FarEndByteFault> byteFaults[] = {
      {settings_.alterByte, FarEndByteFault::kAlter},
      {settings_.dropByte, FarEndByteFault::kDrop},
      {settings_.duplicateByte, FarEndByteFault::kDuplicate},
  };
  for (const auto& [position, fault] : byteFaults) {
    if (position < 0) continue;
    qv::comm::SetFarEndByteFault(qv::comm::WithoutDevicePrefix(settings_.port), fault,
                                 std::size_t(position));
  }
  const DWORD speed = speed_;
  CheckDriverBaud(speed, qv::drivertests::ApplyOpenLineSettings(hPort, speed, kConsoleModule));
  qv::drivertests::PurgeLeftOverOutput(hPort, kConsoleModule);
  if (!start) return;
  // An engine that does not start has said why; the port closes again.
  if (!StartComm(hPort, [this](const BYTE* data, DWORD count) { return OnCommData(data, count); }))
    closeRequest_ = serial_.load();
}

void CliHost::CheckDriverBaud(DWORD requested, const DCB& actual) {
  const std::string text = qv::drivertests::DriverBaudText(int(requested), int(actual.BaudRate));
  if (text.empty()) return;
  Record(text, MB_OK | MB_ICONEXCLAMATION);
  // As the console's speed choice follows the driver: the next open asks for the kept rate.
  speed_ = actual.BaudRate;
}

DWORD CliHost::Wait(HANDLE handle, DWORD milliseconds) {
  const auto start = Clock::now();
  for (;;) {
    const unsigned request = closeRequest_.exchange(0);
    if (request != 0 && request == serial_.load() && PortOpen()) OpenCloseOnUi();
    RunDueTimers();
    WatchModemLines();
    auto slice = kTimerSlice;
    if (milliseconds != INFINITE) {
      const auto spent =
          std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
      const auto left = std::chrono::milliseconds(milliseconds) - spent;
      if (left <= std::chrono::milliseconds(0)) return WAIT_TIMEOUT;
      slice = std::min(slice, left);
    }
    const DWORD waited =
        qv::ui::PumpingWait(handle ? 1 : 0, handle ? &handle : nullptr, DWORD(slice.count()));
    if (waited != WAIT_TIMEOUT) return waited;
  }
}

HANDLE CliHost::StartWorker(std::function<void(qv::drivertests::TestHost&)> body) {
  auto* start = new WorkerStart{this, std::move(body)};
  DWORD id = 0;
  const HANDLE thread = CreateThread(nullptr, 0, WorkerThreadProc, start, 0, &id);
  if (thread == nullptr) {
    delete start;
    return nullptr;
  }
  workers_.push_back(thread);
  return thread;
}

}  // namespace qv::cli
