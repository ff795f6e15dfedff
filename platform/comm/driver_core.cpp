#include "platform/comm/driver_core.h"

#include <algorithm>
#include <cstring>

#include "platform/comm/dcb_rules.h"
#include "platform/comm/overlapped_io.h"

namespace qv::comm {
namespace {

enum Kind { kRead, kWrite, kFlush, kWait };

constexpr Clock::time_point kNever = Clock::time_point::max();
// A posix line cannot tell when the kernel's output buffer empties: a flush looks again this often.
constexpr auto kFlushRecheck = std::chrono::milliseconds(5);

// The events of overlapped requests completed under mu_, waiting for the thread's outermost Lock
// to let go of it. Their results are already in their records.
thread_local std::vector<DeferredEvent> tlsHeldEvents;
thread_local int tlsLockDepth = 0;

void PublishHeldCompletions() {
  if (tlsHeldEvents.empty()) return;
  std::vector<DeferredEvent> due;
  due.swap(tlsHeldEvents);
  SetDeferredEvents(due);
  due.clear();
  if (tlsHeldEvents.empty()) tlsHeldEvents.swap(due);  // keeps the capacity for the next
}

Clock::time_point AddMs(Clock::time_point t, std::uint64_t ms) {
  // Products of a MAXDWORD multiplier and a large count exceed any useful time: never.
  constexpr std::uint64_t kLimit = 1ull << 40;
  if (ms >= kLimit) return kNever;
  return t + std::chrono::milliseconds(ms);
}

}  // namespace

struct DriverCore::Request {
  int kind = kRead;
  std::thread::id owner;
  OVERLAPPED* ov = nullptr;
  bool started = false;
  bool done = false;
  DWORD error = ERROR_SUCCESS;
  DWORD result = 0;  // bytes transferred

  // Read: the caller's buffer is filled as bytes arrive.
  std::uint8_t* buffer = nullptr;
  DWORD want = 0;
  DWORD got = 0;
  ReadPlan plan;
  Clock::time_point total = kNever;
  Clock::time_point interval = kNever;

  // Write: a copy of the caller's bytes, so a caller that gives up on a request cannot leave the
  // driver reading freed memory.
  std::vector<std::uint8_t> data;
  std::size_t sent = 0;      // handed to the line
  std::size_t inKernel = 0;  // of those, still in a direct-I/O line's kernel queue

