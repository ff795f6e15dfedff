// A serial port as the kernel shows one, for tests, built on a pseudo-terminal pair: the port
// opens the terminal side by its path, and the posix line reaches it through a stand-in tty that
// keeps what the port writes in an output queue of a serial driver's size (4096 bytes). The queue
// drains to the pseudo-terminal at the line's rate (10 bits a byte) unless CRTSCTS is on and CTS
// is off; TIOCOUTQ counts it, TCOFLUSH empties it. CTS is the test's (or follows RTS, as with a
// loop-back plug), DSR and DCD are on, DTR and RTS are kept. The test is the far end on the
// master side, which can echo every byte.
#pragma once

#include <sys/eventfd.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/comm/posix_tty.h"
#include "tests/common/pty_pair.h"

namespace qv::test {

class FakeSerialTty {
 public:
  static constexpr std::size_t kQueueBytes = 4096;

  explicit FakeSerialTty(bool echo) {
    if (!pty_.ok()) return;
    qv::comm::SetTtyWrapper(pty_.path(), [state = state_](std::unique_ptr<qv::comm::Tty> kernel) {
      return std::unique_ptr<qv::comm::Tty>(new Tty(std::move(kernel), state));
    });
    if (echo) echo_ = std::thread([this] { pty_.EchoUntil(stop_); });
  }
  ~FakeSerialTty() {
    if (pty_.ok()) qv::comm::SetTtyWrapper(pty_.path(), {});
    stop_ = true;
    if (echo_.joinable()) echo_.join();
  }

  bool ok() const { return pty_.ok(); }
  const std::string& path() const { return pty_.path(); }
  PtyPair& pty() { return pty_; }

  void SetCts(bool on) {
    std::lock_guard lock(state_->mu);
    state_->cts = on;
    state_->ctsFollowsRts = false;
    state_->changed.notify_all();
  }
  void SetCtsFollowsRts() {
    std::lock_guard lock(state_->mu);
    state_->ctsFollowsRts = true;
    state_->changed.notify_all();
  }
  std::size_t Queued() {
    std::lock_guard lock(state_->mu);
    return state_->queue.size();
  }

 private:
  struct State {
    std::mutex mu;
    std::condition_variable changed;
    bool cts = true;
    bool ctsFollowsRts = false;
    int lines = 0;  // TIOCM_DTR, TIOCM_RTS
    bool rtsCts = false;
    std::uint32_t baud = 9600;
    std::deque<std::uint8_t> queue;

    bool CtsOn() const { return ctsFollowsRts ? (lines & TIOCM_RTS) != 0 : cts; }
    bool Held() const { return rtsCts && !CtsOn(); }
  };

  class Tty final : public qv::comm::Tty {
   public:
    Tty(std::unique_ptr<qv::comm::Tty> kernel, std::shared_ptr<State> state)
        : kernel_(std::move(kernel)), state_(std::move(state)) {
      roomFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
      drain_ = std::thread([this] { Drain(); });
    }
    ~Tty() override {
      {
        std::lock_guard lock(state_->mu);
        stop_ = true;
        state_->changed.notify_all();
      }
      drain_.join();
      ::close(roomFd_);
      std::lock_guard lock(state_->mu);
      state_->queue.clear();
    }

