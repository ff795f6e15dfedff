// The non-overlapped I/O and timeouts test: the console's port is reopened without overlapped
// I/O, a probe waits for the device's echo of "AT", then seven COMMTIMEOUTS combinations
// (phases) follow. Each phase sets its timeouts, makes a read that must end by itself with nothing
// received where the combination allows one, writes one character and reads its echo back. A
// watchdog on the host's UI thread ends a run whose call stays blocked for 1.5 s.
//
// The forced end abandons the test thread (Linux cannot kill one thread): from the moment the
// watchdog fires, nothing the thread still does reaches the host or the panel's state. Every
// request of the thread goes to the UI thread and is dropped there once its run is over; the
// watchdog marks the run over on that same thread, so no request can slip in between. The run's
// own record (its port handle, the character it sends) lives as long as the thread needs it.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "drivertests/host.h"
#include "engine/shared_word.h"
#include "platform/comm/comm_api.h"
#include "resources/tests_panel_ids.h"

namespace qv::drivertests {

inline constexpr WPARAM kTimeoutsWatchdogId = 1032;
inline constexpr UINT kTimeoutsWatchdogMs = 1500;
inline constexpr int kTimeoutsPhases = 7;

// The timeouts of phase 1 to 7.
COMMTIMEOUTS PhaseTimeouts(int phase);
// Whether a read with nothing to read must return by itself under these timeouts.
bool MakesEmptyRead(const COMMTIMEOUTS& t);
// The five dump lines, each starting with "\n".
std::string DumpTimeouts(const COMMTIMEOUTS& t);
// The phase a run starts at: the leading number of the console's command line, 1 to 7, else 1.
int StartPhase(const std::string& commandLine);
// What the watchdog says about step 0 to 3 of a phase.
const char* WatchdogStepText(int step);

// The panel's members the test keeps its position in. Written and read on the UI thread only.
struct TimeoutsState {
  qv::engine::SharedWord<int>* stepCounter = nullptr;  // 4 x phase + step; 0 when idle
  COMMTIMEOUTS* savedTimeouts = nullptr;               // the timeouts of the current phase
  HANDLE* thread = nullptr;                            // the running test thread
};

class TimeoutsTest {
 public:
  // Starts body on a new worker thread and gives its handle (null when none could start).
  using StartWorker = std::function<HANDLE(std::function<void(TestHost&)> body)>;

  TimeoutsTest(TestHost& host, TimeoutsState state, StartWorker startWorker);
  ~TimeoutsTest();
  TimeoutsTest(const TimeoutsTest&) = delete;
  TimeoutsTest& operator=(const TimeoutsTest&) = delete;

  // UI thread, 1032 clicked: reopens the port non-overlapped and starts the test thread.
  void Start();
  // UI thread, the watchdog timer expired.
  void OnWatchdog();
  // UI thread, the host's window ends: a run still going ends without another box or request.
  void Shutdown();

  struct Run;

 private:
  TestHost& host_;
  TimeoutsState state_;
  StartWorker startWorker_;
  std::shared_ptr<Run> run_;  // the latest run (UI thread)
};

}  // namespace qv::drivertests