  // Event wait.
  DWORD* maskOut = nullptr;
  DWORD events = 0;
};

DriverCore::Lock::Lock(std::mutex& mu) : held_(mu, std::defer_lock) {
  ++tlsLockDepth;
  held_.lock();
}

DriverCore::Lock::~Lock() {
  if (held_.owns_lock()) held_.unlock();
  if (--tlsLockDepth == 0) PublishHeldCompletions();
}

DriverCore::DriverCore(std::shared_ptr<Line> line, bool overlapped)
    : line_(std::move(line)), overlapped_(overlapped) {}

DriverCore::~DriverCore() { Close(); }

DWORD DriverCore::Open(const DCB& initial) {
  Lock lock(mu_);
  dcb_ = initial;
  dcb_.DCBlength = sizeof(DCB);
  dcb_.fDummy2 = 0;
  DWORD baud = dcb_.BaudRate;
  if (line_->Configure(dcb_, &baud) == ERROR_SUCCESS) dcb_.BaudRate = baud;
  dtrOn_ = dcb_.fDtrControl == DTR_CONTROL_ENABLE || dcb_.fDtrControl == DTR_CONTROL_HANDSHAKE;
  rtsOn_ = dcb_.fRtsControl != RTS_CONTROL_DISABLE;
  const bool dtr = dcb_.fDtrControl != DTR_CONTROL_DISABLE;
  const bool rts =
      dcb_.fRtsControl == RTS_CONTROL_ENABLE || dcb_.fRtsControl == RTS_CONTROL_HANDSHAKE;
  const DWORD error = line_->Start(this, dcb_, dtr, rts);
  if (error != ERROR_SUCCESS) {
    closed_ = true;
    return error;
  }
  appliedLines_ = std::make_pair(dtr, rts);
  open_ = true;
  return ERROR_SUCCESS;
}

void DriverCore::Close() {
  {
    Lock lock(mu_);
    if (closed_) return;
    closed_ = true;
    AbortAllLocked(reads_, ERROR_OPERATION_ABORTED);
    AbortAllLocked(writes_, ERROR_OPERATION_ABORTED);
    if (wait_) CompleteLocked(wait_, ERROR_OPERATION_ABORTED, 0);
    wait_.reset();
    if (!open_) return;
    // What the aborted writes left in the kernel does not go out later, and a real UART's last
    // close would otherwise wait (up to its closing_wait, 30 s by default) for held output.
    ReapKernelOutputLocked();
    if (kernelOutBytes_ > 0) line_->PurgeOutput();
    kernelOut_.clear();
    kernelOutBytes_ = 0;
  }
  line_->Stop();
}

// ---- request plumbing ---------------------------------------------------------------------------

DWORD DriverCore::GateLocked(bool io) const {
  if (closed_) return ERROR_INVALID_HANDLE;
  if (removed_ != ERROR_SUCCESS) return removed_;
  // With fAbortOnError set, an error stops all reading and writing until ClearCommError.
  if (io && dcb_.fAbortOnError && errors_ != 0) return ERROR_OPERATION_ABORTED;
  return ERROR_SUCCESS;
}

DriverCore::RequestPtr DriverCore::NewRequestLocked(int kind, OVERLAPPED* ov) {
  // A request that nobody but this list holds any more is used again, with its write buffer's
  // room: a stream of requests costs no allocation each. References are only ever taken under
  // mu_, so a count of one seen here stays one.
  RequestPtr r;
  for (RequestPtr& spare : recent_) {
    if (spare.use_count() == 1) {
      r = spare;
      std::vector<std::uint8_t> room = std::move(r->data);
      room.clear();
      // A block of megabytes is not kept for the small ones that follow.
      if (room.capacity() > 65536) room = {};
      *r = Request{};
      r->data = std::move(room);
      break;
    }
  }
  if (!r) {
    r = std::make_shared<Request>();
    if (recent_.size() < kRecentRequests) recent_.push_back(r);
  }
  r->kind = kind;
  r->owner = std::this_thread::get_id();
  if (overlapped_ && ov != nullptr) {
    r->ov = ov;
    MarkPending(ov);
  }
  return r;
}

DWORD DriverCore::FinishSubmitLocked(Lock& lock, const RequestPtr& r, DWORD* count) {
  if (!r->done && r->ov == nullptr) {
    // Whatever this thread completed on the way goes out before it sleeps.
    PublishHeldCompletions();
    done_.wait(lock.held(), [&] { return r->done; });
  }
  if (!r->done) return ERROR_IO_PENDING;
  // Completed by another thread while this one had let go of mu_ (reading or writing the line),
  // that thread may not have set the event yet: this call does, before it returns, so that a
  // request that returned done has its event set, and that set cannot come after the caller's
  // next request on the record.
  DeferredEvent taken;
  if (r->ov != nullptr && TakeOverDeferredEvent(r->ov->hEvent, &taken)) {
    tlsHeldEvents.push_back(taken);
  }
  if (count != nullptr) *count = r->result;
  return r->error;
}

void DriverCore::CompleteLocked(const RequestPtr& r, DWORD error, DWORD count) {
  if (r->done) return;
  r->done = true;
  r->error = error;
  r->result = count;
  if (r->kind == kWait && error == ERROR_SUCCESS && r->maskOut != nullptr) {
    *r->maskOut = r->events;
  }
  if (r->ov != nullptr) {
    // The result is in the record at once, so whoever looks at it after this (a flush that
    // returned, a status that shows the queue empty) finds it; only the event waits for mu_.
    if (tlsLockDepth > 0) {
      tlsHeldEvents.push_back(StoreCompletionResultDeferred(r->ov, error, count));
    } else {
      PublishCompletion(r->ov, error, count);
    }
  } else {
    // A blocking caller woken now finds every request completed before its own signalled.
    PublishHeldCompletions();
  }
  done_.notify_all();
}

void DriverCore::AbortAllLocked(std::deque<RequestPtr>& queue, DWORD error) {
  std::deque<RequestPtr> taken;
  taken.swap(queue);
  for (auto& r : taken) CompleteLocked(r, error, r->kind == kRead ? r->got : LeftCountLocked(r));
}

void DriverCore::KickIfEarlierLocked(Clock::time_point deadline) {
  if (deadline < serviceDeadline_) {
    serviceDeadline_ = deadline;
    if (open_ && !closed_) line_->ArmDeadline(deadline);
  }
}

void DriverCore::WakeLineLocked() {
  if (open_ && !closed_) line_->Kick();
}

// ---- reads ---------------------------------------------------------------------------------------

void DriverCore::AdvanceReadsLocked(Clock::time_point now) {
  while (!reads_.empty()) {
    const RequestPtr r = reads_.front();
    bool complete = false;
    if (!r->started) {
      r->started = true;
      // A driver that ignores the timeouts waits for the whole count.
      r->plan = line_->Faults().ignoreReadTimeouts ? ReadPlan{} : PlanRead(timeouts_, r->want);
      if (r->plan.useTotal) r->total = AddMs(now, r->plan.totalMs);
      r->got = static_cast<DWORD>(input_.Pop(r->buffer, r->want));
      if (r->got > 0 && r->plan.useInterval) r->interval = AddMs(now, r->plan.intervalMs);
      complete = r->plan.returnAtOnce || (r->plan.returnIfAny && r->got > 0);
      UpdateInputFlowLocked();
      KickIfEarlierLocked(std::min(r->total, r->interval));
    }
    complete = complete || r->got == r->want || (r->plan.completeOnFirst && r->got > 0) ||
               now >= r->total || now >= r->interval;
    if (!complete) return;
    reads_.pop_front();
    CompleteLocked(r, ERROR_SUCCESS, r->got);
  }
}

void DriverCore::ReceiveBytesLocked(const std::uint8_t* data, std::size_t count,
                                    Clock::time_point now, bool overfill) {
  if (count == 0) return;
  // DSR sensitivity: the driver ignores what arrives while DSR is off.
  if (dcb_.fDsrSensitivity && modemKnown_ && !(modem_ & MS_DSR_ON)) return;
  std::vector<std::uint8_t> filtered;
  if (dcb_.fNull) {
    filtered.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
      if (data[i] != 0) filtered.push_back(data[i]);
    }
    data = filtered.data();
    count = filtered.size();
    if (count == 0) return;
  }
  DWORD events = EV_RXCHAR;
  if (std::memchr(data, static_cast<std::uint8_t>(dcb_.EvtChar), count) != nullptr) {
    events |= EV_RXFLAG;
  }
  while (count > 0) {
    if (!reads_.empty()) {
      const RequestPtr r = reads_.front();  // started: AdvanceReadsLocked starts every head
      const std::size_t take = std::min<std::size_t>(count, r->want - r->got);
      std::memcpy(r->buffer + r->got, data, take);
      r->got += static_cast<DWORD>(take);
      data += take;
      count -= take;
      if (r->plan.useInterval) {
        r->interval = AddMs(now, r->plan.intervalMs);
        KickIfEarlierLocked(r->interval);
      }
      AdvanceReadsLocked(now);
      continue;
    }
    const std::size_t room = input_.size() < inCapacity_ ? inCapacity_ - input_.size() : 0;
    const std::size_t take = overfill ? count : std::min(count, room);
    input_.Push(data, take);
    if (take < count) RecordErrorsLocked(CE_RXOVER);
    break;
  }
  UpdateInputFlowLocked();
  RaiseEventsLocked(events);
}

