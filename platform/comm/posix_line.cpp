#include "platform/comm/posix_line.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "platform/sync/last_error.h"

namespace qv::comm {
namespace {

// While something depends on the modem status, it is read this often (ttys do not signal it).
constexpr int kModemPollMs = 10;

bool ReadCounts(Tty& tty, int counts[5]) {
  serial_icounter_struct c{};
  if (tty.Ioctl(TIOCGICOUNT, &c) != 0) return false;
  counts[0] = c.frame;
  counts[1] = c.overrun;
  counts[2] = c.parity;
  counts[3] = c.brk;
  counts[4] = c.buf_overrun;
  return true;
}

DWORD StatusFromBits(int bits) {
  DWORD status = 0;
  if (bits & TIOCM_CTS) status |= MS_CTS_ON;
  if (bits & TIOCM_DSR) status |= MS_DSR_ON;
  if (bits & TIOCM_RNG) status |= MS_RING_ON;
  if (bits & TIOCM_CAR) status |= MS_RLSD_ON;
  return status;
}

}  // namespace

PosixLine::PosixLine(std::unique_ptr<Tty> tty) : tty_(std::move(tty)), fd_(tty_->fd()) {}

PosixLine::~PosixLine() { Stop(); }

DWORD PosixLine::Open(const std::string& path, std::shared_ptr<PosixLine>* line, bool* notTty,
                      int* fdOut) {
  *notTty = false;
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return qv::sync::Win32ErrorFromErrno(errno);
  if (!::isatty(fd)) {
    *notTty = true;
    *fdOut = fd;
    return ERROR_SUCCESS;
  }
  // Exclusive: another open of the same device (in this process or any other) is refused.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int e = errno;
    ::close(fd);
    return e == EWOULDBLOCK ? ERROR_ACCESS_DENIED : qv::sync::Win32ErrorFromErrno(e);
  }
  ::ioctl(fd, TIOCEXCL);
  std::shared_ptr<PosixLine> l(new PosixLine(OpenTty(path, fd)));
  int bits = 0;
  l->modemLines_ = l->tty_->Ioctl(TIOCMGET, &bits) == 0;
  l->counters_ = ReadCounts(*l->tty_, l->lastCounts_);
  *line = std::move(l);
  return ERROR_SUCCESS;
}

DWORD PosixLine::Start(LineHost* host, const DCB&, bool dtr, bool rts) {
  wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wakeFd_ < 0) return qv::sync::Win32ErrorFromErrno(errno);
  // steady_clock is CLOCK_MONOTONIC, so request deadlines arm the timer as they are.
  timerFd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  if (timerFd_ < 0) {
    const int e = errno;
    ::close(wakeFd_);
    wakeFd_ = -1;
    return qv::sync::Win32ErrorFromErrno(e);
  }
  host_ = host;
  SetOutputLines(dtr, rts);
  stop_ = false;
  thread_ = std::thread([this] { Run(); });
  return ERROR_SUCCESS;
}

void PosixLine::Stop() {
  if (!thread_.joinable()) return;
  stop_ = true;
  Kick();
  thread_.join();
  // Closing a port drops DTR and RTS, as a serial driver does.
  if (modemLines_) {
    int bits = TIOCM_DTR | TIOCM_RTS;
    tty_->Ioctl(TIOCMBIC, &bits);
  }
  ::ioctl(fd_, TIOCNXCL);
  ::close(wakeFd_);
  wakeFd_ = -1;
  ::close(timerFd_);
  timerFd_ = -1;
}

