#include "cli/soak.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "cli/options.h"
#include "cli/soak_frames.h"
#include "cli/test_steps.h"
#include "drivertests/port_path.h"
#include "platform/comm/comm_api.h"
#include "platform/comm/port_names.h"
#include "platform/comm/virtual_port_control.h"
#include "platform/sync/event.h"
#include "platform/sync/kernel_object.h"
#include "platform/sync/last_error.h"
#include "platform/sync/process_counts.h"

namespace qv::cli {
namespace {

using Clock = std::chrono::steady_clock;
using soak::Ledger;

// Added to every operation's bound: scheduling, a sanitizer's slowness, the wait for the gate.
constexpr DWORD kMarginMs = 3000;
// The bound of an operation that neither moves data nor waits.
constexpr DWORD kQuickMs = 1000;
// A start bit, 8 data bits, parity and two stop bits: the most a byte takes on the wire.
constexpr double kBitsPerByte = 12;
constexpr std::size_t kLargestWrite = 65536;
constexpr DWORD kLargestRead = 4096;
// A read with a per-byte timeout asks for at most this much, so that it holds the gate briefly.
constexpr DWORD kLargestTimedRead = 512;
// The drain at the end: done when nothing is outstanding, or nothing arrived for this long.
constexpr auto kQuietEnd = std::chrono::seconds(2);
constexpr auto kLongestDrain = std::chrono::seconds(30);
// After a hang: how long threads may take to see the end, before and after the port is closed.
constexpr auto kHangSettle = std::chrono::seconds(1);
constexpr auto kAbandonAfter = std::chrono::seconds(3);

// A generator of its own per thread, from the seed and the thread's index (splitmix64).
class Rng {
 public:
  Rng(unsigned long long seed, int index)
      : state_(seed ^ (0x9E3779B97F4A7C15ull * static_cast<unsigned long long>(index + 1))) {}
  unsigned long long Next() {
    unsigned long long z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  DWORD Below(DWORD n) { return n == 0 ? 0 : DWORD(Next() % n); }
  // 1 .. most, evenly spread over the orders of magnitude.
  std::size_t LogSize(std::size_t most) {
    const double unit = double(Next() >> 11) * 0x1.0p-53;
    const auto size = std::size_t(std::exp(unit * std::log(double(most) + 1)));
    return std::clamp<std::size_t>(size, 1, most);
  }

 private:
  unsigned long long state_;
};

// The line's gate: the operations that drop bytes in flight take it alone, the others share it.
// A waiting taker holds off new sharers, so it cannot starve.
class Gate {
 public:
  void Share() {
    std::unique_lock lock(mu_);
    cv_.wait(lock, [&] { return !taken_ && takers_ == 0; });
    ++sharers_;
  }
  void Unshare() {
    std::lock_guard lock(mu_);
    if (--sharers_ == 0) cv_.notify_all();
  }
  void Take() {
    std::unique_lock lock(mu_);
    ++takers_;
    cv_.wait(lock, [&] { return !taken_ && sharers_ == 0; });
    --takers_;
    taken_ = true;
  }
  void Give() {
    std::lock_guard lock(mu_);
    taken_ = false;
    cv_.notify_all();
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  int sharers_ = 0;
  int takers_ = 0;
  bool taken_ = false;
};

struct Shared {
  explicit Shared(Gate& g) : gate(g) { gate.Share(); }
  ~Shared() { gate.Unshare(); }
  Gate& gate;
};
struct Alone {
  explicit Alone(Gate& g) : gate(g) { gate.Take(); }
  ~Alone() { gate.Give(); }
  Gate& gate;
};

// What a thread is doing, for the watchdog.
struct Slot {
  std::string name;  // "T0", "R"
  std::mutex mu;
  bool busy = false;
  std::string what;
  Clock::time_point start;
  Clock::duration bound{};
  unsigned long long count = 0;  // operations begun
  std::atomic<bool> done{false};
};

struct Soak {
  explicit Soak(int threads) : ledger(threads) {}
  std::string port;
  DWORD speed = 115200;
  int threads = 3;
  unsigned long long seed = 0;
  bool verbose = false;
  std::vector<DWORD> rates;

  Ledger ledger;
  Gate gate;
  std::atomic<HANDLE> handle{INVALID_HANDLE_VALUE};
  std::atomic<bool> stopWriters{false};
  std::atomic<bool> stopReader{false};
  std::vector<std::unique_ptr<Slot>> slots;  // the writers, then the reader