std::size_t DriverCore::InputRoomLocked() const {
  std::size_t room = input_.size() < inCapacity_ ? inCapacity_ - input_.size() : 0;
  if (!reads_.empty()) room += reads_.front()->want - reads_.front()->got;
  return room;
}

bool DriverCore::WantLineInputLocked() const {
  if (inputStopped_ || InputRoomLocked() == 0) return false;
  // A pending read takes bytes as they arrive (its interval timer runs from byte to byte).
  if (!reads_.empty()) return true;
  // Without one, input can wait in the tty's own buffer (it counts in cbInQue, and the next read
  // takes it from there), unless something has to see it when it arrives: receive events, line
  // errors the line counts, DSR sensitivity (drops what arrives while DSR is off), and input flow
  // control on the driver queue's level with a DTR handshake, which the tty cannot do itself.
  // Leaving it there spares the service thread a wake-up and a copy for every block that a
  // caller reads back to back.
  if (mask_ & (EV_RXCHAR | EV_RXFLAG)) return true;
  if ((mask_ & (EV_ERR | EV_BREAK)) && line_->CountsLineErrors()) return true;
  return dcb_.fDsrSensitivity || dcb_.fDtrControl == DTR_CONTROL_HANDSHAKE;
}

void DriverCore::PullLineInputLocked(Lock& lock) {
  if (!line_->DirectIo() || !open_ || closed_ || removed_ != ERROR_SUCCESS) return;
  // While the service thread is reading the line, what it reads arrives in order after it; a
  // second reader would only reorder the bytes.
  std::unique_lock rx(rxMu_, std::try_to_lock);
  if (!rx.owns_lock()) return;
  ReadLineLocked(lock);
}

void DriverCore::ServiceLineInput() {
  std::lock_guard rx(rxMu_);
  Lock lock(mu_);
  serviceAwake_ = true;
  ReadLineLocked(lock);
}

void DriverCore::ReadLineLocked(Lock& lock) {
  // The line is read without the core's lock: a tty read may wait for the kernel to hand over
  // its buffered input, and the other threads (a writer, the service thread, a caller looking
  // at the state) must not wait for that. rxMu_, held by the caller, keeps the readers in order.
  // What does not fit stays in the kernel's buffer (it counts in cbInQue), where the tty's own
  // flow control and overrun accounting apply.
  std::uint8_t buffer[4096];
  for (;;) {
    if (!line_->DirectIo() || !open_ || closed_ || removed_ != ERROR_SUCCESS) return;
    if (inputStopped_) break;
    const std::size_t room = std::min(InputRoomLocked(), sizeof buffer);
    if (room == 0) break;
    const std::uint64_t purges = inputPurges_;
    lock.unlock();
    const long n = line_->ReadSome(buffer, room);
    lock.lock();
    if (closed_ || removed_ != ERROR_SUCCESS) return;
    if (n < 0) {
      HangupLocked(ERROR_GEN_FAILURE);
      return;
    }
    if (n == 0) break;
    // What arrives now was answered to bytes sent before it: the writes whose bytes the kernel
    // no longer holds complete first, so that an echo is never seen before the write it answers
    // (the next look at the kernel's queue may be up to 20 ms away).
    if (kernelOutBytes_ > 0) AdvanceWritesLocked(Clock::now());
    // Bytes read before a purge of the input are part of what it dropped.
    if (purges == inputPurges_) {
      // The room was measured before the read; a request cancelled meanwhile does not turn the
      // bytes it would have taken into an overrun.
      ReceiveBytesLocked(buffer, static_cast<std::size_t>(n), Clock::now(), /*overfill=*/true);
    }
    if (n < static_cast<long>(room)) break;
  }
  if (const DWORD ce = line_->TakeLineErrors()) RecordErrorsLocked(ce);
}

DWORD DriverCore::Read(void* buffer, DWORD count, DWORD* read, OVERLAPPED* ov) {
  Lock lock(mu_);
  if (read != nullptr) *read = 0;
  if (const DWORD e = GateLocked(true)) return e;
  if (buffer == nullptr && count > 0) return ERROR_INVALID_PARAMETER;
  const RequestPtr r = NewRequestLocked(kRead, ov);
  r->buffer = static_cast<std::uint8_t*>(buffer);
  r->want = count;
  PullLineInputLocked(lock);
  // The lock was let go while the line was read: the port may have been closed meanwhile.
  if (const DWORD e = GateLocked(true)) {
    CompleteLocked(r, e, 0);
    return e;
  }
  reads_.push_back(r);
  AdvanceReadsLocked(Clock::now());
  // Still short: what the line holds beyond the driver queue's room may complete it now. A tty
  // hands over at most 4095 bytes per read, so a block of 4096 often needs this second look,
  // which spares a round through the service thread.
  if (!r->done && line_->DirectIo()) PullLineInputLocked(lock);
  // A full driver queue stopped the service thread from watching the line; now there is room.
  if (line_->DirectIo() && !serviceWantsRx_ && !serviceAwake_ && WantLineInputLocked()) {
    WakeLineLocked();
  }
  return FinishSubmitLocked(lock, r, read);
}

// ---- writes --------------------------------------------------------------------------------------

bool DriverCore::TxHeldLocked() const {
  if (escapeXoff_) return true;
  if (line_->Faults().neverCompleteWrites) return true;
  if (dcb_.fOutxDsrFlow && modemKnown_ && !(modem_ & MS_DSR_ON)) return true;
  return false;
}

std::size_t DriverCore::TxPendingLocked() const {
  std::size_t n = immediate_ ? 1 : 0;
  for (const auto& r : writes_) n += r->data.size() - r->sent;
  return n;
}

