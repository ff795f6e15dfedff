// A real tty (or a pseudo-terminal) as a port's line.
//
// The fd is non-blocking; the core reads and writes it directly (under its lock) whenever a
// request can make progress at once, and one service thread waits in poll() for readability,
// writability, its wake-up eventfd and the earliest request timer, so an idle port costs nothing.
// A hang-up (POLLHUP, EIO) fails the pending requests instead of spinning. What the tty driver
// lacks (modem lines and error counters on a pseudo-terminal) fails with ERROR_INVALID_FUNCTION.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "platform/comm/line.h"
#include "platform/comm/posix_termios.h"
#include "platform/comm/posix_tty.h"

namespace qv::comm {

class PosixLine final : public Line {
 public:
  // Opens the device exclusively (flock + TIOCEXCL). When the path is not a tty, *notTty is set
  // and *fd holds the open file for the caller.
  static DWORD Open(const std::string& path, std::shared_ptr<PosixLine>* line, bool* notTty,
                    int* fd);
  ~PosixLine() override;

  DWORD Start(LineHost* host, const DCB& dcb, bool dtr, bool rts) override;
  void Stop() override;
  DWORD Configure(const DCB& dcb, DWORD* acceptedBaud) override;
  DWORD SetOutputLines(bool dtr, bool rts) override;
  DWORD SetBreak(bool on) override;
  DWORD GetModemStatus(DWORD* status) override;
  LineHolds Holds() override;
  void ResumeOutput() override;
  void PurgeOutput() override;
  void PurgeInput() override;
  DWORD OutputBacklog() override;
  DWORD InputBacklog() override;
  DWORD TakeLineErrors() override;
  bool CountsLineErrors() const override { return counters_; }
  bool DirectIo() const override { return true; }
  long WriteSome(const std::uint8_t* data, std::size_t count) override;
  long ReadSome(std::uint8_t* data, std::size_t count) override;
  void Kick() override;
  void ArmDeadline(Clock::time_point deadline) override;
  LineCaps Caps() const override;

 private:
  explicit PosixLine(std::unique_ptr<Tty> tty);
  void Run();

  const std::unique_ptr<Tty> tty_;
  const int fd_;  // tty_'s, for poll
  int wakeFd_ = -1;
  int timerFd_ = -1;  // the earliest request timer, armed without waking the thread
  std::thread thread_;
  std::atomic<bool> stop_{false};
  LineHost* host_ = nullptr;
  bool modemLines_ = false;
  bool counters_ = false;
  bool configured_ = false;
  TtySettings applied_;
  DWORD appliedBaud_ = 0;
  TtyKernelCopy kernelCopy_;  // guarded by the core, like applied_
  // TIOCGICOUNT totals last seen (frame, overrun, parity, brk, buf_overrun); guarded by the core.
  int lastCounts_[5] = {};
};

}  // namespace qv::comm