DWORD PosixLine::Configure(const DCB& dcb, DWORD* acceptedBaud) {
  TtySettings s;
  s.baud = dcb.BaudRate;
  s.dataBits = dcb.ByteSize;
  s.parity = dcb.Parity;
  s.stopBits = dcb.StopBits;
  s.rtsCts = dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE;
  s.xonXoffOut = dcb.fOutX;
  s.xonXoffIn = dcb.fInX;
  s.xonChar = static_cast<unsigned char>(dcb.XonChar);
  s.xoffChar = static_cast<unsigned char>(dcb.XoffChar);
  if (configured_ && s == applied_) {
    *acceptedBaud = appliedBaud_;
    return ERROR_SUCCESS;
  }
  std::uint32_t actual = 0;
  if (const int e = tty_->Configure(s, &actual, &kernelCopy_)) {
    return e == EINVAL ? ERROR_INVALID_PARAMETER : qv::sync::Win32ErrorFromErrno(e);
  }
  configured_ = true;
  applied_ = s;
  appliedBaud_ = actual != 0 ? actual : s.baud;
  *acceptedBaud = appliedBaud_;
  return ERROR_SUCCESS;
}

DWORD PosixLine::SetOutputLines(bool dtr, bool rts) {
  if (!modemLines_) return ERROR_INVALID_FUNCTION;
  int on = (dtr ? TIOCM_DTR : 0) | (rts ? TIOCM_RTS : 0);
  int off = (dtr ? 0 : TIOCM_DTR) | (rts ? 0 : TIOCM_RTS);
  if (on != 0 && tty_->Ioctl(TIOCMBIS, &on) != 0) return qv::sync::Win32ErrorFromErrno(errno);
  if (off != 0 && tty_->Ioctl(TIOCMBIC, &off) != 0) return qv::sync::Win32ErrorFromErrno(errno);
  return ERROR_SUCCESS;
}

DWORD PosixLine::SetBreak(bool on) {
  if (tty_->Ioctl(on ? TIOCSBRK : TIOCCBRK, nullptr) != 0)
    return qv::sync::Win32ErrorFromErrno(errno);
  return ERROR_SUCCESS;
}

DWORD PosixLine::GetModemStatus(DWORD* status) {
  int bits = 0;
  if (!modemLines_ || tty_->Ioctl(TIOCMGET, &bits) != 0) return ERROR_INVALID_FUNCTION;
  *status = StatusFromBits(bits);
  return ERROR_SUCCESS;
}

// With CRTSCTS the kernel (or the UART itself) holds the output while CTS is off, and TIOCMGET
// tells CTS. An XOFF from the far end is another matter: with IXON the line discipline stops the
// tty, but Linux has no call that reports a tty stopped (neither by XOFF nor by tcflow); a queue
// that does not drain could be either, or a slow adapter. So the tty never claims an XOFF hold;
// COMSTAT shows one only when the port itself was told SETXOFF.
LineHolds PosixLine::Holds() {
  LineHolds holds;
  int bits = 0;
  if (modemLines_ && applied_.rtsCts && tty_->Ioctl(TIOCMGET, &bits) == 0) {
    holds.cts = !(bits & TIOCM_CTS);
  }
  return holds;
}

void PosixLine::ResumeOutput() { tty_->RestartOutput(); }
void PosixLine::PurgeOutput() { tty_->FlushOutput(); }
void PosixLine::PurgeInput() { tty_->FlushInput(); }

// TIOCOUTQ counts what the tty driver still holds: a UART's transmit buffer (not its FIFO), a
// USB-serial driver's FIFO and the URBs in flight. A pseudo-terminal passes bytes on at once and
// always reports 0.
DWORD PosixLine::OutputBacklog() {
  int n = 0;
  return tty_->Ioctl(TIOCOUTQ, &n) == 0 && n > 0 ? static_cast<DWORD>(n) : 0;
}

DWORD PosixLine::InputBacklog() {
  int n = 0;
  return tty_->Ioctl(FIONREAD, &n) == 0 && n > 0 ? static_cast<DWORD>(n) : 0;
}

DWORD PosixLine::TakeLineErrors() {
  if (!counters_) return 0;
  int now[5];
  if (!ReadCounts(*tty_, now)) return 0;
  DWORD ce = 0;
  if (now[0] != lastCounts_[0]) ce |= CE_FRAME;
  if (now[1] != lastCounts_[1]) ce |= CE_OVERRUN;
  if (now[2] != lastCounts_[2]) ce |= CE_RXPARITY;
  if (now[3] != lastCounts_[3]) ce |= CE_BREAK;
  if (now[4] != lastCounts_[4]) ce |= CE_RXOVER;
  for (int i = 0; i < 5; ++i) lastCounts_[i] = now[i];
  return ce;
}