void DriverCore::AdvanceWritesLocked(Clock::time_point now) {
  const bool left = ReapKernelOutputLocked();
  bool endedInKernel = false;
  while (!writes_.empty()) {
    const RequestPtr r = writes_.front();
    if (!r->started) {
      r->started = true;
      if (r->kind == kWrite) {
        const std::uint64_t ms = line_->Faults().neverCompleteWrites
                                     ? 0
                                     : WriteTotalMs(timeouts_, static_cast<DWORD>(r->data.size()));
        if (ms != 0) r->total = AddMs(now, ms);
        KickIfEarlierLocked(r->total);
      }
    }
    if (r->kind == kFlush) {
      if (line_->OutputBacklog() != 0) {
        KickIfEarlierLocked(now + kFlushRecheck);
        break;
      }
      writes_.pop_front();
      CompleteLocked(r, ERROR_SUCCESS, 0);
      continue;
    }
    // A write is done when its last byte has left the line (a tty's kernel queue included). One
    // whose total timeout expired completes with what went out: that is success.
    const bool out = r->sent == r->data.size() && r->inKernel == 0;
    if (!out && now < r->total) break;
    writes_.pop_front();
    endedInKernel = endedInKernel || r->inKernel > 0;
    CompleteLocked(r, ERROR_SUCCESS, LeftCountLocked(r));
  }
  if (endedInKernel) DropEndedKernelOutputLocked();
  if (left) {
    if (kernelOutBytes_ == 0 && writes_.empty() && !immediate_) RaiseEventsLocked(EV_TXEMPTY);
    if (dcb_.fRtsControl == RTS_CONTROL_TOGGLE) ApplyLinesLocked(false);
  }
}

DWORD DriverCore::LeftCountLocked(const RequestPtr& r) const {
  return static_cast<DWORD>(r->sent - r->inKernel);
}

void DriverCore::NoteKernelBytesLocked(const RequestPtr& r, std::size_t count) {
  if (!kernelOut_.empty() && kernelOut_.back().request == r) {
    kernelOut_.back().count += count;
  } else {
    kernelOut_.push_back({r, count});
  }
  kernelOutBytes_ += count;
  if (r) r->inKernel += count;
}

// Looks how much of what the core wrote the kernel still holds; the rest has left, oldest
// first. Whether anything left.
bool DriverCore::ReapKernelOutputLocked() {
  if (kernelOutBytes_ == 0) return false;
  const std::size_t queued = std::min<std::size_t>(line_->OutputBacklog(), kernelOutBytes_);
  std::size_t left = kernelOutBytes_ - queued;
  if (left == 0) return false;
  kernelOutBytes_ = queued;
  while (left > 0) {
    KernelBytes& front = kernelOut_.front();
    const std::size_t take = std::min(left, front.count);
    front.count -= take;
    if (front.request) front.request->inKernel -= take;
    left -= take;
    if (front.count == 0) kernelOut_.pop_front();
  }
  return true;
}

// Discards the kernel's queued output. What it discarded are the newest bytes (a USB-serial
// adapter's URBs in flight stay and still go out): those of requests still pending are written
// again, those of ended requests are gone.
void DriverCore::FlushKernelOutputLocked() {
  ReapKernelOutputLocked();
  if (kernelOutBytes_ == 0) {
    line_->PurgeOutput();
    return;
  }
  // The kernel may also hold older bytes that the core did not write (from before the open).
  const std::size_t before = std::max<std::size_t>(line_->OutputBacklog(), kernelOutBytes_);
  line_->PurgeOutput();
  const std::size_t after = line_->OutputBacklog();
  const std::size_t older = before - kernelOutBytes_;
  const std::size_t kept = after > older ? std::min(after - older, kernelOutBytes_) : 0;
  std::size_t discarded = kernelOutBytes_ - kept;
  kernelOutBytes_ = kept;
  while (discarded > 0) {
    KernelBytes& back = kernelOut_.back();
    const std::size_t take = std::min(discarded, back.count);
    back.count -= take;
    if (back.request) {
      back.request->inKernel -= take;
      if (!back.request->done) back.request->sent -= take;
    }
    discarded -= take;
    if (back.count == 0) kernelOut_.pop_back();
  }
}

// Requests that ended before their bytes left (cancelled, timed out) send no more of them, as
// with a serial driver, which stops at the byte it was sending. The kernel's queue can only be
// discarded whole, though: when a request still pending (another thread's, or a
// TransmitCommChar byte) has bytes there too, the queue is left as it is and the ended ones'
// bytes still go out. That costs a few bytes the caller was told did not go; discarding would
// lose what the kernel already took of the others (a USB-serial adapter's URBs in flight cannot
// be taken back and written again in order).
void DriverCore::DropEndedKernelOutputLocked() {
  ReapKernelOutputLocked();
  if (kernelOutBytes_ == 0) return;
  for (const KernelBytes& b : kernelOut_) {
    if (!b.request || !b.request->done) return;
  }
  FlushKernelOutputLocked();
}

Clock::duration DriverCore::KernelRecheckLocked() const {
  // About the time 64 bytes take on the line, between 1 and 20 ms.
  const std::uint64_t bitsPerByte =
      2 + dcb_.ByteSize + (dcb_.Parity != NOPARITY ? 1 : 0) + (dcb_.StopBits != ONESTOPBIT ? 1 : 0);
  const std::uint64_t baud = std::max<DWORD>(dcb_.BaudRate, 1);
  const std::uint64_t us = 64 * bitsPerByte * 1000000 / baud;
  return std::chrono::microseconds(std::clamp<std::uint64_t>(us, 1000, 20000));
}

std::size_t DriverCore::TakeTxLocked(std::uint8_t* out, std::size_t max, Clock::time_point now) {
  if (TxHeldLocked()) return 0;
  std::size_t n = 0;
  if (immediate_ && n < max) {
    out[n++] = *immediate_;
    immediate_.reset();
  }
  for (auto& r : writes_) {
    if (n == max) break;
    if (r->kind != kWrite) break;  // a flush waits for everything before it
    const std::size_t take = std::min(max - n, r->data.size() - r->sent);
    std::memcpy(out + n, r->data.data() + r->sent, take);
    r->sent += take;
    n += take;
    if (r->sent < r->data.size()) break;
  }
  AfterTxLocked(n, now);
  return n;
}

