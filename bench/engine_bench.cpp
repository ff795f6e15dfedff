// Engine throughput: block echo over a pseudo-terminal pair through the engine (WriteCommBuffer
// out, the receive callback in, a sink that only counts) against a plain read/write loop on the
// terminal's descriptor, in the same run, in alternating rounds (bench/rounds.h). Targets for the
// streamed measure: ratio engine / plain >= 0.7, CPU per MB at most twice the plain loop's.
//
// Two measures, each for both sides alike:
//  - streamed: up to `window` blocks are in flight (written, not yet back) while the far end
//    echoes, as data flows through a running connection. This is the throughput the target is for.
//  - lock-step: one block at a time, written and waited for before the next. Every block pays
//    each thread hand-off of the engine (caller, write thread, driver, read thread, sink) in
//    latency, so this one measures round-trip latency more than throughput; printed for reference.
//
//   engine_bench [blocks a pass] [block size] [window] [all|plain|engine] [rounds, default 9]
// A side other than "all" runs one pass of it alone, for profiling.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_port.h"
#include "bench/rounds.h"
#include "engine/comm.h"
#include "platform/comm/comm_api.h"
#include "platform/sync/debug_output.h"
#include "platform/sync/event.h"
#include "platform/sync/kernel_object.h"

namespace {

using Clock = std::chrono::steady_clock;

// The far end: echoes every byte back until told to stop.
class EchoPeer {
 public:
  EchoPeer() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    char name[128] = {};
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
        ::ptsname_r(master_, name, sizeof name) != 0) {
      std::perror("pty");
      std::exit(1);
    }
    path_ = name;
    // The terminal side is opened raw by each user; keep one descriptor open meanwhile so the
    // master never sees a hang-up between the two runs.
    keep_ = ::open(name, O_RDWR | O_NOCTTY);
    termios t{};
    ::tcgetattr(keep_, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(keep_, TCSANOW, &t);
    thread_ = std::thread([this] { Run(); });
  }
  ~EchoPeer() {
    stop_ = true;
    thread_.join();
    ::close(keep_);
    ::close(master_);
  }
  const std::string& path() const { return path_; }
  // A port opened exclusively leaves the terminal marked so while this side keeps it open.
  void AllowOtherOpens() { ::ioctl(keep_, TIOCNXCL); }

 private:
  void Run() {
    std::vector<unsigned char> buffer(65536);
    while (!stop_) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      const ssize_t n = ::read(master_, buffer.data(), buffer.size());
      if (n <= 0) continue;
      ssize_t done = 0;
      while (done < n && !stop_) {
        const ssize_t w =
            ::write(master_, buffer.data() + done, static_cast<std::size_t>(n - done));
        if (w > 0) {
          done += w;
        } else {
          pollfd q{master_, POLLOUT, 0};
          ::poll(&q, 1, 20);
        }
      }
    }
  }

  int master_ = -1;
  int keep_ = -1;
  std::string path_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Plain loop: writes blocks to the terminal while fewer than `window` blocks are out, reads what
// comes back, until every block is back. With a window of 1: write a block, read until it is
// back, repeat. The descriptor is non-blocking, so a full output buffer never keeps the loop
// from reading the echo (the far end would wait for that room in turn).
double PlainRate(const std::string& path, int blocks, std::size_t size, int window) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  termios t{};
  ::tcgetattr(fd, &t);
  ::cfmakeraw(&t);
  ::tcsetattr(fd, TCSANOW, &t);
  const std::size_t total = static_cast<std::size_t>(blocks) * size;
  const std::size_t inFlight = static_cast<std::size_t>(window) * size;
  std::vector<unsigned char> out(size, 0x5A), in(size);
  const auto start = Clock::now();
  std::size_t sent = 0, got = 0;
  while (got < total) {
    bool blocked = false;
    if (sent < total && sent - got < inFlight) {
      const std::size_t offset = sent % size;
      const std::size_t chunk = std::min(size - offset, inFlight - (sent - got));
      const ssize_t w = ::write(fd, out.data() + offset, chunk);
      if (w > 0) sent += static_cast<std::size_t>(w);
      blocked = w <= 0;
    }
    const bool moreToWrite = sent < total && sent - got < inFlight && !blocked;
    pollfd p{fd, static_cast<short>(POLLIN | (blocked ? POLLOUT : 0)), 0};
    if (::poll(&p, 1, moreToWrite ? 0 : 1000) <= 0 || !(p.revents & POLLIN)) continue;
    const ssize_t r = ::read(fd, in.data(), size);
    if (r > 0) got += static_cast<std::size_t>(r);
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  ::close(fd);
  return static_cast<double>(total) / seconds;
}

