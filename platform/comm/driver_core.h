// The serial driver's semantics, shared by every line backend: request queues (reads in order,
// writes in order, one event wait), the COMMTIMEOUTS rules, the driver input queue, purge and
// cancel, event masks, the error word, DTR/RTS control modes, input flow control, and the DCB
// fields a line cannot express (kept as set, emulated where the core can: DSR output flow holds
// output while DSR is off, DSR sensitivity drops input while DSR is off, fNull drops NUL bytes).
//
// Every public call returns a Win32 error code (ERROR_SUCCESS, ERROR_IO_PENDING for an overlapped
// request that is still pending, or the failure). A request is overlapped when the port was opened
// for overlapped I/O and the caller passed an OVERLAPPED record; otherwise the call blocks until
// the request completes (closing the port completes it with ERROR_OPERATION_ABORTED).
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/comm/byte_queue.h"
#include "platform/comm/comm_timeouts.h"
#include "platform/comm/line.h"

namespace qv::comm {

class DriverCore final : public LineHost {
 public:
  DriverCore(std::shared_ptr<Line> line, bool overlapped);
  ~DriverCore() override;
  DriverCore(const DriverCore&) = delete;
  DriverCore& operator=(const DriverCore&) = delete;

  DWORD Open(const DCB& initial);
  // Completes every pending request with ERROR_OPERATION_ABORTED, then stops the line. Every
  // later call fails with ERROR_INVALID_HANDLE.
  void Close();

  DWORD GetState(DCB* dcb);
  DWORD SetState(const DCB& dcb);
  DWORD GetTimeouts(COMMTIMEOUTS* timeouts);
  DWORD SetTimeouts(const COMMTIMEOUTS& timeouts);
  DWORD Setup(DWORD inQueue, DWORD outQueue);
  DWORD QueueSizes(DWORD* inQueue, DWORD* outQueue);
  DWORD SetMask(DWORD mask);
  DWORD GetMask(DWORD* mask);
  DWORD WaitEvent(DWORD* mask, OVERLAPPED* ov);
  DWORD ClearError(DWORD* errors, COMSTAT* status);
  // The COMSTAT of ClearError, leaving the error word as it is.
  DWORD QueueStatus(COMSTAT* status);
  DWORD Purge(DWORD flags);
  DWORD Escape(DWORD function);
  DWORD ModemStatus(DWORD* status);
  DWORD TransmitChar(char c);
  DWORD Read(void* buffer, DWORD count, DWORD* read, OVERLAPPED* ov);
  DWORD Write(const void* buffer, DWORD count, DWORD* written, OVERLAPPED* ov);
  DWORD Flush();
  // Cancels the requests the given thread issued (ERROR_OPERATION_ABORTED).
  DWORD Cancel(std::thread::id thread);
  LineCaps Caps() const { return line_->Caps(); }

  // LineHost
  std::size_t TxReady() override;
  std::size_t TakeTx(std::uint8_t* out, std::size_t max) override;
  void TransmitReady() override;
  void ReceiveReady() override;
  void Receive(const std::uint8_t* data, std::size_t count) override;
  void LineErrors(DWORD ceBits) override;
  void BreakReceived() override;
  void ModemStatusChanged(DWORD status) override;
  void Hangup(DWORD error) override;
  ServiceState Service(Clock::time_point now) override;

 private:
  struct Request;
  using RequestPtr = std::shared_ptr<Request>;
  // mu_, held. An overlapped request the holder completes meanwhile has its result in its record
  // at once, but its event is set only once the thread's outermost Lock lets go of mu_: a thread
  // woken while mu_ is still held would run at once only to block on it, two task switches a
  // request.
  class Lock {
   public:
    explicit Lock(std::mutex& mu);
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    void lock() { held_.lock(); }
    void unlock() { held_.unlock(); }
    std::unique_lock<std::mutex>& held() { return held_; }

   private:
    std::unique_lock<std::mutex> held_;
  };

  DWORD GateLocked(bool io) const;
  RequestPtr NewRequestLocked(int kind, OVERLAPPED* ov);
  DWORD FinishSubmitLocked(Lock& lock, const RequestPtr& r, DWORD* count);
  void CompleteLocked(const RequestPtr& r, DWORD error, DWORD count);
  void AbortAllLocked(std::deque<RequestPtr>& queue, DWORD error);