void DriverCore::AfterTxLocked(std::size_t taken, Clock::time_point now) {
  if (taken == 0) return;
  AdvanceWritesLocked(now);
  // On a direct-I/O line the bytes are in the kernel now: EV_TXEMPTY waits until they left it
  // (AdvanceWritesLocked raises it then).
  if (!line_->DirectIo() && writes_.empty() && !immediate_) RaiseEventsLocked(EV_TXEMPTY);
  if (dcb_.fRtsControl == RTS_CONTROL_TOGGLE) ApplyLinesLocked(false);
}

void DriverCore::TransmitLocked(Lock& lock) {
  if (!line_->DirectIo()) return;
  // Whoever writes the line holds txMu_. A caller that finds it taken leaves the queue to that
  // writer, which looks at the queue again after each write.
  std::unique_lock tx(txMu_, std::try_to_lock);
  if (!tx.owns_lock()) return;
  TransmitLineLocked(lock);
}

void DriverCore::TransmitLineLocked(Lock& lock) {
  std::size_t total = 0;
  for (;;) {
    if (!open_ || closed_ || removed_ != ERROR_SUCCESS || TxHeldLocked()) break;
    if (immediate_) {
      const std::uint8_t c = *immediate_;
      const long n = line_->WriteSome(&c, 1);
      if (n < 0) return HangupLocked(ERROR_GEN_FAILURE);
      if (n == 0) break;
      immediate_.reset();
      NoteKernelBytesLocked(nullptr, 1);
      ++total;
      continue;
    }
    RequestPtr r;
    for (const auto& w : writes_) {
      if (w->kind != kWrite) break;  // a flush waits for everything before it
      if (w->sent < w->data.size()) {
        r = w;
        break;
      }
    }
    if (!r) break;
    // The bytes are written without the core's lock: a reader or a caller looking at the state
    // does not wait for the tty. `r` keeps the request's bytes alive meanwhile; they never change.
    const std::uint8_t* data = r->data.data() + r->sent;
    const std::size_t count = r->data.size() - r->sent;
    lock.unlock();
    const long n = line_->WriteSome(data, count);
    lock.lock();
    if (closed_ || removed_ != ERROR_SUCCESS) return;
    if (n < 0) return HangupLocked(ERROR_GEN_FAILURE);
    if (n == 0) break;
    total += static_cast<std::size_t>(n);
    // A request purged or cancelled meanwhile keeps the count it completed with; its bytes are in
    // the kernel all the same.
    if (!r->done) r->sent += static_cast<std::size_t>(n);
    NoteKernelBytesLocked(r, static_cast<std::size_t>(n));
    if (static_cast<std::size_t>(n) < count) break;
  }
  const auto now = Clock::now();
  AfterTxLocked(total, now);
  // Bytes still in the kernel: look again once some should have left (an idle line or a
  // pseudo-terminal, whose queue is always empty, arms nothing).
  if (kernelOutBytes_ > 0) KickIfEarlierLocked(now + KernelRecheckLocked());
}

DWORD DriverCore::Write(const void* buffer, DWORD count, DWORD* written, OVERLAPPED* ov) {
  Lock lock(mu_);
  if (written != nullptr) *written = 0;
  if (const DWORD e = GateLocked(true)) return e;
  if (buffer == nullptr && count > 0) return ERROR_INVALID_PARAMETER;
  const RequestPtr r = NewRequestLocked(kWrite, ov);
  if (count == 0) {
    CompleteLocked(r, ERROR_SUCCESS, 0);
    return ERROR_SUCCESS;
  }
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  r->data.assign(bytes, bytes + count);
  writes_.push_back(r);
  AdvanceWritesLocked(Clock::now());
  if (dcb_.fRtsControl == RTS_CONTROL_TOGGLE) ApplyLinesLocked(false);
  if (line_->DirectIo()) {
    TransmitLocked(lock);
    // The service thread has to wait until the line takes more, unless it does so already.
    if (!r->done && !serviceWantsTx_ && !serviceAwake_) WakeLineLocked();
  } else {
    WakeLineLocked();
  }
  return FinishSubmitLocked(lock, r, written);
}

DWORD DriverCore::Flush() {
  Lock lock(mu_);
  if (const DWORD e = GateLocked(true)) return e;
  const RequestPtr r = NewRequestLocked(kFlush, nullptr);
  writes_.push_back(r);
  AdvanceWritesLocked(Clock::now());
  return FinishSubmitLocked(lock, r, nullptr);
}

DWORD DriverCore::TransmitChar(char c) {
  Lock lock(mu_);
  if (const DWORD e = GateLocked(true)) return e;
  if (immediate_) return ERROR_INVALID_PARAMETER;  // the previous one has not gone out yet
  immediate_ = static_cast<std::uint8_t>(c);
  if (line_->DirectIo()) TransmitLocked(lock);
  WakeLineLocked();
  return ERROR_SUCCESS;
}

// ---- events and errors ---------------------------------------------------------------------------

void DriverCore::RaiseEventsLocked(DWORD events) {
  events &= mask_;
  if (events == 0) return;
  if (wait_) {
    wait_->events = events;
    CompleteLocked(wait_, ERROR_SUCCESS, 0);
    wait_.reset();
  } else {
    history_ |= events;
  }
}

void DriverCore::RecordErrorsLocked(DWORD ceBits) {
  if (ceBits == 0) return;
  errors_ |= ceBits;
  RaiseEventsLocked(EV_ERR);
  if (dcb_.fAbortOnError) {
    AbortAllLocked(reads_, ERROR_OPERATION_ABORTED);
    AbortAllLocked(writes_, ERROR_OPERATION_ABORTED);
  }
}