  std::atomic<long long> pendingTx{0};
  std::atomic<long long> bytesWritten{0};
  std::atomic<long long> operations{0};
  std::atomic<DWORD> lineErrors{0};
  std::atomic<long long> overflows{0};  // reports of input lost to an overflow
  std::atomic<int> reopenFailures{0};
  std::mutex eventLock;  // one WaitCommEvent at a time: a port keeps one event wait
  std::mutex logLock;

  std::mutex statsLock;
  std::map<std::string, std::map<DWORD, long long>> results;  // kind, code, count
  std::mutex dcbLock;                                         // one state change at a time
  DCB dcb{};                                                  // the last state set, for reopens
};

DWORD Code(BOOL ok) { return ok ? ERROR_SUCCESS : GetLastError(); }

DWORD MsFor(const Soak& s, long long bytes) {
  return DWORD(double(bytes) * kBitsPerByte * 1000.0 / double(s.speed) * 1.5);
}

void Begin(Soak& s, int slot, const std::string& what, DWORD boundMs) {
  Slot& t = *s.slots[std::size_t(slot)];
  unsigned long long n = 0;
  {
    std::lock_guard lock(t.mu);
    n = t.count++;
    t.busy = true;
    t.what = what;
    t.start = Clock::now();
    t.bound = std::chrono::milliseconds(boundMs);
  }
  if (s.verbose) {
    std::lock_guard lock(s.logLock);
    std::printf("op %s #%llu %s\n", t.name.c_str(), n, what.c_str());
    std::fflush(stdout);
  }
}

// A bound known only once the operation is under way, counted from now; never shorter than the
// one it began with.
void ExtendBound(Soak& s, int slot, DWORD boundMs) {
  Slot& t = *s.slots[std::size_t(slot)];
  std::lock_guard lock(t.mu);
  const Clock::duration until = Clock::now() - t.start + std::chrono::milliseconds(boundMs);
  t.bound = std::max(t.bound, until);
}

void End(Soak& s, int slot, const char* kind, DWORD code) {
  Slot& t = *s.slots[std::size_t(slot)];
  {
    std::lock_guard lock(t.mu);
    t.busy = false;
  }
  ++s.operations;
  std::lock_guard lock(s.statsLock);
  ++s.results[kind][code];
}

// The error word read by ClearCommError: an overflow of the receive queue or the UART lost
// bytes, which is the line's loss and not the driver's fault when it says so.
void NoteLineErrors(Soak& s, DWORD errors) {
  s.lineErrors |= errors;
  if (errors & (CE_RXOVER | CE_OVERRUN)) {
    ++s.overflows;
    s.ledger.LossEvent(false);
  }
}

void Pause(DWORD ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// A receive queue that holds a while of the fastest rate, as a program that streams asks for.
constexpr DWORD kInQueue = 65536;
constexpr DWORD kOutQueue = 4096;

DWORD ApplyLine(HANDLE port, DCB& dcb) {
  dcb.DCBlength = sizeof dcb;
  dcb.ByteSize = 8;
  dcb.fBinary = 1;
  dcb.fParity = dcb.Parity != NOPARITY;
  dcb.fOutxCtsFlow = 0;
  dcb.fOutxDsrFlow = 0;
  dcb.fDsrSensitivity = 0;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.fOutX = 0;
  dcb.fInX = 0;
  dcb.fErrorChar = 0;
  dcb.fNull = 0;
  dcb.fAbortOnError = 0;
  return Code(SetCommState(port, &dcb));
}

// ---- the writers ---------------------------------------------------------------------------------

struct Write {
  std::uint32_t first = 0;
  std::uint32_t frames = 0;
  std::vector<std::uint8_t> bytes;
  OVERLAPPED ov{};
  DWORD issued = ERROR_SUCCESS;
};

class Writer {
 public:
  Writer(std::shared_ptr<Soak> soak, int index)
      : s_(std::move(soak)), t_(index), rng_(s_->seed, index) {}

  void Run() {
    event_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    // Weights of the operations, in the order of the switch below.
    static constexpr DWORD kWeights[] = {20, 14, 8, 5, 5, 8, 5, 8, 8, 1};
    DWORD total = 0;
    for (DWORD w : kWeights) total += w;
    while (!s_->stopWriters.load()) {
      DWORD pick = rng_.Below(total);
      int op = 0;
      while (pick >= kWeights[op]) pick -= kWeights[op++];
      switch (op) {
        case 0: WriteOp(false); break;
        case 1: WriteOp(true); break;
        case 2: WaitEventOp(); break;
        case 3: PurgeOp(); break;
        case 4: CancelOp(); break;
        case 5: EscapeOp(); break;
        case 6: SetStateOp(); break;
        case 7: ClearErrorOp(); break;
        case 8: ModemStatusOp(); break;
        default: ReopenOp(); break;
      }
      Pause(1);
    }
    CloseHandle(event_);
    s_->slots[std::size_t(t_)]->done = true;
  }

 private:
  Write Make(std::size_t size) {
    Write w;
    w.first = nextSeq_;
    for (std::size_t payload : soak::FramePayloads(size)) {
      soak::AppendFrame(w.bytes, t_, nextSeq_++, payload);
    }
    w.frames = nextSeq_ - w.first;
    return w;
  }
  std::string Describe(const char* kind, const Write& w) {
    return std::string(kind) + " size=" + std::to_string(w.bytes.size()) +
           " seq=" + std::to_string(w.first) + ".." + std::to_string(w.first + w.frames - 1);
  }
  DWORD WriteBound(const Write& w) {
    return MsFor(*s_, s_->pendingTx.load() + static_cast<long long>(w.bytes.size())) + kMarginMs;
  }
  void Issue(Write& w) {
    w.ov = {};
    w.ov.hEvent = event_;
    ResetEvent(event_);
    Shared shared(s_->gate);
    s_->ledger.Issued(t_, w.first, w.frames);
    s_->pendingTx += static_cast<long long>(w.bytes.size());
    w.issued =
        Code(WriteFile(s_->handle.load(), w.bytes.data(), DWORD(w.bytes.size()), nullptr, &w.ov));
    // The bound taken at Begin knew only the writes counted by then: one that another thread
    // issued meanwhile can be queued ahead of this one. Every write queued ahead now counts in
    // pendingTx (each counts its bytes before it is issued, and until it completes).
    ExtendBound(*s_, t_, MsFor(*s_, s_->pendingTx.load()) + kMarginMs);
  }
  // The write's end: waits for it (polling the event when `poll`), books it.
  DWORD Complete(Write& w, bool poll) {
    DWORD transferred = 0;
    DWORD code = w.issued;
    if (code == ERROR_SUCCESS || code == ERROR_IO_PENDING) {
      if (poll) {
        while ((code = Code(GetOverlappedResult(nullptr, &w.ov, &transferred, FALSE))) ==
               ERROR_IO_INCOMPLETE) {
          WaitForSingleObject(event_, 10);
        }
      } else {
        code = Code(GetOverlappedResult(nullptr, &w.ov, &transferred, TRUE));
      }
    }
    const bool whole = code == ERROR_SUCCESS && transferred == w.bytes.size();
    s_->ledger.Completed(t_, w.first, w.frames, whole);
    s_->pendingTx -= static_cast<long long>(w.bytes.size());
    s_->bytesWritten += transferred;
    if (code == ERROR_SUCCESS && !whole) code = ERROR_MORE_DATA;  // a short write
    return code;
  }

  void WriteOp(bool blocking) {
    Write w = Make(rng_.LogSize(kLargestWrite));
    const char* kind = blocking ? "write-blocking" : "write-overlapped";
    Begin(*s_, t_, Describe(kind, w), WriteBound(w));
    Issue(w);
    End(*s_, t_, kind, Complete(w, !blocking));
  }

  void CancelOp() {
    Write w = Make(rng_.LogSize(kLargestWrite));
    const DWORD after = rng_.Below(20);
    Begin(*s_, t_, Describe("cancel", w) + " after=" + std::to_string(after) + "ms",
          after + WriteBound(w));
    Issue(w);
    Pause(after);
    {
      Shared shared(s_->gate);
      s_->ledger.ExpectLoss(t_, w.first, w.frames);
      CancelIo(s_->handle.load());
    }
    End(*s_, t_, "cancel", Complete(w, false));
  }

  void WaitEventOp() {
    static constexpr DWORD kEvents[] = {EV_RXCHAR, EV_TXEMPTY, EV_CTS, EV_DSR,
                                        EV_RLSD,   EV_BREAK,   EV_ERR, EV_RING};
    const DWORD pick = rng_.Below(255) + 1;
    DWORD mask = 0;
    for (int k = 0; k < 8; ++k)
      if (pick & (1u << k)) mask |= kEvents[k];
    const DWORD waitMs = rng_.Below(100);
    char what[64];
    std::snprintf(what, sizeof what, "wait-event mask=0x%X wait=%ums", unsigned(mask),
                  unsigned(waitMs));
    Begin(*s_, t_, what, waitMs + kQuickMs + kMarginMs);
    std::lock_guard one(s_->eventLock);
    OVERLAPPED ov{};
    ov.hEvent = event_;
    ResetEvent(event_);
    DWORD events = 0;
    DWORD code = ERROR_SUCCESS;
    {
      Shared shared(s_->gate);
      SetCommMask(s_->handle.load(), mask);
      code = Code(WaitCommEvent(s_->handle.load(), &events, &ov));
    }
    if (code == ERROR_IO_PENDING) {
      if (WaitForSingleObject(event_, waitMs) != WAIT_OBJECT_0) {
        // A new mask ends the wait.
        Shared shared(s_->gate);
        SetCommMask(s_->handle.load(), mask);
      }
      DWORD ignored = 0;
      code = Code(GetOverlappedResult(nullptr, &ov, &ignored, TRUE));
    }
    End(*s_, t_, "wait-event", code);
  }

  void PurgeOp() {
    const DWORD flags = rng_.Below(16);
    char what[32];
    std::snprintf(what, sizeof what, "purge flags=0x%X", unsigned(flags));
    Begin(*s_, t_, what, kQuickMs + kMarginMs);
    DWORD code = ERROR_SUCCESS;
    if (flags & (PURGE_TXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR)) {
      // Bytes in flight may go: the ledger marks them while nobody reads or writes.
      Alone alone(s_->gate);
      code = Code(PurgeComm(s_->handle.load(), flags));
      if (flags & (PURGE_TXCLEAR | PURGE_RXCLEAR)) {
        s_->ledger.LossEvent(false);
      } else {
        s_->ledger.LossEvent(true);  // aborted writes only
      }
    } else {
      Shared shared(s_->gate);
      code = Code(PurgeComm(s_->handle.load(), flags));
    }
    End(*s_, t_, "purge", code);
  }

  void EscapeOp() {
    static constexpr DWORD kFunctions[] = {SETRTS, CLRRTS, SETDTR, CLRDTR, SETBREAK};
    static constexpr const char* kNames[] = {"SETRTS", "CLRRTS", "SETDTR", "CLRDTR", "break"};
    const DWORD which = rng_.Below(5);
    const DWORD pulse = rng_.Below(20);
    std::string what = std::string("escape ") + kNames[which];
    if (kFunctions[which] == SETBREAK) what += " " + std::to_string(pulse) + "ms";
    Begin(*s_, t_, what, pulse + kQuickMs + kMarginMs);
    DWORD code = ERROR_SUCCESS;
    if (kFunctions[which] == SETBREAK) {
      // A break garbles what is on a real wire: what is in flight is excused.
      Alone alone(s_->gate);
      code = Code(EscapeCommFunction(s_->handle.load(), SETBREAK));
      Pause(pulse);
      const DWORD cleared = Code(EscapeCommFunction(s_->handle.load(), CLRBREAK));
      if (code == ERROR_SUCCESS) code = cleared;
      s_->ledger.LossEvent(false);
    } else {
      Shared shared(s_->gate);
      code = Code(EscapeCommFunction(s_->handle.load(), kFunctions[which]));
    }
    End(*s_, t_, "escape", code);
  }

  void SetStateOp() {
    static constexpr BYTE kParities[] = {NOPARITY, ODDPARITY, EVENPARITY};
    static constexpr BYTE kStops[] = {ONESTOPBIT, TWOSTOPBITS};
    const DWORD rate = s_->rates[rng_.Below(DWORD(s_->rates.size()))];
    const BYTE parity = kParities[rng_.Below(3)];
    const BYTE stop = kStops[rng_.Below(2)];
    char what[64];
    std::snprintf(what, sizeof what, "set-state rate=%u parity=%u stop=%u", unsigned(rate),
                  unsigned(parity), unsigned(stop));
    Begin(*s_, t_, what, kQuickMs + kMarginMs);
    DWORD code = ERROR_SUCCESS;
    {
      Shared shared(s_->gate);
      std::lock_guard lock(s_->dcbLock);
      DCB dcb = s_->dcb;
      dcb.BaudRate = rate;
      dcb.Parity = parity;
      dcb.StopBits = stop;
      code = ApplyLine(s_->handle.load(), dcb);
      if (code == ERROR_SUCCESS) s_->dcb = dcb;
    }
    End(*s_, t_, "set-state", code);
  }

  void ClearErrorOp() {
    Begin(*s_, t_, "clear-error", kQuickMs + kMarginMs);
    DWORD errors = 0;
    COMSTAT status{};
    DWORD code = ERROR_SUCCESS;
    {
      // Alone: an overflow it clears must excuse the bytes before the reader judges them.
      Alone alone(s_->gate);
      code = Code(ClearCommError(s_->handle.load(), &errors, &status));
      NoteLineErrors(*s_, errors);
    }
    End(*s_, t_, "clear-error", code);
  }

  void ModemStatusOp() {
    Begin(*s_, t_, "modem-status", kQuickMs + kMarginMs);
    DWORD status = 0;
    DWORD code = ERROR_SUCCESS;
    {
      Shared shared(s_->gate);
      code = Code(GetCommModemStatus(s_->handle.load(), &status));
    }
    End(*s_, t_, "modem-status", code);
  }

  void ReopenOp() {
    Begin(*s_, t_, "reopen", 5000 + kMarginMs);
    DWORD code = ERROR_SUCCESS;
    {
      Alone alone(s_->gate);
      // Whatever the other threads have pending ends with the close.
      code = Code(CloseHandle(s_->handle.exchange(INVALID_HANDLE_VALUE)));
      s_->ledger.LossEvent(false);
      HANDLE port = INVALID_HANDLE_VALUE;
      DWORD openCode = ERROR_SUCCESS;
      for (int attempt = 0; attempt < 3 && port == INVALID_HANDLE_VALUE; ++attempt) {
        if (attempt > 0) Pause(100);
        port = qv::drivertests::OpenPortOverlapped(s_->port);
        if (port == INVALID_HANDLE_VALUE) openCode = GetLastError();
      }
      if (port == INVALID_HANDLE_VALUE) {
        ++s_->reopenFailures;
        s_->stopWriters = true;
        code = openCode;
      } else {
        std::lock_guard lock(s_->dcbLock);
        SetupComm(port, kInQueue, kOutQueue);
        ApplyLine(port, s_->dcb);
        s_->handle = port;
      }
    }
    End(*s_, t_, "reopen", code);
  }

  std::shared_ptr<Soak> s_;
  const int t_;
  Rng rng_;
  std::uint32_t nextSeq_ = 0;
  HANDLE event_ = nullptr;
};

// ---- the reader ----------------------------------------------------------------------------------

void Reader(std::shared_ptr<Soak> s) {
  const int slot = s->threads;
  Rng rng(s->seed, slot);
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::vector<std::uint8_t> buffer(kLargestRead);
  while (!s->stopReader.load()) {
    // One of the combinations that end by themselves.
    COMMTIMEOUTS to{};
    DWORD count = DWORD(rng.LogSize(kLargestRead));
    const DWORD kind = rng.Below(5);
    const DWORD interval = rng.Below(50) + 1;
    const DWORD constant = rng.Below(200) + 1;
    switch (kind) {
      case 0: to.ReadIntervalTimeout = MAXDWORD; break;  // what is there, at once
      case 1:
        to.ReadIntervalTimeout = MAXDWORD;
        to.ReadTotalTimeoutMultiplier = MAXDWORD;
        to.ReadTotalTimeoutConstant = constant;
        break;
      case 2: to.ReadTotalTimeoutConstant = constant; break;
      case 3:
        to.ReadIntervalTimeout = interval;
        to.ReadTotalTimeoutConstant = constant;
        break;
      default:
        count = std::min(count, kLargestTimedRead);
        to.ReadIntervalTimeout = interval;
        to.ReadTotalTimeoutMultiplier = 1;
        to.ReadTotalTimeoutConstant = constant;
        break;
    }
    const DWORD totalMs = kind == 0 ? 0 : constant + (kind == 4 ? count : 0);
    char what[96];
    std::snprintf(what, sizeof what, "read count=%u timeouts=%u/%u/%u", unsigned(count),
                  unsigned(to.ReadIntervalTimeout), unsigned(to.ReadTotalTimeoutMultiplier),
                  unsigned(to.ReadTotalTimeoutConstant));
    Begin(*s, slot, what, totalMs + kMarginMs);
    DWORD code = ERROR_SUCCESS;
    DWORD got = 0;
    {
      Shared shared(s->gate);
      const HANDLE port = s->handle.load();
      SetCommTimeouts(port, &to);
      OVERLAPPED ov{};
      ov.hEvent = event;
      ResetEvent(event);
      code = Code(ReadFile(port, buffer.data(), count, nullptr, &ov));
      if (code == ERROR_SUCCESS || code == ERROR_IO_PENDING) {
        code = Code(GetOverlappedResult(nullptr, &ov, &got, TRUE));
      }
      // An aborted read keeps what it had taken: those bytes are received as well.
      got = std::min<DWORD>(DWORD(ov.InternalHigh), count);
      // A receive queue that overflowed dropped bytes, and said so: what was in flight is
      // excused, before the bytes behind the gap are judged.
      DWORD errors = 0;
      COMSTAT status{};
      if (ClearCommError(port, &errors, &status)) NoteLineErrors(*s, errors);
      s->ledger.Received(buffer.data(), got);
    }
    End(*s, slot, "read", code);
    if (got == 0) Pause(kind == 0 || code != ERROR_SUCCESS ? 2 : 0);
  }
  CloseHandle(event);
  s->slots[std::size_t(slot)]->done = true;
}

// ---- the run -------------------------------------------------------------------------------------

std::string Hex(DWORD value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", unsigned(value));
  return text;
}

// "T0 seq 12, T1 seq 3" for the findings of one kind.
std::string Sequences(const std::vector<soak::Finding>& findings, soak::Finding::Kind kind) {
  std::string text;
  for (const soak::Finding& f : findings) {
    if (f.kind != kind) continue;
    text += (text.empty() ? "" : ", ") + std::string("T") + std::to_string(f.thread) + " seq " +
            std::to_string(f.seq);
  }
  return text;
}

bool AllDone(const Soak& s, int from, int to) {
  for (int i = from; i < to; ++i)
    if (!s.slots[std::size_t(i)]->done.load()) return false;
  return true;
}

// The first operation past its bound: "T0 write-blocking size=... has not returned after ...".
std::string FindHang(Soak& s) {
  const auto now = Clock::now();
  for (auto& slot : s.slots) {
    std::lock_guard lock(slot->mu);
    if (!slot->busy || now - slot->start <= slot->bound) continue;
    const double bound = std::chrono::duration<double>(slot->bound).count();
    const double took = std::chrono::duration<double>(now - slot->start).count();
    return slot->name + " " + slot->what + " has not returned after " + Fixed(took, 1) +
           " s (its bound " + Fixed(bound, 1) + " s); seed " + std::to_string(s.seed) +
           ", replay with --seed " + std::to_string(s.seed) + " --threads " +
           std::to_string(s.threads);
  }
  return {};
}

}  // namespace

void RunSoak(CliHost& host, TestResult& result) {
  const HostSettings& settings = host.Settings();
  auto s = std::make_shared<Soak>(settings.soakThreads);
  s->port = settings.port;
  s->speed = settings.speed;
  s->threads = std::clamp(settings.soakThreads, 1, kSoakMaxThreads);
  s->verbose = settings.verbose;
  s->seed = settings.haveSeed ? settings.seed
                              : static_cast<unsigned long long>(
                                    std::chrono::system_clock::now().time_since_epoch().count());
  for (DWORD factor : {1u, 2u, 4u, 8u}) {
    if (double(s->speed) * factor <= double(kMaxSpeed)) s->rates.push_back(s->speed * factor);
  }
  std::printf("soak seed %llu, %d writing threads, %d s on %s\n", s->seed, s->threads,
              settings.soakSeconds, s->port.c_str());
  std::fflush(stdout);
  result.Figure("seed", std::to_string(s->seed));
  result.Figure("threads", std::to_string(s->threads));

  const qv::sync::ProcessCounts before = qv::sync::CountProcess();
  const HANDLE port = qv::drivertests::OpenPortOverlapped(s->port);
  if (port == INVALID_HANDLE_VALUE) {
    result.Fail(qv::drivertests::OpenErrorText(int(GetLastError()), "CreateFile"));
    return;
  }
  SetupComm(port, kInQueue, kOutQueue);
  s->dcb.DCBlength = sizeof s->dcb;
  GetCommState(port, &s->dcb);
  s->dcb.BaudRate = s->speed;
  s->dcb.Parity = NOPARITY;
  s->dcb.StopBits = ONESTOPBIT;
  if (const DWORD code = ApplyLine(port, s->dcb); code != ERROR_SUCCESS) {
    result.Fail("SetCommState at " + std::to_string(s->speed) + " bps failed with error " +
                std::to_string(code));
    CloseHandle(port);
    return;
  }
  PurgeComm(port, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
  s->handle = port;
  // The far end's damage, once for the whole run.
  using qv::comm::FarEndByteFault;
  const std::string name = qv::comm::WithoutDevicePrefix(s->port);
  if (settings.alterByte >= 0)
    qv::comm::SetFarEndByteFault(name, FarEndByteFault::kAlter, std::size_t(settings.alterByte));
  if (settings.dropByte >= 0)
    qv::comm::SetFarEndByteFault(name, FarEndByteFault::kDrop, std::size_t(settings.dropByte));
  if (settings.duplicateByte >= 0) {
    qv::comm::SetFarEndByteFault(name, FarEndByteFault::kDuplicate,
                                 std::size_t(settings.duplicateByte));
  }

  for (int i = 0; i <= s->threads; ++i) {
    s->slots.push_back(std::make_unique<Slot>());
    s->slots.back()->name = i < s->threads ? "T" + std::to_string(i) : "R";
  }
  std::vector<std::thread> threads;
  for (int i = 0; i < s->threads; ++i) {
    threads.emplace_back([s, i] { Writer(s, i).Run(); });
  }
  threads.emplace_back([s] { Reader(s); });

  // The watchdog, then the end: writers stop, the reader drains what is still on its way.
  const auto start = Clock::now();
  const auto deadline = start + std::chrono::seconds(settings.soakSeconds);
  std::string hang;
  enum { kRunning, kWritersEnding, kDraining, kReaderEnding } phase = kRunning;
  auto drainStart = start;
  auto lastArrival = start;
  long long lastBytes = 0;
  for (;;) {
    host.Wait(nullptr, 50);
    const auto now = Clock::now();
    hang = FindHang(*s);
    if (!hang.empty()) break;
    if (phase == kRunning && (now >= deadline || host.Ending() || s->stopWriters.load())) {
      s->stopWriters = true;
      phase = kWritersEnding;
    }
    if (phase == kWritersEnding && AllDone(*s, 0, s->threads)) {
      phase = kDraining;
      drainStart = lastArrival = now;
      lastBytes = s->ledger.Counts().bytesReceived;
    }
    if (phase == kDraining) {
      const long long bytes = s->ledger.Counts().bytesReceived;
      if (bytes != lastBytes) lastArrival = now, lastBytes = bytes;
      if (s->ledger.Outstanding() == 0 || now - lastArrival > kQuietEnd ||
          now - drainStart > kLongestDrain) {
        s->stopReader = true;
        phase = kReaderEnding;
      }
    }
    if (phase == kReaderEnding && AllDone(*s, s->threads, s->threads + 1)) break;
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

  int abandoned = 0;
  if (!hang.empty()) {
    std::printf("soak hang: %s\n", hang.c_str());
    std::fflush(stdout);
    s->stopWriters = true;
    s->stopReader = true;
    const auto hangAt = Clock::now();
    while (!AllDone(*s, 0, s->threads + 1) && Clock::now() - hangAt < kHangSettle) Pause(20);
    // Closing the port ends the requests the threads wait for.
    {
      const HANDLE last = s->handle.exchange(INVALID_HANDLE_VALUE);
      if (last != INVALID_HANDLE_VALUE) CloseHandle(last);
    }
    while (!AllDone(*s, 0, s->threads + 1) && Clock::now() - hangAt < kAbandonAfter) Pause(20);
    for (std::size_t i = 0; i < threads.size(); ++i) {
      if (s->slots[i]->done.load()) {
        threads[i].join();
      } else {
        threads[i].detach();  // stuck in the driver: it keeps its share of the run's state
        ++abandoned;
      }
    }
  } else {
    for (std::thread& t : threads) t.join();
    const HANDLE last = s->handle.exchange(INVALID_HANDLE_VALUE);
    if (last != INVALID_HANDLE_VALUE) CloseHandle(last);
  }

  // Threads below the program (a port's service thread) end after the close.
  qv::sync::ProcessCounts after = qv::sync::CountProcess();
  for (int i = 0; i < 100 && after.threads > before.threads + abandoned; ++i) {
    Pause(20);
    after = qv::sync::CountProcess();
  }

  const soak::LedgerCounts c = s->ledger.Finish();
  const std::vector<soak::Finding> findings = s->ledger.Findings();
  const long long ops = s->operations.load();
  result.Figure("seconds", Fixed(seconds, 1));
  result.Figure("operations", std::to_string(ops));
  result.Figure("operations_per_second", Fixed(seconds > 0 ? double(ops) / seconds : 0, 1));
  result.Figure("bytes_written", std::to_string(s->bytesWritten.load()));
  result.Figure("bytes_read", std::to_string(c.bytesReceived));
  result.Figure("frames_sent", std::to_string(c.framesIssued));
  result.Figure("frames_delivered", std::to_string(c.delivered));
  result.Figure("lost", std::to_string(c.lost));
  result.Figure("corrupted", std::to_string(c.corrupted));
  result.Figure("duplicated", std::to_string(c.duplicated));
  result.Figure("out_of_order", std::to_string(c.outOfOrder));
  result.Figure("expected_lost_frames", std::to_string(c.expectedLost));
  result.Figure("unfinished_frames", std::to_string(c.unfinished));
  result.Figure("stray_bytes", std::to_string(c.strayBytes));
  result.Figure("hangs", hang.empty() ? "0" : "1");
  result.Figure("line_errors", Hex(s->lineErrors.load()));
  result.Figure("overflow_reports", std::to_string(s->overflows.load()));
  {
    std::lock_guard lock(s->statsLock);
    for (const auto& [kind, codes] : s->results) {
      long long total = 0;
      std::string detail;
      for (const auto& [code, count] : codes) {
        total += count;
        detail +=
            (detail.empty() ? "" : ", ") + std::to_string(code) + ": " + std::to_string(count);
      }
      result.Figure("op_" + kind, std::to_string(total) + " (" + detail + ")");
    }
  }
  result.Figure("fds_before", std::to_string(before.fds));
  result.Figure("fds_after", std::to_string(after.fds));
  result.Figure("threads_before", std::to_string(before.threads));
  result.Figure("threads_after", std::to_string(after.threads));
  result.Figure("handles_before", std::to_string(before.handles));
  result.Figure("handles_after", std::to_string(after.handles));
  if (abandoned > 0) result.Figure("threads_abandoned", std::to_string(abandoned));

  std::vector<std::string> failures;
  if (!hang.empty()) failures.push_back("hang: " + hang);
  const struct {
    long long count;
    soak::Finding::Kind kind;
    const char* what;
  } kinds[] = {
      {c.lost, soak::Finding::kLost, "lost"},
      {c.corrupted, soak::Finding::kCorrupted, "corrupted"},
      {c.duplicated, soak::Finding::kDuplicated, "duplicated"},
      {c.outOfOrder, soak::Finding::kOutOfOrder, "out of order"},
  };
  for (const auto& k : kinds) {
    if (k.count == 0) continue;
    const std::string seqs = Sequences(findings, k.kind);
    failures.push_back(std::to_string(k.count) + (k.count == 1 ? " frame " : " frames ") + k.what +
                       (seqs.empty() ? "" : " (" + seqs + ")"));
    result.Figure(std::string(soak::FindingName(k.kind)) + "_frames", seqs);
  }
  if (s->reopenFailures.load() > 0) failures.push_back("the port did not open again after a close");
  if (hang.empty()) {
    if (c.framesIssued > 0 && c.delivered == 0) failures.push_back("no frame came back");
    if (after.fds > before.fds || after.handles > before.handles) {
      failures.push_back("descriptors " + std::to_string(before.fds) + " -> " +
                         std::to_string(after.fds) + ", handles " + std::to_string(before.handles) +
                         " -> " + std::to_string(after.handles));
    }
  }
  if (failures.empty()) {
    result.passed = true;
    return;
  }
  std::string text;
  for (const std::string& f : failures) text += (text.empty() ? "" : "\n") + f;
  result.Fail(text);
}

}  // namespace qv::cli
