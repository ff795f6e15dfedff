#include "drivertests/timeouts.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "drivertests/port_handle.h"
#include "platform/sync/clock.h"
#include "platform/sync/kernel_object.h"
#include "platform/sync/last_error.h"
#include "platform/sync/thread.h"
#include "platform/ui/ui_thread.h"
#include "resources/tests_panel_ids.h"
#include "support/reporting/error_reporting.h"

namespace qv::drivertests {
namespace {

constexpr const char* kSourceModule = "ToolTests";
constexpr const char* kErrorHead = "Error during timeouts test\n";
constexpr DWORD kEchoWaitMs = 200;

}  // namespace

COMMTIMEOUTS PhaseTimeouts(int phase) {
  switch (phase) {
    case 1: return {250, 0, 1000, 0, 0};
    case 2: return {250, 0, 0, 0, 0};
    case 3: return {0, 0, 0, 0, 0};
    case 4: return {MAXDWORD, MAXDWORD, 200, MAXDWORD, 200};
    case 5: return {0, 0, 1000, 0, 0};
    case 6: return {MAXDWORD, 0, 0, 0, 0};
    case 7: return {MAXDWORD, 0, 1000, 0, 1000};
    default: return {};
  }
}

bool MakesEmptyRead(const COMMTIMEOUTS& t) {
  const bool constant = t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != MAXDWORD;
  const bool multiplier =
      t.ReadTotalTimeoutMultiplier != 0 && t.ReadTotalTimeoutMultiplier != MAXDWORD;
  return constant || multiplier || t.ReadIntervalTimeout == MAXDWORD;
}

std::string DumpTimeouts(const COMMTIMEOUTS& t) {
  const struct {
    const char* label;
    DWORD value;
  } lines[] = {
      {"\ncommtimeouts.ReadIntervalTimeout         = ", t.ReadIntervalTimeout},
      {"\ncommtimeouts.ReadTotalTimeoutMultiplier  = ", t.ReadTotalTimeoutMultiplier},
      {"\ncommtimeouts.ReadTotalTimeoutConstant    = ", t.ReadTotalTimeoutConstant},
      {"\ncommtimeouts.WriteTotalTimeoutMultiplier = ", t.WriteTotalTimeoutMultiplier},
      {"\ncommtimeouts.WriteTotalTimeoutConstant   = ", t.WriteTotalTimeoutConstant},
  };
  std::string text;
  for (const auto& line : lines) {
    text += line.label;
    text += line.value == MAXDWORD ? std::string("MAXDWORD")
                                   : std::to_string(static_cast<int>(line.value));
  }
  return text;
}

int StartPhase(const std::string& commandLine) {
  const int phase = std::atoi(commandLine.substr(0, 127).c_str());
  return phase >= 1 && phase <= kTimeoutsPhases ? phase : 1;
}

const char* WatchdogStepText(int step) {
  switch (step) {
    case 0: return "Stuck in SetCommTimeouts";
    case 1: return "Stuck in ReadFile (no data received but should have timed out)";
    case 2: return "Stuck in WriteFile";
    default: return "Stuck in ReadFile (should have received data)";
  }
}

// One run of the test: what its thread needs, kept alive by that thread as long as it runs.
struct TimeoutsTest::Run {
  TestHost* host = nullptr;
  TimeoutsState state;
  HANDLE port = INVALID_HANDLE_VALUE;  // the run's own handle, whatever hPort holds later
  // Set on the UI thread when the run may no longer act: the watchdog ended it, or the host
  // ends. Every request of the thread is checked against it on the UI thread.
  std::atomic<bool> over{false};
  // The port was closed under the run (by the console): the run ends at its next step.
  std::atomic<bool> portClosed{false};
  COMMTIMEOUTS timeouts{};
  unsigned char sent = 'A';

  enum class Outcome { kDone, kFailed, kEnd };

  // Runs fn on the UI thread unless the run is over by then; false when it was.
  template <class F>
  bool Ui(F&& fn) {
    bool ran = false;
    qv::ui::RunOnUiThread([&] {
      if (over.load() || host->Ending()) return;
      fn();
      ran = true;
    });
    return ran;
  }

  bool Ended() {
    if (over.load() || host->Ending() || qv::sync::IsCurrentThreadAbandoned()) return true;
    // The handle leaves the handle table before its pending calls are ended, so a call that
    // failed because the console closed the port always finds it gone here.
    if (!portClosed.load() && qv::sync::LookupHandle(port) == nullptr) portClosed = true;
    return portClosed.load();
  }

  void Verdict(const std::string& text) {
    Ui([&] { host->Verdict(text); });
  }