DWORD DriverCore::SetMask(DWORD mask) {
  Lock lock(mu_);
  if (const DWORD e = GateLocked(false)) return e;
  if (mask & ~DWORD{0x1FFF}) return ERROR_INVALID_PARAMETER;
  mask_ = mask;
  history_ = 0;
  // A new mask ends a pending wait with an empty event mask.
  if (wait_) {
    wait_->events = 0;
    CompleteLocked(wait_, ERROR_SUCCESS, 0);
    wait_.reset();
  }
  WakeLineLocked();  // the modem status may have to be watched now
  return ERROR_SUCCESS;
}

DWORD DriverCore::GetMask(DWORD* mask) {
  Lock lock(mu_);
  if (const DWORD e = GateLocked(false)) return e;
  if (mask == nullptr) return ERROR_INVALID_PARAMETER;
  *mask = mask_;
  return ERROR_SUCCESS;
}

DWORD DriverCore::WaitEvent(DWORD* mask, OVERLAPPED* ov) {
  Lock lock(mu_);
  if (const DWORD e = GateLocked(false)) return e;
  if (mask == nullptr || mask_ == 0 || wait_) return ERROR_INVALID_PARAMETER;
  const RequestPtr r = NewRequestLocked(kWait, ov);
  r->maskOut = mask;
  if (history_ != 0) {
    r->events = history_;
    history_ = 0;
    CompleteLocked(r, ERROR_SUCCESS, 0);
  } else {
    wait_ = r;
  }
  const DWORD error = FinishSubmitLocked(lock, r, nullptr);
  return error;
}

DWORD DriverCore::ClearError(DWORD* errors, COMSTAT* status) {
  Lock lock(mu_);
  if (const DWORD e = GateLocked(false)) return e;
  if (line_->DirectIo()) {
    PullLineInputLocked(lock);
    if (const DWORD e = GateLocked(false)) return e;  // closed while the line was read
  }
  if (const DWORD ce = line_->TakeLineErrors()) RecordErrorsLocked(ce);
  if (errors != nullptr) *errors = errors_;
  errors_ = 0;
  if (status != nullptr) StatusLocked(status);
  return ERROR_SUCCESS;
}

DWORD DriverCore::QueueStatus(COMSTAT* status) {
  Lock lock(mu_);
  if (const DWORD e = GateLocked(false)) return e;
  if (status == nullptr) return ERROR_INVALID_PARAMETER;
  StatusLocked(status);
  return ERROR_SUCCESS;
}

void DriverCore::StatusLocked(COMSTAT* status) {
  const LineHolds holds = line_->Holds();
  // Bytes not yet handed to the line, and those the line (a tty's kernel queue) still holds.
  const std::size_t pending = TxPendingLocked();
  const DWORD backlog = line_->OutputBacklog();
  std::memset(status, 0, sizeof *status);
  status->fCtsHold = holds.cts && (pending > 0 || backlog > 0);
  status->fDsrHold = dcb_.fOutxDsrFlow && modemKnown_ && !(modem_ & MS_DSR_ON) && pending > 0;
  status->fXoffHold = holds.xoff || escapeXoff_;
  status->fXoffSent = holds.xoffSent;
  status->fTxim = immediate_.has_value();
  // Input still in the line (a tty's buffer) counts: the next read takes it from there.
  status->cbInQue = static_cast<DWORD>(input_.size()) + line_->InputBacklog();
  status->cbOutQue = static_cast<DWORD>(pending) + backlog;
}

DWORD DriverCore::Purge(DWORD flags) {
  Lock lock(mu_);
  if (const DWORD e = GateLocked(false)) return e;
  if (flags & ~DWORD{0xF}) return ERROR_INVALID_PARAMETER;
  if (const LineFaults faults = line_->Faults(); faults.refusePurge) return faults.purgeError;
  const auto now = Clock::now();
  if (flags & PURGE_TXABORT) {
    AbortAllLocked(writes_, ERROR_OPERATION_ABORTED);
    immediate_.reset();
  }
  if (flags & PURGE_RXABORT) AbortAllLocked(reads_, ERROR_OPERATION_ABORTED);
  // An aborted write sends none of its bytes that are still queued, in the kernel included (a
  // pseudo-terminal queues none: what it passed on stays for the far end to read). A cleared
  // queue keeps the writes, which send again what the kernel discarded.
  if (flags & PURGE_TXCLEAR) {
    FlushKernelOutputLocked();
  } else if (flags & PURGE_TXABORT) {
    ReapKernelOutputLocked();
    if (kernelOutBytes_ > 0 || line_->OutputBacklog() != 0) FlushKernelOutputLocked();
  }
  if (flags & PURGE_RXCLEAR) {
    ++inputPurges_;
    input_.Clear();
    line_->PurgeInput();
    UpdateInputFlowLocked();
  }
  AdvanceWritesLocked(now);
  if (dcb_.fRtsControl == RTS_CONTROL_TOGGLE) ApplyLinesLocked(false);
  WakeLineLocked();
  return ERROR_SUCCESS;
}

DWORD DriverCore::Cancel(std::thread::id thread) {
  Lock lock(mu_);
  if (const DWORD e = GateLocked(false)) return e;
  auto cancel = [&](std::deque<RequestPtr>& queue) {
    std::deque<RequestPtr> kept;
    for (auto& r : queue) {
      if (r->owner == thread) {
        CompleteLocked(r, ERROR_OPERATION_ABORTED, r->kind == kRead ? r->got : LeftCountLocked(r));
      } else {
        kept.push_back(r);
      }
    }
    queue.swap(kept);
  };
  cancel(reads_);
  const bool anyInKernel = std::any_of(writes_.begin(), writes_.end(), [&](const RequestPtr& r) {
    return r->owner == thread && r->inKernel > 0;
  });
  cancel(writes_);
  if (anyInKernel) DropEndedKernelOutputLocked();
  if (wait_ && wait_->owner == thread) {
    CompleteLocked(wait_, ERROR_OPERATION_ABORTED, 0);
    wait_.reset();
  }
  const auto now = Clock::now();
  AdvanceReadsLocked(now);
  AdvanceWritesLocked(now);
  WakeLineLocked();
  return ERROR_SUCCESS;
}