// For reference: the port calls alone on one thread (overlapped write, then reads until the
// block is back), which is what the engine adds its two threads to.
double PortCallsRate(const std::string& path, int blocks, std::size_t size) {
  const HANDLE port = qv::bench::OpenBenchPort(path);
  OVERLAPPED wo{}, ro{};
  wo.hEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  ro.hEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  std::vector<BYTE> out(size, 0x5A), in(size);
  const auto start = Clock::now();
  for (int b = 0; b < blocks; ++b) {
    DWORD n = 0;
    if (!WriteFile(port, out.data(), static_cast<DWORD>(size), &n, &wo))
      GetOverlappedResult(port, &wo, &n, TRUE);
    std::size_t got = 0;
    while (got < size) {
      if (!ReadFile(port, in.data() + got, static_cast<DWORD>(size - got), &n, &ro) &&
          !GetOverlappedResult(port, &ro, &n, TRUE))
        std::exit(1);
      got += n;
    }
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  CloseHandle(wo.hEvent);
  CloseHandle(ro.hEvent);
  CloseHandle(port);
  return static_cast<double>(blocks) * static_cast<double>(size) / seconds;
}

// The engine: WriteCommBuffer each block once fewer than `window` blocks are out; the receive
// callback counts what comes back.
double EngineRate(const std::string& path, int blocks, std::size_t size, int window) {
  const HANDLE port = qv::bench::OpenBenchPort(path);
  SetCommBlockSize(static_cast<DWORD>(size));
  const HANDLE progress = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  std::atomic<std::size_t> received{0};
  std::atomic<std::size_t> awaited{0};
  auto sink = [&](const BYTE*, DWORD count) {
    if ((received += count) >= awaited.load()) SetEvent(progress);
    return 1;
  };
  // Waits until at least `bytes` are back.
  auto waitFor = [&](std::size_t bytes) {
    awaited = bytes;
    while (received.load() < bytes) {
      if (WaitForSingleObject(progress, 10000) != WAIT_OBJECT_0) {
        std::fprintf(stderr, "echo stalled at %zu of %zu bytes\n", received.load(), bytes);
        std::exit(1);
      }
    }
  };
  if (!StartComm(port, sink)) std::exit(1);
  std::vector<BYTE> out(size, 0x5A);
  const auto start = Clock::now();
  for (int b = 0; b < blocks; ++b) {
    if (b >= window) waitFor(static_cast<std::size_t>(b - window + 1) * size);
    WriteCommBuffer(out.data(), static_cast<DWORD>(size));
  }
  waitFor(static_cast<std::size_t>(blocks) * size);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  StopComm(1);
  CloseHandle(progress);
  return static_cast<double>(blocks) * static_cast<double>(size) / seconds;
}

}  // namespace

int main(int argc, char** argv) {
  const int blocks = argc > 1 ? std::max(1, std::atoi(argv[1])) : 500;
  const std::size_t size = argc > 2 ? static_cast<std::size_t>(std::atoi(argv[2])) : 4096;
  const int window = argc > 3 ? std::max(1, std::atoi(argv[3])) : 4;
  const std::string side = argc > 4 ? argv[4] : "all";
  const int rounds = argc > 5 ? std::max(1, std::atoi(argv[5])) : 9;
  qv::sync::SetDebugOutputToStderr(false);
  EchoPeer peer;
  if (side != "all") {
    const double rate = side == "plain" ? PlainRate(peer.path(), blocks, size, window)
                                        : EngineRate(peer.path(), blocks, size, window);
    std::printf("%s, window %d: %.0f bytes/s\n", side.c_str(), window, rate);
    return 0;
  }
  const double pass = static_cast<double>(blocks) * static_cast<double>(size);
  // Each pass opens the terminal afresh; the far end lets the next one in after a port's close.
  const auto plain = [&](int w) {
    return [&, w] {
      PlainRate(peer.path(), blocks, size, w);
      return pass;
    };
  };
  const auto engine = [&](int w) {
    return [&, w] {
      EngineRate(peer.path(), blocks, size, w);
      peer.AllowOtherOpens();
      return pass;
    };
  };
  std::printf("block echo on a pty pair, %d blocks of %zu bytes a pass\n", blocks, size);
  char title[96];
  std::snprintf(title, sizeof title, "streamed, up to %d blocks in flight on both sides", window);
  const auto streamed = qv::bench::CompareInRounds(title, {"plain", plain(window)},
                                                   {"engine", engine(window)}, rounds, 0.3);
  std::printf("  target: ratio >= 0.70 %s, CPU per MB <= 2x %s\n",
              streamed.ratio >= 0.7 ? "met" : "NOT met",
              streamed.cpuRatio <= 2 ? "met" : "NOT met");
  qv::bench::CompareInRounds("lock-step, one block at a time (round-trip latency, for reference)",
                             {"plain", plain(1)}, {"engine", engine(1)}, rounds, 0.3);
  const qv::bench::Round calls = qv::bench::MeasureRound(
      [&] {
        PortCallsRate(peer.path(), blocks, size);
        peer.AllowOtherOpens();
        return pass;
      },
      0.3);
  std::printf("  port calls on one thread, lock-step: %.1f MB/s, %.2f ms CPU/MB\n",
              calls.Rate() / 1048576.0, calls.CpuMsPerMb());
  return 0;
}