  // The checked-call box for a failed call; true for Retry. Not shown once the run has ended.
  bool Retry(DWORD error, int line) {
    bool retry = false;
    Ui([&] {
      SetLastError(error);
      retry = RetryOnLastError(kSourceModule, line);
    });
    return retry;
  }

  // A checked call without the watchdog (the probe).
  template <class Call>
  Outcome Checked(int line, Call&& call) {
    for (;;) {
      const BOOL ok = call();
      const DWORD error = GetLastError();
      if (Ended()) return Outcome::kEnd;
      if (ok) return Outcome::kDone;
      if (!Retry(error, line)) return Ended() ? Outcome::kEnd : Outcome::kFailed;
    }
  }

  // A checked call under the watchdog, at this step. The position and the phase's timeouts are
  // published on the UI thread together with arming, so the watchdog always reads the values of
  // the call it guards. The watchdog does not run while a failure box waits for the user.
  template <class Call>
  Outcome Guarded(int step, int line, Call&& call) {
    for (;;) {
      const bool armed = Ui([&] {
        *state.stepCounter = step;
        *state.savedTimeouts = timeouts;
        host->ArmTimer(kTimeoutsWatchdogId, kTimeoutsWatchdogMs);
      });
      if (!armed) return Outcome::kEnd;
      const BOOL ok = call();
      const DWORD error = GetLastError();
      if (!Ui([&] { host->DisarmTimer(kTimeoutsWatchdogId); })) return Outcome::kEnd;
      if (Ended()) return Outcome::kEnd;
      if (ok) return Outcome::kDone;
      if (!Retry(error, line)) return Ended() ? Outcome::kEnd : Outcome::kFailed;
    }
  }

  // Sleeps, then tells whether the run ended meanwhile.
  bool SleepEnded(DWORD milliseconds) {
    Sleep(milliseconds);
    return Ended();
  }

