#include "cli/driver_tests.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>

#include "cli/soak.h"
#include "cli/test_steps.h"
#include "cli/write_tests.h"
#include "drivertests/baud_scan_run.h"
#include "drivertests/open_close_loop.h"
#include "drivertests/port_handle.h"
#include "drivertests/set_config.h"
#include "drivertests/timeouts.h"
#include "drivertests/write_interrupt.h"
#include "platform/sync/kernel_object.h"
#include "platform/sync/last_error.h"
#include "platform/sync/process_counts.h"
#include "platform/sync/thread.h"

namespace qv::cli {
namespace {

using Clock = CliHost::Clock;
using qv::drivertests::TestHost;

// How long the timeouts test may wait for the device's echo of "AT" before the run gives up on
// it (the test itself would wait for ever).
constexpr DWORD kProbeLimitMs = 10000;
// How long threads that a test ended may take to be gone before the figures are read.
constexpr DWORD kSettleLimitMs = 2000;

// The verdict from the boxes: passed when the test showed boxes and every one is its success
// text; otherwise the first other text fails it.
void JudgeBoxes(CliHost& host, TestResult& result, const std::string& success) {
  const std::vector<std::string> boxes = host.Boxes();
  for (const std::string& box : boxes) {
    if (box != success) {
      result.Fail(box);
      return;
    }
  }
  if (boxes.empty()) {
    result.Fail("The test ended without its verdict \"" + success + "\"");
    return;
  }
  result.passed = result.failure.empty();
}

// Threads started by the test that are still ending (an abandoned one included) end first.
void SettleThreads(CliHost& host, int running) {
  const auto start = Clock::now();
  while (qv::sync::RunningThreadCount() > running &&
         MsBetween(start, Clock::now()) < kSettleLimitMs) {
    host.Wait(nullptr, 10);
  }
}

void WaitForWorker(CliHost& host, HANDLE worker, const std::function<void()>& eachSlice = {}) {
  while (host.Wait(worker, 200) == WAIT_TIMEOUT) {
    if (eachSlice) eachSlice();
  }
}

// ---- open-close -------------------------------------------------------------------------

void OpenClose(CliHost& host, TestResult& result) {
  host.CloseConnection();
  const int threadsRunning = qv::sync::RunningThreadCount();
  const qv::sync::ProcessCounts before = qv::sync::CountProcess();
  const DWORD interval = host.Settings().interval;
  const int cycles = host.Settings().cycles;
  const auto start = Clock::now();
  // Written by the worker, read once it has ended.
  qv::drivertests::OpenCloseLoopResult loop;
  const HANDLE worker = host.StartWorker([interval, &loop](TestHost& h) {
    loop = qv::drivertests::RunOpenCloseLoop(h, [interval] { return interval; });
  });
  if (worker == nullptr) return result.Fail("The test thread could not start");
  // The rate over the run, slice by slice, for the report.
  std::vector<double> rates;
  auto sliceStart = start;
  int sliceCycles = 0;
  WaitForWorker(host, worker, [&] {
    const int now = host.LoopQuestions();
    host.Progress("open-close: cycle " + std::to_string(now) + " of " + std::to_string(cycles));
    const auto t = Clock::now();
    rates.push_back((now - sliceCycles) * 1000.0 / std::max(1.0, MsBetween(sliceStart, t)));
    sliceStart = t;
    sliceCycles = now;
  });
  const double seconds = MsBetween(start, Clock::now()) / 1000;
  if (!rates.empty()) result.series.emplace_back("cycles_per_second", std::move(rates));
  host.Progress("");
  host.CloseConnection();
  SettleThreads(host, threadsRunning);
  // A thread that has returned may still be leaving the kernel's list for a moment.
  qv::sync::ProcessCounts after = qv::sync::CountProcess();
  // The worker's own handle is the host's until the host ends: not one the loop left open.
  const auto handlesLeft = [&] { return after.handles - 1 - before.handles; };
  for (int i = 0;
       i < 100 && (after.fds > before.fds || after.threads > before.threads || handlesLeft() > 0);
       ++i) {
    host.Wait(nullptr, 10);
    after = qv::sync::CountProcess();
  }
  const int done = host.LoopQuestions();
  result.Figure("cycles", std::to_string(done));
  result.Figure("seconds", Fixed(seconds, 3));
  result.Figure("cycles_per_second", Fixed(seconds > 0 ? done / seconds : 0, 1));
  result.Figure("fds_before", std::to_string(before.fds));
  result.Figure("fds_after", std::to_string(after.fds));
  result.Figure("threads_before", std::to_string(before.threads));
  result.Figure("threads_after", std::to_string(after.threads));
  result.Figure("handles_before", std::to_string(before.handles));
  result.Figure("handles_after", std::to_string(after.handles - 1));
  result.Figure("opens", std::to_string(loop.opens));
  result.Figure("opens_refused", std::to_string(loop.refusedOpens));
  // The console's box of each refused open is among the lines; the count says how many.
  if (loop.refusedOpens > 0) {
    result.Fail(std::to_string(loop.refusedOpens) + " of " + std::to_string(loop.opens) +
                " opens refused");
  }
  JudgeNoBoxes(host, result);
  if (after.fds > before.fds) {
    result.Fail(std::to_string(after.fds - before.fds) + " file descriptors more after the " +
                std::to_string(done) + " cycles than before");
  }
  if (after.threads > before.threads) {
    result.Fail(std::to_string(after.threads - before.threads) + " threads more after the " +
                std::to_string(done) + " cycles than before");
  }
  if (handlesLeft() > 0) {
    result.Fail(std::to_string(handlesLeft()) + " handles more after the " + std::to_string(done) +
                " cycles than before");
  }
}

// ---- timeouts -----------------------------------------------------------------------------

// The panel's members that the test keeps its position in: as long-lived as a panel, since an
// abandoned run may still refer to them.
struct TimeoutsPanelState {
  qv::engine::SharedWord<int> stepCounter;
  COMMTIMEOUTS savedTimeouts{};
  HANDLE thread = nullptr;
};

// What a read of one byte may take under these timeouts; -1 when it waits for the byte.
long long ReadBoundMs(const COMMTIMEOUTS& t) {
  const DWORD multiplier =
      t.ReadTotalTimeoutMultiplier == MAXDWORD ? 0 : t.ReadTotalTimeoutMultiplier;
  const DWORD constant = t.ReadTotalTimeoutConstant == MAXDWORD ? 0 : t.ReadTotalTimeoutConstant;
  if (multiplier == 0 && constant == 0) return t.ReadIntervalTimeout == MAXDWORD ? 0 : -1;
  return static_cast<long long>(multiplier) + constant;
}

void Timeouts(CliHost& host, TestResult& result) {
  static TimeoutsPanelState* panel = new TimeoutsPanelState;
  static qv::drivertests::TimeoutsTest* test = nullptr;
  if (test == nullptr) {
    qv::drivertests::TimeoutsState state{&panel->stepCounter, &panel->savedTimeouts,
                                         &panel->thread};
    test = new qv::drivertests::TimeoutsTest(host, state,
                                             [&host](std::function<void(TestHost&)> body) {
                                               return host.StartWorker(std::move(body));
                                             });
  }
  host.CloseConnection();
  const int threadsRunning = qv::sync::RunningThreadCount();

  // Each guarded read's duration, from the watchdog's arming to its disarming.
  struct Read {
    double ms = 0;
    long long bound = 0;
  };
  std::map<std::string, Read> reads;  // "phase3_echo_read" -> the longest such read
  Clock::time_point armedAt;
  int armedStep = -1;
  COMMTIMEOUTS armedTimeouts{};
  host.onTimer = [&](WPARAM id, bool armed) {
    if (id != qv::drivertests::kTimeoutsWatchdogId) return;
    if (armed) {
      armedAt = Clock::now();
      armedStep = panel->stepCounter.Load();
      armedTimeouts = panel->savedTimeouts;
      return;
    }
    if (armedStep < 0) return;
    const int step = armedStep % 4;
    const int phase = armedStep / 4;
    armedStep = -1;
    if (step != 1 && step != 3) return;
    const std::string key =
        "phase" + std::to_string(phase) + (step == 1 ? "_empty_read" : "_echo_read");
    Read& read = reads[key];
    read.ms = std::max(read.ms, MsBetween(armedAt, Clock::now()));
    read.bound = ReadBoundMs(armedTimeouts);
  };

  panel->thread = nullptr;
  const auto start = Clock::now();
  test->Start();
  bool gaveUp = false;
  if (panel->thread != nullptr) {
    WaitForWorker(host, panel->thread, [&] {
      host.Progress("timeouts: phase " + host.ItemText(IDC_PHASE));
      if (!gaveUp && panel->stepCounter.Load() == 1 &&
          MsBetween(start, Clock::now()) > kProbeLimitMs) {
        // Closing the port ends the probe's read; the test then ends by itself.
        gaveUp = true;
        result.Fail("No echo of \"AT\" from the device within " +
                    std::to_string(kProbeLimitMs / 1000) +
                    " s: the timeouts test needs a far end that echoes what it receives");
        host.CloseConnection();
      }
    });
  }
  host.Progress("");
  SettleThreads(host, threadsRunning);
  host.onTimer = nullptr;
  host.CloseConnection();
  result.Figure("seconds", Fixed(MsBetween(start, Clock::now()) / 1000, 3));
  for (const auto& [key, read] : reads) {
    result.Figure(key + "_ms", Fixed(read.ms, 1));
    result.Figure(key + "_bound_ms", read.bound < 0 ? "none" : std::to_string(read.bound));
  }
  JudgeBoxes(host, result, "Done !");
}

// ---- echo ---------------------------------------------------------------------------------

void Echo(CliHost& host, TestResult& result) {
  std::mutex lock;
  std::map<int, Clock::time_point> sent;  // block sequence number -> when it went out
  std::vector<Clock::time_point> received;
  const DWORD block = CommConnection.ReadBlockSize;
  host.CloseConnection();
  // Block k of a cycle goes out just after the counter shows its number; block 0 just before
  // the counter shows 1.
  host.onItemText = [&](int id, const std::string& text) {
    if (id != IDC_BLOCKNUMBER || text.empty()) return;
    const int counter = std::atoi(text.c_str());
    const auto now = Clock::now();
    host.Progress("echo: block " + text + ", cycle " + std::to_string((counter - 1) / 10 + 1) +
                  " of " + std::to_string(host.Settings().cycles));
    std::lock_guard hold(lock);
    if (counter % 10 == 1) sent.emplace(counter - 1, now);
    if (counter % 10 != 0) sent.emplace(counter, now);
  };
  host.onReceive = [&](const BYTE*, DWORD count) {
    if (host.Echo().overlapRunning.Load() == 0 || count != block) return;
    std::lock_guard hold(lock);
    received.push_back(Clock::now());
  };
  if (Reconnect(host, result)) {
    const HANDLE worker =
        host.StartWorker([&host](TestHost& h) { qv::drivertests::RunBlockEcho(h, host.Echo()); });
    if (worker == nullptr) {
      result.Fail("The test thread could not start");
    } else {
      WaitForWorker(host, worker);
      JudgeBoxes(host, result, "Success !");
    }
  }
  host.Progress("");
  host.CloseConnection();  // the read thread ends: nothing uses the observers any more
  host.onItemText = nullptr;
  host.onReceive = nullptr;

  std::lock_guard hold(lock);
  result.Figure("block_size", std::to_string(block));
  result.Figure("blocks", std::to_string(received.size()));
  result.Figure("speed_bps", std::to_string(host.Settings().speed));
  double least = 0, most = 0, total = 0;
  int pairs = 0;
  std::vector<double> roundTrips;
  for (std::size_t i = 0; i < received.size(); ++i) {
    const auto out = sent.find(int(i));
    if (out == sent.end()) continue;
    const double ms = MsBetween(out->second, received[i]);
    roundTrips.push_back(ms);
    least = pairs == 0 ? ms : std::min(least, ms);
    most = std::max(most, ms);
    total += ms;
    ++pairs;
  }
  if (!received.empty() && sent.count(0) != 0) {
    const double seconds = MsBetween(sent.at(0), received.back()) / 1000;
    const double bytes = double(received.size()) * block;
    result.Figure("bytes", Fixed(bytes, 0));
    result.Figure("throughput_bytes_per_second", Fixed(seconds > 0 ? bytes / seconds : 0, 0));
  }
  if (pairs > 0) {
    result.Figure("round_trip_ms_min", Fixed(least, 1));
    result.Figure("round_trip_ms_avg", Fixed(total / pairs, 1));
    result.Figure("round_trip_ms_max", Fixed(most, 1));
    result.series.emplace_back("round_trip_ms", std::move(roundTrips));
  }
}

// ---- setconfig, baud-scan -----------------------------------------------------------------

void SetConfig(CliHost& host, TestResult& result) {
  if (!Reconnect(host, result)) return;
  const auto start = Clock::now();
  qv::drivertests::RunSetConfigTest(host);
  const std::string verdict = host.ItemText(IDC_SETCONFIG_STATUS);
  result.Figure("milliseconds", Fixed(MsBetween(start, Clock::now()), 1));
  result.Figure("verdict", verdict);
  host.CloseConnection();
  JudgeNoBoxes(host, result);
  if (verdict != qv::drivertests::kSetConfigSuccess) result.Fail(verdict);
}

void BaudScan(CliHost& host, TestResult& result) {
  host.CloseConnection();
  host.onItemText = [&host](int id, const std::string& text) {
    if (id == IDC_RUN_BAUDS && text.find('%') != std::string::npos)
      host.Progress("baud-scan: " + text);
  };
  if (Reconnect(host, result)) {
    const auto start = Clock::now();
    const HANDLE worker =
        host.StartWorker([](TestHost& h) { qv::drivertests::RunBaudScanTest(h); });
    if (worker == nullptr) {
      result.Fail("The test thread could not start");
    } else {
      WaitForWorker(host, worker);
      result.Figure("seconds", Fixed(MsBetween(start, Clock::now()) / 1000, 3));
    }
  }
  host.Progress("");
  host.onItemText = nullptr;
  host.CloseConnection();
  const std::string header = qv::drivertests::kBaudScanListHeader;
  std::string list;
  bool listed = false;
  for (const std::string& box : host.Boxes()) {
    if (box.rfind(header, 0) == 0) {
      list = box.substr(header.size());
      listed = true;
    } else {
      result.Fail(box);
    }
  }
  result.Figure("list", list);
  if (!listed) return result.Fail("The scan ended without its list");
  if (list.empty()) return result.Fail("The driver kept no baud rate");
  result.passed = result.failure.empty();
}

}  // namespace

// A fresh connection at the run's speed; false (and the failure) when the port does not open.
bool Reconnect(CliHost& host, TestResult& result) {
  host.CloseConnection();
  if (host.OpenConnection()) return true;
  const std::vector<std::string> boxes = host.Boxes();
  result.Fail(boxes.empty() ? "The port could not be opened" : boxes.back());
  return false;
}

// Passed when no box was shown (tests whose verdict is not a box).
void JudgeNoBoxes(CliHost& host, TestResult& result) {
  const std::vector<std::string> boxes = host.Boxes();
  if (!boxes.empty()) {
    result.Fail(boxes.front());
    return;
  }
  result.passed = result.failure.empty();
}

const std::vector<std::string>& DriverTestNames() {
  static const std::vector<std::string> names = {
      "open-close", "timeouts",    "echo",          "setconfig",     "baud-scan",   "write-close",
      "write-baud", "write-flush", "write-txabort", "write-txclear", "write-cancel"};
  return names;
}

bool IsDriverTest(const std::string& name) {
  const auto& names = DriverTestNames();
  return std::find(names.begin(), names.end(), name) != names.end();
}

TestResult RunDriverTest(CliHost& host, const std::string& name) {
  TestResult result;
  result.name = name;
  host.BeginTest();
  const auto start = Clock::now();
  if (name == "open-close") OpenClose(host, result);
  else if (name == "timeouts") Timeouts(host, result);
  else if (name == "echo") Echo(host, result);
  else if (name == "setconfig") SetConfig(host, result);
  else if (name == "baud-scan") BaudScan(host, result);
  else if (IsWriteTest(name)) RunWriteTest(host, name, result);
  else if (name == kSoakTest) RunSoak(host, result);
  else result.Fail("Unknown test " + name);
  result.seconds = MsBetween(start, Clock::now()) / 1000;
  return result;
}

}  // namespace qv::cli