  void AdvanceReadsLocked(Clock::time_point now);
  void AdvanceWritesLocked(Clock::time_point now);
  void ReceiveBytesLocked(const std::uint8_t* data, std::size_t count, Clock::time_point now,
                          bool overfill = false);
  // Direct-I/O lines: a caller's read of what the line holds (skipped while the service thread
  // reads), the service thread's read, and the loop both use, which lets go of mu_ (held in
  // `lock`) during each read of the line.
  void PullLineInputLocked(Lock& lock);
  void ServiceLineInput();
  void ReadLineLocked(Lock& lock);
  // Direct-I/O lines: whether the service thread should read the line as input arrives.
  bool WantLineInputLocked() const;
  std::size_t InputRoomLocked() const;
  void HangupLocked(DWORD error);
  // Direct-I/O lines: writes what is queued as far as the line takes it (skipped while another
  // thread does so); the loop lets go of mu_ (held in `lock`) during each write of the line and
  // needs txMu_.
  void TransmitLocked(Lock& lock);
  void TransmitLineLocked(Lock& lock);
  std::size_t TakeTxLocked(std::uint8_t* out, std::size_t max, Clock::time_point now);
  void AfterTxLocked(std::size_t taken, Clock::time_point now);
  bool TxHeldLocked() const;
  std::size_t TxPendingLocked() const;
  // Direct-I/O lines: what the line's kernel still holds of what the core wrote (see kernelOut_).
  void NoteKernelBytesLocked(const RequestPtr& r, std::size_t count);
  bool ReapKernelOutputLocked();
  void FlushKernelOutputLocked();
  void DropEndedKernelOutputLocked();
  Clock::duration KernelRecheckLocked() const;
  DWORD LeftCountLocked(const RequestPtr& r) const;
  void StatusLocked(COMSTAT* status);
  void RaiseEventsLocked(DWORD events);
  void RecordErrorsLocked(DWORD ceBits);
  void UpdateInputFlowLocked();
  DWORD ApplyLinesLocked(bool force);
  void KickIfEarlierLocked(Clock::time_point deadline);
  void WakeLineLocked();

  const std::shared_ptr<Line> line_;
  const bool overlapped_;

  mutable std::mutex mu_;
  // Held by whoever reads a direct-I/O line; taken before mu_ (the service thread) or tried
  // under it (callers), never waited for under mu_.
  std::mutex rxMu_;
  std::mutex txMu_;                // the same for whoever writes a direct-I/O line
  std::uint64_t inputPurges_ = 0;  // RXCLEAR purges so far
  std::condition_variable done_;   // blocking callers wait here for their request
  bool open_ = false;
  bool closed_ = false;
  DWORD removed_ = ERROR_SUCCESS;  // the error of a device that went away

  DCB dcb_{};
  COMMTIMEOUTS timeouts_{};
  DWORD inCapacity_ = 4096;
  DWORD outCapacity_ = 4096;
  ByteQueue input_;
  std::deque<RequestPtr> reads_;
  std::deque<RequestPtr> writes_;  // writes and flushes, in order
  RequestPtr wait_;
  std::optional<std::uint8_t> immediate_;  // TransmitCommChar
  // The last requests made, kept for use again once they ended (NewRequestLocked).
  static constexpr std::size_t kRecentRequests = 8;
  std::vector<RequestPtr> recent_;
  // Direct-I/O lines: the bytes written to the tty that it has not sent yet, oldest first, by
  // request (null: a TransmitCommChar byte). A write completes once none of its bytes is left
  // here; the kernel's output queue (TIOCOUTQ) says how many are, and the oldest leave first.
  struct KernelBytes {
    RequestPtr request;
    std::size_t count;
  };
  std::deque<KernelBytes> kernelOut_;
  std::size_t kernelOutBytes_ = 0;

  DWORD mask_ = 0;
  DWORD history_ = 0;
  DWORD errors_ = 0;
  DWORD modem_ = 0;
  bool modemKnown_ = false;
  bool escapeXoff_ = false;  // SETXOFF: act as if XOFF was received
  bool inputStopped_ = false;
  bool dtrOn_ = true;
  bool rtsOn_ = true;
  std::optional<std::pair<bool, bool>> appliedLines_;
  // What the service thread last planned for: its wake-up time, and whether it waits for the
  // line to take output.
  Clock::time_point serviceDeadline_ = Clock::time_point::min();
  bool serviceWantsTx_ = false;
  bool serviceWantsRx_ = false;
  // Between a line event and the next Service() call the thread will look at the state anyway.
  bool serviceAwake_ = false;
};

}  // namespace qv::comm