  void Body();
  bool Probe();
  bool Phase(int phase);
  void Finish();
};

bool TimeoutsTest::Run::Probe() {
  DWORD written = 0;
  if (Checked(__LINE__, [&] { return WriteFile(port, "AT", 2, &written, nullptr); }) ==
      Outcome::kEnd) {
    return false;
  }
  // The device's echo; no watchdog and no limit: a device without echo keeps the test here.
  for (;;) {
    if (SleepEnded(kEchoWaitMs)) return false;
    char c = 0;
    DWORD got = 0;
    if (Checked(__LINE__, [&] { return ReadFile(port, &c, 1, &got, nullptr); }) == Outcome::kEnd) {
      return false;
    }
    if (got == 1 && c == 'T') return true;
  }
}

// False when the run ended during the phase.
bool TimeoutsTest::Run::Phase(int phase) {
  const int base = 4 * phase;
  if (!Ui([&] { host->SetItemText(IDC_PHASE, std::to_string(phase)); })) return false;
  timeouts = PhaseTimeouts(phase);

  if (Guarded(base, __LINE__, [&] { return SetCommTimeouts(port, &timeouts); }) == Outcome::kEnd) {
    return false;
  }

  if (MakesEmptyRead(timeouts)) {
    char c = 0;
    DWORD got = 0;
    if (Guarded(base + 1, __LINE__, [&] { return ReadFile(port, &c, 1, &got, nullptr); }) ==
        Outcome::kEnd) {
      return false;
    }
    if (got != 0) {
      Verdict(std::string(kErrorHead) + "ReadFile returned an unexpected character\n" +
              DumpTimeouts(timeouts));
    }
  }

  ++sent;
  DWORD written = 0;
  if (Guarded(base + 2, __LINE__, [&] { return WriteFile(port, &sent, 1, &written, nullptr); }) ==
      Outcome::kEnd) {
    return false;
  }
  if (written == 0) {
    Verdict(std::string(kErrorHead) + "WriteFile returned 0 sent characters\n" +
            DumpTimeouts(timeouts));
  }

  // A read that returns at once gets the echo some time to arrive.
  const bool atOnce =
      timeouts.ReadTotalTimeoutConstant == 0 &&
      (timeouts.ReadIntervalTimeout == MAXDWORD || timeouts.ReadTotalTimeoutMultiplier == MAXDWORD);
  for (;;) {
    if (atOnce && SleepEnded(kEchoWaitMs)) return false;
    unsigned char c = 0;
    DWORD got = 0;
    if (Guarded(base + 3, __LINE__, [&] { return ReadFile(port, &c, 1, &got, nullptr); }) ==
        Outcome::kEnd) {
      return false;
    }
    if (got == 0) {
      Verdict(std::string(kErrorHead) + "ReadFile returned 0 received characters\n" +
              DumpTimeouts(timeouts));
      return !Ended();
    }
    if (c == sent) return true;
    Verdict(std::string(kErrorHead) + "ReadFile returned a wrong character\n" +
            DumpTimeouts(timeouts));
    if (Ended()) return false;
  }
}

void TimeoutsTest::Run::Body() {
  if (!Ui([&] {
        host->EnableItem(IDC_RUN_TIMEOUTS, false);
        *state.stepCounter = 1;
      })) {
    return;
  }
  if (Probe()) {
    std::string commandLine;
    Ui([&] { commandLine = host->ConsoleCommandLineText(); });
    int first = StartPhase(commandLine);
    bool loop = false;
    do {
      for (int phase = first; phase <= kTimeoutsPhases; ++phase) {
        if (!Phase(phase)) return Finish();
      }
      first = 1;
      Ui([&] { loop = host->IsChecked(IDC_LOOPTESTS); });
    } while (loop && !Ended());
    if (!Ended()) Verdict("Done !");
  }
  Finish();
}

// The end of a run that was not forced: the port goes through the console's close path.
void TimeoutsTest::Run::Finish() {
  Ended();  // notices a port closed meanwhile
  const bool closed = portClosed.load();
  Ui([&] {
    *state.stepCounter = 0;
    // A port the console closed under the run (or one it opened since) is not the run's.
    if (!closed && hPort == port) host->ConsoleOpenClose();
    host->SetItemText(IDC_PHASE, closed ? "Inactive" : "Test done");
    host->EnableItem(IDC_RUN_TIMEOUTS, true);
  });
}

TimeoutsTest::TimeoutsTest(TestHost& host, TimeoutsState state, StartWorker startWorker)
    : host_(host), state_(state), startWorker_(std::move(startWorker)) {}

TimeoutsTest::~TimeoutsTest() { Shutdown(); }

void TimeoutsTest::Start() {
  // 1. The console's connection goes first.
  if (hPort != INVALID_HANDLE_VALUE) {
    host_.ConsoleOpenClose();
    qv::ui::PumpingWait(0, nullptr, 500);
  }
  // 2.-3. The port text as it stands, opened for blocking I/O.
  const std::string name = host_.ConsolePortText().substr(0, 127);
  const HANDLE port = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
  hPort = port;
  if (port == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    char text[512];
    std::snprintf(text, sizeof text, "Error %d while opening port", static_cast<int>(error));
    host_.Verdict(text);
    return;
  }
  // 5. The console in its open state, without connection threads.
  host_.ConsolePortOpened(0);

  auto run = std::make_shared<Run>();
  run->host = &host_;
  run->state = state_;
  run->port = port;
  run_ = run;
  host_.BindTimer(kTimeoutsWatchdogId, [this] { OnWatchdog(); });
  // The thread keeps its run alive; the host outlives every thread it runs.
  const HANDLE thread = startWorker_([run](TestHost&) { run->Body(); });
  *state_.thread = thread;
  if (thread == nullptr) {
    // No thread, no test: the console closes the port again.
    run->over = true;
    host_.ConsoleOpenClose();
    host_.SetItemText(IDC_PHASE, "Inactive");
  }
}

void TimeoutsTest::OnWatchdog() {
  // 1. The timer fires once.
  host_.DisarmTimer(kTimeoutsWatchdogId);
  const std::shared_ptr<Run> run = run_;
  // Only for the run whose port is still open (the console may have closed it meanwhile).
  if (!run || run->over.load() || hPort != run->port) return;

  // 2. The message from the values the guarded call published.
  const int step = state_.stepCounter->Load() % 4;
  const std::string text = std::string(kErrorHead) + WatchdogStepText(step) + "\n" +
                           DumpTimeouts(*state_.savedTimeouts) + "\n\nTerminating test thread...";
  // 3. The forced end comes before the box: whatever the thread does while the box is open
  // (its call may still return) must not reach the panel, arm a timer or show a box.
  run->over = true;
  if (*state_.thread != nullptr) TerminateThread(*state_.thread, 1);
  host_.Verdict(text);
  // 4. The console closes the port, which ends the blocked call.
  *state_.stepCounter = 0;
  if (hPort == run->port) host_.ConsoleOpenClose();
  host_.SetItemText(IDC_PHASE, "Inactive");
  host_.EnableItem(IDC_RUN_TIMEOUTS, true);
}

void TimeoutsTest::Shutdown() {
  if (run_) run_->over = true;
}

}  // namespace qv::drivertests