// ---- line state ----------------------------------------------------------------------------------

DWORD DriverCore::GetState(DCB* dcb) {
  Lock lock(mu_);
  if (closed_) return ERROR_INVALID_HANDLE;
  if (dcb == nullptr) return ERROR_INVALID_PARAMETER;
  *dcb = dcb_;
  return ERROR_SUCCESS;
}

DWORD DriverCore::SetState(const DCB& requested) {
  Lock lock(mu_);
  if (const DWORD e = GateLocked(false)) return e;
  if (const DWORD e = ValidateDcb(requested)) return e;
  DCB dcb = requested;
  dcb.DCBlength = sizeof(DCB);
  dcb.fDummy2 = 0;
  DWORD baud = dcb.BaudRate;
  if (const DWORD e = line_->Configure(dcb, &baud)) return e;
  dcb.BaudRate = baud;
  // A new rate alone changes nothing the service thread plans from (the line paces itself and
  // tells its own thread), so the millions of calls of a baud-rate scan do not wake it each time.
  DCB before = dcb_;
  before.BaudRate = dcb.BaudRate;
  const bool rateOnly = std::memcmp(&before, &dcb, sizeof dcb) == 0;
  dcb_ = dcb;
  // The control modes set the lines again, as a serial driver does on every SetCommState.
  if (dcb_.fDtrControl != DTR_CONTROL_HANDSHAKE) dtrOn_ = dcb_.fDtrControl == DTR_CONTROL_ENABLE;
  if (dcb_.fRtsControl == RTS_CONTROL_ENABLE || dcb_.fRtsControl == RTS_CONTROL_DISABLE) {
    rtsOn_ = dcb_.fRtsControl == RTS_CONTROL_ENABLE;
  }
  UpdateInputFlowLocked();
  ApplyLinesLocked(false);
  if (line_->DirectIo()) TransmitLocked(lock);
  if (!rateOnly) WakeLineLocked();
  return ERROR_SUCCESS;
}

DWORD DriverCore::GetTimeouts(COMMTIMEOUTS* timeouts) {
  Lock lock(mu_);
  if (closed_) return ERROR_INVALID_HANDLE;
  if (timeouts == nullptr) return ERROR_INVALID_PARAMETER;
  *timeouts = timeouts_;
  return ERROR_SUCCESS;
}

DWORD DriverCore::SetTimeouts(const COMMTIMEOUTS& timeouts) {
  Lock lock(mu_);
  if (const DWORD e = GateLocked(false)) return e;
  // Both MAXDWORD for the interval and the constant is the one combination a driver refuses.
  if (timeouts.ReadIntervalTimeout == MAXDWORD && timeouts.ReadTotalTimeoutMultiplier == MAXDWORD &&
      timeouts.ReadTotalTimeoutConstant == MAXDWORD) {
    return ERROR_INVALID_PARAMETER;
  }
  timeouts_ = timeouts;  // applies to requests that start from now on
  return ERROR_SUCCESS;
}

DWORD DriverCore::Setup(DWORD inQueue, DWORD outQueue) {
  Lock lock(mu_);
  if (const DWORD e = GateLocked(false)) return e;
  if (inQueue == 0 || outQueue == 0) return ERROR_INVALID_PARAMETER;
  // Bytes already queued stay; only new input beyond the new size overflows.
  inCapacity_ = inQueue;
  outCapacity_ = outQueue;
  UpdateInputFlowLocked();
  WakeLineLocked();  // a larger queue may let the service thread read on
  return ERROR_SUCCESS;
}

DWORD DriverCore::QueueSizes(DWORD* inQueue, DWORD* outQueue) {
  Lock lock(mu_);
  if (closed_) return ERROR_INVALID_HANDLE;
  *inQueue = inCapacity_;
  *outQueue = outCapacity_;
  return ERROR_SUCCESS;
}

DWORD DriverCore::ApplyLinesLocked(bool force) {
  const bool dtr = dcb_.fDtrControl == DTR_CONTROL_HANDSHAKE ? !inputStopped_ : dtrOn_;
  bool rts = rtsOn_;
  if (dcb_.fRtsControl == RTS_CONTROL_HANDSHAKE) rts = !inputStopped_;
  if (dcb_.fRtsControl == RTS_CONTROL_TOGGLE) rts = TxPendingLocked() > 0 || kernelOutBytes_ > 0;
  const auto lines = std::make_pair(dtr, rts);
  if (!force && appliedLines_ == lines) return ERROR_SUCCESS;
  const DWORD error = line_->SetOutputLines(dtr, rts);
  if (error == ERROR_SUCCESS) appliedLines_ = lines;
  return error;
}

void DriverCore::UpdateInputFlowLocked() {
  const bool flow = dcb_.fInX || dcb_.fRtsControl == RTS_CONTROL_HANDSHAKE ||
                    dcb_.fDtrControl == DTR_CONTROL_HANDSHAKE;
  bool stop = inputStopped_;
  if (!flow) {
    stop = false;
  } else if (!inputStopped_) {
    stop = dcb_.XoffLim < inCapacity_ && input_.size() >= inCapacity_ - dcb_.XoffLim;
  } else {
    stop = input_.size() > dcb_.XonLim;
  }
  if (stop == inputStopped_) return;
  inputStopped_ = stop;
  if (dcb_.fInX) line_->SendFlowChar(stop ? dcb_.XoffChar : dcb_.XonChar);
  ApplyLinesLocked(false);
  if (!stop) WakeLineLocked();
}

