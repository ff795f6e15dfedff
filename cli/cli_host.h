// The headless runner as the host of the driver tests: command-line options stand for the
// panel's controls, the console's port path runs without a window, and every message box becomes
// a line on standard output with the box's text, answered so that a run never waits for anyone
// (OK, Yes, Ignore, Cancel for Retry/Cancel; never Abort, never Retry).
//
// The main thread is the UI thread: it serves the test threads' requests and runs the timers in
// Wait, the only way it waits.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "drivertests/block_echo.h"
#include "drivertests/host.h"
#include "engine/comm.h"
#include "engine/console_sink.h"
#include "platform/comm/comm_api.h"
#include "platform/ui/message_box.h"

namespace qv::cli {

struct HostSettings {
  std::string port;      // as the console's port combo would hold it
  DWORD speed = 115200;  // each test opens at this speed
  int cycles = 1;        // "Loop tests": cycles a looping test runs
  DWORD interval = 0;    // the open/close loop's repeat interval, ms
  std::string source = "Random";
  int startPhase = 0;    // 0: the command line is empty
  bool verbose = false;  // the console's log lines on standard error
  // A virtual port's far end alters the byte at this position of what it sends back after each
  // open (-1: never), so that the echo test's difference can be seen.
  long long alterByte = -1;
  // The same position, other damage: the far end drops that byte, or sends it twice.
  long long dropByte = -1;
  long long duplicateByte = -1;
  // The soak: how long, its seed (taken from the clock when none is given), how many threads.
  int soakSeconds = 60;
  bool haveSeed = false;
  unsigned long long seed = 0;
  int soakThreads = 3;
  // The write tests hold the output with CTS flow control where the port's CTS follows its RTS.
  bool holdCts = true;
};

class CliHost : public qv::drivertests::TestHost,
                public qv::ui::MessageBoxProvider,
                public ConsoleSink {
 public:
  using Clock = std::chrono::steady_clock;

  explicit CliHost(HostSettings settings);
  ~CliHost() override;
  CliHost(const CliHost&) = delete;
  CliHost& operator=(const CliHost&) = delete;

  // TestHost.
  bool IsChecked(int id) override;
  std::string ItemText(int id) override;
  void SetItemText(int id, const std::string& text) override;
  void EnableItem(int, bool) override {}
  void ConsoleOpenClose() override;
  void ConsolePortOpened(int start) override;
  bool ConsoleSelectSpeed(const std::string& prefix) override;
  std::string ConsolePortText() override { return settings_.port; }
  std::string ConsoleCommandLineText() override;
  int ShowBox(const std::string& text, const std::string& caption, UINT flags) override;
  void BindTimer(WPARAM id, std::function<void()> onExpiry) override;
  void ArmTimer(WPARAM id, UINT milliseconds) override;
  void DisarmTimer(WPARAM id) override;
  void SetWaitCursor(bool) override {}
  bool Ending() override { return ending_.load(); }

  // MessageBoxProvider: the checked-call and engine boxes.
  int Show(HWND owner, const std::string& text, const std::string& caption, UINT flags) override;

  // ConsoleSink: the engine's log lines and close requests.
  void LogText(const char* text) override;
  int OnCommData(const BYTE* data, DWORD count) override;
  void RequestClose() override;

  // The program is asked to end (a signal): tests end at their next step.
  void SetEnding() { ending_ = true; }

  // A new test: the settings' speed again, no boxes, no loop cycles asked yet, empty items.
  void BeginTest();
  // The texts of the boxes shown since BeginTest.
  std::vector<std::string> Boxes() const;
  // How often the loop check has been asked since BeginTest (a looping test asks once a cycle).
  int LoopQuestions() const { return loopQuestions_.load(); }

  // UI thread. Opens the port and starts the connection as the console does (false when it
  // could not: the reason was shown as a box); Close ends it.
  bool OpenConnection();
  void CloseConnection();
  bool PortOpen() const;

  // UI thread: waits for handle (null: only the time) while serving the requests of other
  // threads, running due timers and the engine's close requests.
  DWORD Wait(HANDLE handle, DWORD milliseconds);
  // Starts body on a worker thread; the handle is the host's (closed when the host ends).
  HANDLE StartWorker(std::function<void(qv::drivertests::TestHost&)> body);

  qv::drivertests::BlockEchoShared& Echo() { return echo_; }
  const HostSettings& Settings() const { return settings_; }

  // Observers for the figures and the progress line. onItemText: any thread, after the text is
  // set. onReceive: the engine's read thread, for every received chunk. onTimer: UI thread,
  // armed (true) or disarmed (false).
  std::function<void(int id, const std::string& text)> onItemText;
  std::function<void(const BYTE* data, DWORD count)> onReceive;
  std::function<void(WPARAM id, bool armed)> onTimer;
  // Any thread: a progress text for a terminal (empty: none any more).
  void Progress(const std::string& text);

 private:
  int Record(const std::string& text, UINT flags);
  void OpenCloseOnUi();
  void PortOpenedOnUi(int start);
  void CheckDriverBaud(DWORD requested, const DCB& actual);
  void RunDueTimers();
  void WatchModemLines();

  HostSettings settings_;
  std::atomic<DWORD> speed_;
  std::atomic<bool> ending_{false};
  std::atomic<int> loopQuestions_{0};
  std::atomic<unsigned> serial_{0};        // one per connection
  std::atomic<unsigned> closeRequest_{0};  // the serial a close was asked for (0: none)
  bool progressShown_ = false;             // under outputLock_
  bool tty_ = false;

  mutable std::mutex lock_;  // items, boxes, timers
  std::map<int, std::string> items_;
  std::vector<std::string> boxes_;
  struct Timer {
    std::function<void()> onExpiry;
    bool armed = false;
    std::chrono::milliseconds period{0};
    Clock::time_point due;
  };
  std::map<WPARAM, Timer> timers_;
  std::mutex outputLock_;
  std::vector<HANDLE> workers_;  // UI thread
  // The modem lines a running capture last got, for the handle then in hPort (UI thread).
  HANDLE modemPort_ = INVALID_HANDLE_VALUE;
  std::optional<DWORD> lastModem_;
  Clock::time_point nextModemLook_;
  qv::drivertests::BlockEchoShared echo_;
  qv::ui::MessageBoxProvider* previousBoxes_ = nullptr;
};

}  // namespace qv::cli