    int fd() const override { return kernel_->fd(); }
    ssize_t Write(const void* data, std::size_t count) override {
      std::lock_guard lock(state_->mu);
      const std::size_t n = std::min(count, kQueueBytes - state_->queue.size());
      if (n == 0) {
        errno = EAGAIN;
        return -1;
      }
      const auto* bytes = static_cast<const std::uint8_t*>(data);
      state_->queue.insert(state_->queue.end(), bytes, bytes + n);
      state_->changed.notify_all();
      return static_cast<ssize_t>(n);
    }
    ssize_t Read(void* data, std::size_t count) override { return kernel_->Read(data, count); }
    int Ioctl(unsigned long request, void* arg) override {
      std::lock_guard lock(state_->mu);
      int* bits = static_cast<int*>(arg);
      switch (request) {
        case TIOCOUTQ: *bits = static_cast<int>(state_->queue.size()); return 0;
        case TIOCMGET:
          *bits = state_->lines | TIOCM_DSR | TIOCM_CAR | (state_->CtsOn() ? TIOCM_CTS : 0);
          return 0;
        case TIOCMBIS: state_->lines |= *bits; break;
        case TIOCMBIC: state_->lines &= ~*bits; break;
        case TIOCSBRK:
        case TIOCCBRK: return 0;
        default: return kernel_->Ioctl(request, arg);
      }
      state_->changed.notify_all();
      return 0;
    }
    // While the queue is full the terminal side's own POLLOUT means nothing: the wait is for
    // the drain to make room instead.
    int Poll(pollfd* fds, nfds_t count, int timeoutMs) override {
      std::vector<pollfd> all(fds, fds + count);
      int tty = -1;
      {
        std::lock_guard lock(state_->mu);
        for (nfds_t i = 0; i < count; ++i) {
          if (all[i].fd == fd() && (all[i].events & POLLOUT) &&
              state_->queue.size() >= kQueueBytes) {
            all[i].events &= ~POLLOUT;
            tty = static_cast<int>(i);
          }
        }
      }
      if (tty >= 0) all.push_back({roomFd_, POLLIN, 0});
      const int ready = ::poll(all.data(), all.size(), timeoutMs);
      if (ready < 0) return ready;
      if (tty >= 0 && (all.back().revents & POLLIN)) {
        std::uint64_t n;
        [[maybe_unused]] auto r = ::read(roomFd_, &n, sizeof n);
        all[tty].revents |= POLLOUT;
      }
      int result = 0;
      for (nfds_t i = 0; i < count; ++i) {
        fds[i].revents = all[i].revents;
        if (fds[i].revents != 0) ++result;
      }
      return result;
    }
    int Configure(const qv::comm::TtySettings& s, std::uint32_t* actual,
                  qv::comm::TtyKernelCopy* last) override {
      {
        std::lock_guard lock(state_->mu);
        state_->baud = std::max<std::uint32_t>(s.baud, 1);
        state_->rtsCts = s.rtsCts;
        state_->changed.notify_all();
      }
      return kernel_->Configure(s, actual, last);
    }
    int FlushInput() override { return kernel_->FlushInput(); }
    // What already drained has left on the wire: only the queue is emptied.
    int FlushOutput() override {
      std::lock_guard lock(state_->mu);
      state_->queue.clear();
      return 0;
    }
    int RestartOutput() override { return kernel_->RestartOutput(); }

   private:
    // Moves bytes to the terminal side as the line's rate allows, in steps of about 1 ms (at
    // most 20 ms worth at once, after a late wake-up).
    void Drain() {
      std::unique_lock lock(state_->mu);
      auto last = std::chrono::steady_clock::now();
      double budget = 0;
      while (!stop_) {
        if (state_->queue.empty() || state_->Held()) {
          state_->changed.wait(lock);
          last = std::chrono::steady_clock::now();
          budget = 0;
          continue;
        }
        state_->changed.wait_for(lock, std::chrono::milliseconds(1));
        const auto now = std::chrono::steady_clock::now();
        const double rate = state_->baud / 10.0;
        budget = std::min(budget + std::chrono::duration<double>(now - last).count() * rate,
                          std::max(rate / 50, 1.0));
        last = now;
        if (state_->Held()) continue;
        std::uint8_t out[4096];
        const std::size_t n =
            std::min({static_cast<std::size_t>(budget), state_->queue.size(), sizeof out});
        if (n == 0) continue;
        std::copy_n(state_->queue.begin(), n, out);
        const ssize_t written = kernel_->Write(out, n);  // EAGAIN: the pty is stopped or full
        if (written <= 0) continue;
        const bool wasFull = state_->queue.size() >= kQueueBytes;
        state_->queue.erase(state_->queue.begin(), state_->queue.begin() + written);
        budget -= static_cast<double>(written);
        if (wasFull) {
          const std::uint64_t one = 1;
          [[maybe_unused]] auto r = ::write(roomFd_, &one, sizeof one);
        }
      }
    }

    std::unique_ptr<qv::comm::Tty> kernel_;
    std::shared_ptr<State> state_;
    int roomFd_ = -1;
    bool stop_ = false;  // under state_->mu
    std::thread drain_;
  };

  PtyPair pty_;
  std::shared_ptr<State> state_ = std::make_shared<State>();
  std::atomic<bool> stop_{false};
  std::thread echo_;
};

}  // namespace qv::test