DWORD DriverCore::Escape(DWORD function) {
  Lock lock(mu_);
  if (const DWORD e = GateLocked(false)) return e;
  switch (function) {
    case SETXOFF: escapeXoff_ = true; return ERROR_SUCCESS;
    case SETXON:
      escapeXoff_ = false;
      line_->ResumeOutput();
      if (line_->DirectIo()) TransmitLocked(lock);
      WakeLineLocked();
      return ERROR_SUCCESS;
    case SETRTS:
    case CLRRTS: {
      if (dcb_.fRtsControl == RTS_CONTROL_HANDSHAKE || dcb_.fRtsControl == RTS_CONTROL_TOGGLE) {
        return ERROR_INVALID_PARAMETER;  // the driver owns RTS in these modes
      }
      const bool saved = rtsOn_;
      rtsOn_ = function == SETRTS;
      const DWORD e = ApplyLinesLocked(true);
      if (e != ERROR_SUCCESS) rtsOn_ = saved;
      return e;
    }
    case SETDTR:
    case CLRDTR: {
      if (dcb_.fDtrControl == DTR_CONTROL_HANDSHAKE) return ERROR_INVALID_PARAMETER;
      const bool saved = dtrOn_;
      dtrOn_ = function == SETDTR;
      const DWORD e = ApplyLinesLocked(true);
      if (e != ERROR_SUCCESS) dtrOn_ = saved;
      return e;
    }
    case SETBREAK:
    case CLRBREAK: return line_->SetBreak(function == SETBREAK);
    case RESETDEV: return ERROR_SUCCESS;
    default: return ERROR_INVALID_PARAMETER;
  }
}

DWORD DriverCore::ModemStatus(DWORD* status) {
  Lock lock(mu_);
  if (const DWORD e = GateLocked(false)) return e;
  if (status == nullptr) return ERROR_INVALID_PARAMETER;
  return line_->GetModemStatus(status);
}

// ---- LineHost ------------------------------------------------------------------------------------

std::size_t DriverCore::TxReady() {
  Lock lock(mu_);
  if (closed_ || removed_ != ERROR_SUCCESS || TxHeldLocked()) return 0;
  return TxPendingLocked();
}

std::size_t DriverCore::TakeTx(std::uint8_t* out, std::size_t max) {
  Lock lock(mu_);
  if (closed_ || removed_ != ERROR_SUCCESS) return 0;
  return TakeTxLocked(out, max, Clock::now());
}

void DriverCore::TransmitReady() {
  std::lock_guard tx(txMu_);
  Lock lock(mu_);
  serviceAwake_ = true;
  if (line_->DirectIo()) TransmitLineLocked(lock);
}

void DriverCore::ReceiveReady() { ServiceLineInput(); }

void DriverCore::Receive(const std::uint8_t* data, std::size_t count) {
  Lock lock(mu_);
  if (closed_ || removed_ != ERROR_SUCCESS) return;
  ReceiveBytesLocked(data, count, Clock::now());
}

void DriverCore::LineErrors(DWORD ceBits) {
  Lock lock(mu_);
  if (closed_ || removed_ != ERROR_SUCCESS) return;
  RecordErrorsLocked(ceBits);
}

void DriverCore::BreakReceived() {
  Lock lock(mu_);
  if (closed_ || removed_ != ERROR_SUCCESS) return;
  errors_ |= CE_BREAK;
  RaiseEventsLocked(EV_BREAK);
}

void DriverCore::ModemStatusChanged(DWORD status) {
  Lock lock(mu_);
  if (closed_ || removed_ != ERROR_SUCCESS) return;
  const DWORD changed = modemKnown_ ? (status ^ modem_) : 0;
  modem_ = status;
  modemKnown_ = true;
  DWORD events = 0;
  if (changed & MS_CTS_ON) events |= EV_CTS;
  if (changed & MS_DSR_ON) events |= EV_DSR;
  if (changed & MS_RLSD_ON) events |= EV_RLSD;
  if ((changed & MS_RING_ON) && (status & MS_RING_ON)) events |= EV_RING;
  RaiseEventsLocked(events);
  if (changed & MS_DSR_ON) {
    if (line_->DirectIo()) TransmitLocked(lock);
    WakeLineLocked();
  }
}

void DriverCore::Hangup(DWORD error) {
  Lock lock(mu_);
  HangupLocked(error);
}

void DriverCore::HangupLocked(DWORD error) {
  if (closed_ || removed_ != ERROR_SUCCESS) return;
  removed_ = error;
  AbortAllLocked(reads_, error);
  AbortAllLocked(writes_, error);
  if (wait_) CompleteLocked(wait_, error, 0);
  wait_.reset();
}

ServiceState DriverCore::Service(Clock::time_point now) {
  Lock lock(mu_);
  ServiceState state;
  if (closed_ || removed_ != ERROR_SUCCESS) {
    state.wantRx = false;
    serviceDeadline_ = kNever;
    return state;
  }
  AdvanceReadsLocked(now);
  AdvanceWritesLocked(now);
  Clock::time_point deadline = kNever;
  if (!reads_.empty()) deadline = std::min(reads_.front()->total, reads_.front()->interval);
  if (!writes_.empty()) {
    const RequestPtr& w = writes_.front();
    deadline = std::min(deadline, w->kind == kFlush ? now + kFlushRecheck : w->total);
  }
  if (kernelOutBytes_ > 0) deadline = std::min(deadline, now + KernelRecheckLocked());
  // A timer still armed for a time to come stays as it is when the new deadline is later: it
  // fires early once and the round after re-arms it. A stream of requests that each push their
  // deadline further out so costs no timer call per request.
  if (deadline < serviceDeadline_ || serviceDeadline_ <= now) {
    serviceDeadline_ = deadline;
    line_->ArmDeadline(deadline);
  }
  state.deadline = serviceDeadline_;
  state.wantTx = TxPendingLocked() > 0 && !TxHeldLocked();
  serviceWantsTx_ = state.wantTx;
  state.wantRx = !line_->DirectIo() ? !inputStopped_ : WantLineInputLocked();
  serviceWantsRx_ = state.wantRx;
  state.wantModem = dcb_.fOutxDsrFlow || dcb_.fDsrSensitivity ||
                    (mask_ & (EV_CTS | EV_DSR | EV_RLSD | EV_RING)) != 0;
  serviceAwake_ = false;
  return state;
}

}  // namespace qv::comm
