#include "cli/write_tests.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "cli/test_steps.h"
#include "drivertests/port_handle.h"
#include "drivertests/write_interrupt.h"
#include "platform/comm/comm_api.h"
#include "platform/sync/event.h"
#include "platform/sync/kernel_object.h"
#include "platform/sync/last_error.h"

namespace qv::cli {
namespace {

using Clock = CliHost::Clock;
using Tests = qv::drivertests::WriteInterruptTests;

// How long the writes may take to end after the interrupting step (then: "still pending").
constexpr double kWriteEndLimitMs = 5000;
// How long bytes may take to come back from the far end once they went out: the engine's read
// completes after a 250 ms gap in the stream.
constexpr double kFarEndSettleMs = 600;
// How long the flush test's line stays held after its write started.
constexpr DWORD kFlushHoldMs = 300;
// What the modem lines may take to follow.
constexpr DWORD kLineSettleMs = 30;
constexpr DWORD kChangedSpeed = 2400;  // the speed the baud-change step selects

enum class Step { kClose, kBaud, kFlush, kTxAbort, kTxClear, kCancel };

struct Kind {
  const char* name;
  void (Tests::*run)();
  std::size_t writes;
  Step step;
};

constexpr Kind kKinds[] = {
    {"write-close", &Tests::CloseHandleTest, 1, Step::kClose},
    {"write-baud", &Tests::BaudrateChangeTest, 1, Step::kBaud},
    {"write-flush", &Tests::FlushTest, 1, Step::kFlush},
    {"write-txabort", &Tests::PurgeAbortTest, 2, Step::kTxAbort},
    {"write-txclear", &Tests::PurgeClearTest, 2, Step::kTxClear},
    {"write-cancel", &Tests::CancelTest, 2, Step::kCancel},
};

const Kind* FindKind(const std::string& name) {
  for (const Kind& kind : kKinds)
    if (name == kind.name) return &kind;
  return nullptr;
}

// The system's text for a code, without its line end.
std::string ReasonText(DWORD code) {
  std::string reason = qv::sync::SystemErrorText(code);
  while (!reason.empty() &&
         (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' '))
    reason.pop_back();
  return reason;
}

std::string CodeText(DWORD code) {
  const std::string reason = ReasonText(code);
  return std::to_string(code) + (reason.empty() ? "" : " (" + reason + ")");
}

// One write as it ended, and when (ms after the test's start).
struct WriteEnd {
  Tests::Ended ended;
  double atMs = 0;
  bool byStep = false;  // ended before the interrupting step returned

  std::string Name(std::size_t index) const {
    return "write " + std::to_string(index + 1) + " (" + std::to_string(ended.size) + " bytes)";
  }
  std::string How() const {
    return "ended with " + CodeText(ended.error) + ", " + std::to_string(ended.transferred) +
           " bytes written";
  }
};

// Whether the port's CTS follows its RTS (vloop0, a plug wired RTS to CTS), said as found.
bool CtsFollowsRts(CliHost& host, HANDLE port, std::string* found) {
  DWORD cleared = 0, set = 0;
  const bool read = EscapeCommFunction(port, CLRRTS) && host.Wait(nullptr, kLineSettleMs) &&
                    GetCommModemStatus(port, &cleared);
  const DWORD error = read ? 0 : GetLastError();
  const bool readSet = read && EscapeCommFunction(port, SETRTS) &&
                       host.Wait(nullptr, kLineSettleMs) && GetCommModemStatus(port, &set);
  if (!readSet) {
    *found = "none: the port's modem lines cannot be driven and read: error " +
             CodeText(read ? GetLastError() : error);
    return false;
  }
  auto cts = [](DWORD status) { return (status & MS_CTS_ON) ? "on" : "off"; };
  const bool follows = !(cleared & MS_CTS_ON) && (set & MS_CTS_ON);
  *found = std::string(follows ? "cts: " : "none: ") + "CTS was " + cts(cleared) +
           " with RTS cleared and " + cts(set) + " with RTS set";
  return follows;
}

// Output flow control on CTS, then RTS cleared: nothing goes out until RTS is set again.
bool HoldOutput(CliHost& host, HANDLE port) {
  DCB dcb{};
  if (!GetCommState(port, &dcb)) return false;
  dcb.fOutxCtsFlow = TRUE;
  if (dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) dcb.fRtsControl = RTS_CONTROL_ENABLE;
  if (!SetCommState(port, &dcb) || !EscapeCommFunction(port, CLRRTS)) return false;
  host.Wait(nullptr, kLineSettleMs);
  return true;
}

// Releases the held line from a thread of its own after a while (the flush test's step waits
// on the UI thread until everything is out). Joined, and its wait cut short, on destruction.
class DelayedRelease {
 public:
  DelayedRelease(HANDLE port, DWORD milliseconds)
      : stop_(CreateEventA(nullptr, TRUE, FALSE, nullptr)), thread_([this, port, milliseconds] {
          if (WaitForSingleObject(stop_, milliseconds) == WAIT_TIMEOUT)
            released_ = EscapeCommFunction(port, SETRTS) != FALSE;
        }) {}
  ~DelayedRelease() {
    SetEvent(stop_);
    thread_.join();
    CloseHandle(stop_);
  }
  bool Released() const { return released_.load(); }