long PosixLine::WriteSome(const std::uint8_t* data, std::size_t count) {
  for (;;) {
    const ssize_t n = tty_->Write(data, count);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    if (errno == EAGAIN) return 0;
    return -errno;
  }
}

long PosixLine::ReadSome(std::uint8_t* data, std::size_t count) {
  for (;;) {
    const ssize_t n = tty_->Read(data, count);
    if (n > 0) return n;
    if (n == 0) return -EIO;  // end of file on a tty: the other side hung up
    if (errno == EINTR) continue;
    if (errno == EAGAIN) return 0;
    return -errno;
  }
}

void PosixLine::Kick() {
  const std::uint64_t one = 1;
  if (wakeFd_ >= 0) [[maybe_unused]]
    auto r = ::write(wakeFd_, &one, sizeof one);
}

void PosixLine::ArmDeadline(Clock::time_point deadline) {
  if (timerFd_ < 0) return;
  itimerspec expiry{};
  if (deadline != Clock::time_point::max()) {
    const auto ns =
        std::chrono::duration_cast<std::chrono::nanoseconds>(deadline.time_since_epoch()).count();
    expiry.it_value.tv_sec = ns / 1000000000;
    expiry.it_value.tv_nsec = ns % 1000000000;
    if (expiry.it_value.tv_sec == 0 && expiry.it_value.tv_nsec == 0) expiry.it_value.tv_nsec = 1;
  }
  ::timerfd_settime(timerFd_, TFD_TIMER_ABSTIME, &expiry, nullptr);
}

LineCaps PosixLine::Caps() const {
  LineCaps caps;
  caps.modemLines = modemLines_;
  caps.coreCtsFlow = false;
  return caps;
}

void PosixLine::Run() {
  bool hungUp = false;
  DWORD lastModem = 0xFFFFFFFF;
  while (!stop_) {
    const auto now = Clock::now();
    const ServiceState state = host_->Service(now);  // also arms the timer
    const bool watchModem = modemLines_ && !hungUp && (state.wantModem || lastModem == 0xFFFFFFFF);
    const int timeout = watchModem ? kModemPollMs : -1;

    pollfd fds[3] = {};
    fds[0].fd = wakeFd_;
    fds[0].events = POLLIN;
    fds[1].fd = hungUp ? -1 : fd_;
    fds[1].events = static_cast<short>((state.wantRx ? POLLIN : 0) | (state.wantTx ? POLLOUT : 0));
    fds[2].fd = timerFd_;
    fds[2].events = POLLIN;
    const int ready = tty_->Poll(fds, 3, timeout);
    if (ready < 0 && errno != EINTR) break;
    std::uint64_t count;
    if (fds[0].revents & POLLIN) [[maybe_unused]]
      auto r = ::read(wakeFd_, &count, sizeof count);
    if (fds[2].revents & POLLIN) [[maybe_unused]]
      auto r = ::read(timerFd_, &count, sizeof count);
    if (stop_) break;
    const short ev = fds[1].revents;
    if (ev & POLLIN) host_->ReceiveReady();
    if (ev & POLLOUT) host_->TransmitReady();
    if (ev & (POLLHUP | POLLERR | POLLNVAL)) {
      // Take what the device sent before it went away, then fail what is still pending.
      if (!(ev & POLLNVAL)) host_->ReceiveReady();
      hungUp = true;
      host_->Hangup(ERROR_GEN_FAILURE);
    }
    if (watchModem) {
      int bits = 0;
      if (tty_->Ioctl(TIOCMGET, &bits) == 0) {
        const DWORD status = StatusFromBits(bits);
        if (status != lastModem) {
          lastModem = status;
          host_->ModemStatusChanged(status);
        }
      }
    }
  }
}

}  // namespace qv::comm