 private:
  HANDLE stop_;
  std::atomic<bool> released_{false};
  std::thread thread_;
};

// The judgement of the writes' ends after the step, by the step's definition.
void JudgeEnds(const Kind& kind, const std::vector<WriteEnd>& ends, std::size_t pending,
               DWORD farEndBytes, TestResult& result) {
  const std::string stillPending =
      "still pending " + Fixed(kWriteEndLimitMs, 0) + " ms after the step";
  for (std::size_t i = 0; i < ends.size() + pending && i < kind.writes; ++i) {
    const bool ended = i < ends.size();
    const std::string name = ended ? ends[i].Name(i) : "write " + std::to_string(i + 1);
    const DWORD error = ended ? ends[i].ended.error : 0;
    switch (kind.step) {
      case Step::kTxAbort:
      case Step::kCancel:
        if (!ended) result.Fail(name + " was not aborted: " + stillPending);
        else if (error != ERROR_OPERATION_ABORTED)
          result.Fail(name + " was not aborted: it " + ends[i].How());
        break;
      case Step::kTxClear:
        if (!ended) result.Fail(name + " did not complete after the release: " + stillPending);
        else if (error != ERROR_SUCCESS || ends[i].ended.transferred != ends[i].ended.size)
          result.Fail(name + " lost its request to the purge of the buffer: it " + ends[i].How() +
                      " (a driver keeps its write requests)");
        break;
      case Step::kClose:
        if (!ended) result.Fail(name + " did not end with the close: " + stillPending);
        else if (error == ERROR_SUCCESS) result.Figure("close_completed_writes", "yes");
        break;
      case Step::kBaud:
        if (ended && error != ERROR_SUCCESS)
          result.Fail(name + " did not go on at the new speed: it " + ends[i].How());
        break;
      case Step::kFlush:
        if (!ended) result.Fail(name + " had not ended when the flush returned");
        else if (error != ERROR_SUCCESS) result.Fail(name + " " + ends[i].How());
        break;
    }
  }
  if ((kind.step == Step::kTxAbort || kind.step == Step::kCancel) && farEndBytes > 0) {
    result.Fail(std::to_string(farEndBytes) +
                " bytes of the aborted writes reached the far end after the release");
  }
}

}  // namespace

bool IsWriteTest(const std::string& name) { return FindKind(name) != nullptr; }

void RunWriteTest(CliHost& host, const std::string& name, TestResult& result) {
  const Kind* found = FindKind(name);
  if (found == nullptr) return result.Fail("Unknown test " + name);
  const Kind& kind = *found;
  std::atomic<DWORD> farEnd{0};
  const auto savedReceive = host.onReceive;
  host.onReceive = [&farEnd](const BYTE*, DWORD count) { farEnd += count; };
  struct RestoreReceive {
    CliHost& host;
    std::function<void(const BYTE*, DWORD)> saved;
    ~RestoreReceive() {
      host.CloseConnection();
      host.onReceive = saved;
    }
  } restore{host, savedReceive};
  if (!Reconnect(host, result)) return;

  const HANDLE port = hPort;
  bool held = false;
  if (host.Settings().holdCts) {
    std::string wiring;
    held = CtsFollowsRts(host, port, &wiring) && HoldOutput(host, port);
    result.Figure("hold", wiring);
  } else {
    result.Figure("hold", "none (--hold none)");
  }
  DCB before{};
  GetCommState(port, &before);
  farEnd = 0;

  auto tests = std::make_unique<Tests>(host);
  const auto start = Clock::now();
  COMSTAT atFlushReturn{};
  {
    std::unique_ptr<DelayedRelease> flushRelease;
    if (held && kind.step == Step::kFlush)
      flushRelease = std::make_unique<DelayedRelease>(port, 500 + kFlushHoldMs);
    (tests.get()->*kind.run)();
    if (kind.step == Step::kFlush) {
      DWORD errors = 0;
      ClearCommError(port, &errors, &atFlushReturn);
    }
  }
  const double stepMs = MsBetween(start, Clock::now());
  result.Figure("step_ms", Fixed(stepMs, 1));

  // Each write's end as it comes, with its time.
  std::vector<WriteEnd> ends;
  std::vector<double> endTimes, endCodes;  // for the report's time line
  auto collect = [&](bool byStep) {
    tests->PendingWrites();
    const auto& ended = tests->EndedWrites();
    while (ends.size() < ended.size()) {
      WriteEnd end{ended[ends.size()], MsBetween(start, Clock::now()), byStep};
      result.Figure("write" + std::to_string(ends.size() + 1),
                    std::to_string(end.ended.size) + " bytes, " + end.How() + ", " +
                        (byStep ? "by the end of the step (" + Fixed(stepMs, 1) + " ms)"
                                : "at " + Fixed(end.atMs, 1) + " ms"));
      endTimes.push_back(byStep ? stepMs : end.atMs);
      endCodes.push_back(end.ended.error);
      ends.push_back(end);
    }
  };
  collect(true);

  // A write already done by then was never interrupted: the verdict would be about nothing.
  if (kind.step != Step::kFlush) {
    const std::string doneAtOnce = ReasonText(ERROR_SUCCESS);
    for (const std::string& box : host.Boxes()) {
      if (!doneAtOnce.empty() && box.rfind(doneAtOnce, 0) == 0) {
        result.Fail(
            "nothing was pending at the interrupting step: a write was complete when WriteFile "
            "returned (the driver took it whole at once)");
      }
    }
    for (std::size_t i = 0; i < ends.size(); ++i) {
      if (ends[i].ended.error == ERROR_SUCCESS)
        result.Fail("nothing was pending at the interrupting step: " + ends[i].Name(i) +
                    " had ended before it, " + ends[i].How());
    }
  }

  // The line released; the writes end, and what they still carry reaches the far end.
  const double stepEnd = MsBetween(start, Clock::now());
  if (held && kind.step != Step::kFlush && hPort == port) {
    EscapeCommFunction(port, SETRTS);
    result.Figure("released_at_ms", Fixed(stepEnd, 1));
  }
  std::size_t pending = tests->PendingWrites();
  while (pending > 0 && MsBetween(start, Clock::now()) - stepEnd < kWriteEndLimitMs) {
    host.Wait(nullptr, 5);
    collect(false);
    pending = tests->PendingWrites();
  }
  const DWORD flushed = DWORD(qv::drivertests::ObjectUploadCommand(before.BaudRate).size() +
                              qv::drivertests::ObjectUpload(before.BaudRate).size());
  const auto settled = Clock::now();
  while (MsBetween(settled, Clock::now()) < kFarEndSettleMs ||
         (kind.step == Step::kFlush && farEnd < flushed &&
          MsBetween(settled, Clock::now()) < kWriteEndLimitMs)) {
    host.Wait(nullptr, 10);
  }
  result.Figure("far_end_bytes", std::to_string(farEnd.load()));

  switch (kind.step) {
    case Step::kClose:
      if (hPort != INVALID_HANDLE_VALUE) result.Fail("The port was still open after the close");
      break;
    case Step::kBaud: {
      DCB after{};
      const bool read = hPort == port && GetCommState(port, &after);
      result.Figure("speed_after", read ? std::to_string(after.BaudRate) : "unknown");
      if (!read || after.BaudRate != kChangedSpeed)
        result.Fail("The port reads " + (read ? std::to_string(after.BaudRate) : "nothing") +
                    " bps after the change to " + std::to_string(kChangedSpeed));
      break;
    }
    case Step::kFlush:
      result.Figure("out_queue_at_return", std::to_string(atFlushReturn.cbOutQue));
      if (atFlushReturn.cbOutQue != 0)
        result.Fail("FlushFileBuffers returned with " + std::to_string(atFlushReturn.cbOutQue) +
                    " bytes still in the driver's output queue");
      if (farEnd < flushed)
        result.Fail("The far end got " + std::to_string(farEnd.load()) + " of the " +
                    std::to_string(flushed) + " bytes flushed");
      break;
    default: break;
  }
  JudgeEnds(kind, ends, pending, farEnd, result);
  result.series.emplace_back("write_end_ms", endTimes);
  result.series.emplace_back("write_end_code", endCodes);
  result.series.emplace_back("write_still_pending_ms",
                             std::vector<double>(pending, MsBetween(start, Clock::now())));

  host.CloseConnection();
  // A write still pending then is ended by the close.
  if (pending > 0) {
    tests->PendingWrites();
    const auto& ended = tests->EndedWrites();
    for (std::size_t i = ends.size(); i < ended.size(); ++i) {
      result.Figure("write" + std::to_string(i + 1),
                    std::to_string(ended[i].size) + " bytes, still pending " +
                        Fixed(kWriteEndLimitMs, 0) + " ms after the step, ended by the close");
    }
  }
  tests.reset();
  if (result.failure.empty()) JudgeNoBoxes(host, result);
  if (result.passed && ends.size() + pending < kind.writes) {
    result.Fail("Only " + std::to_string(ends.size() + pending) + " of " +
                std::to_string(kind.writes) + " writes were started");
  }
}

}  // namespace qv::cli
