// Throughput through the driver core on a pseudo-terminal pair, against a plain read/write loop on
// the same kind of pty in the same run, in 4096-byte blocks, both directions, in alternating
// rounds (bench/rounds.h). Targets: write ratio (driver core / plain) >= 0.8, read >= 0.9, CPU
// per MB at most 1.5 times the plain loop's.
//
//   comm_bench [megabytes a pass, default 16] [all|plain-write|core-write|plain-read|core-read]
//              [rounds, default 9]
// A side other than "all" runs that one pass alone, for profiling.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_port.h"
#include "bench/rounds.h"
#include "platform/comm/comm_api.h"
#include "platform/sync/event.h"
#include "platform/sync/kernel_object.h"
#include "platform/sync/last_error.h"

namespace {

constexpr std::size_t kBlock = 4096;
using Clock = std::chrono::steady_clock;

struct Pty {
  int master = -1;
  std::string slave;
  Pty() {
    master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) std::exit(2);
    slave = ::ptsname(master);
  }
  ~Pty() { ::close(master); }
};

// The far end: drains `total` bytes from fd, or sends them in blocks.
void Drain(int fd, std::size_t total) {
  std::vector<char> buffer(65536);
  std::size_t got = 0;
  while (got < total) {
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
}

void Feed(int fd, std::size_t total) {
  std::vector<char> block(kBlock, 'c');
  for (std::size_t sent = 0; sent < total;) {
    const ssize_t n = ::write(fd, block.data(), std::min(kBlock, total - sent));
    if (n <= 0) break;
    sent += static_cast<std::size_t>(n);
  }
}

// Non-blocking, waiting in poll as the driver core does: a blocking tty write is woken for every
// few bytes of room the far end makes, which made the plain loop the slower side by half.
int OpenRawSlave(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  termios t{};
  ::tcgetattr(fd, &t);
  ::cfmakeraw(&t);
  ::tcsetattr(fd, TCSANOW, &t);
  return fd;
}

double PlainWrite(std::size_t total) {
  Pty pty;
  const int fd = OpenRawSlave(pty.slave);
  std::thread far([&] { Drain(pty.master, total); });
  std::vector<char> block(kBlock, 'c');
  const auto start = Clock::now();
  for (std::size_t sent = 0; sent < total;) {
    const ssize_t n = ::write(fd, block.data(), kBlock);
    if (n < 0 && errno == EAGAIN) {
      pollfd p{fd, POLLOUT, 0};
      ::poll(&p, 1, -1);
      continue;
    }
    if (n <= 0) break;
    sent += static_cast<std::size_t>(n);
  }
  far.join();
  const double s = std::chrono::duration<double>(Clock::now() - start).count();
  ::close(fd);
  return total / s;
}

double PlainRead(std::size_t total) {
  Pty pty;
  const int fd = OpenRawSlave(pty.slave);
  std::thread far([&] { Feed(pty.master, total); });
  std::vector<char> block(kBlock);
  const auto start = Clock::now();
  for (std::size_t got = 0; got < total;) {
    const ssize_t n = ::read(fd, block.data(), kBlock);
    if (n < 0 && errno == EAGAIN) {
      pollfd p{fd, POLLIN, 0};
      ::poll(&p, 1, -1);
      continue;
    }
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  const double s = std::chrono::duration<double>(Clock::now() - start).count();
  far.join();
  ::close(fd);
  return total / s;
}

// The engine's write thread: one overlapped write at a time, waiting on its event.
double CoreWrite(std::size_t total) {
  Pty pty;
  HANDLE h = qv::bench::OpenBenchPort(pty.slave);
  std::thread far([&] { Drain(pty.master, total); });
  std::vector<char> block(kBlock, 'c');
  OVERLAPPED ov{};
  ov.hEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  const auto start = Clock::now();
  for (std::size_t sent = 0; sent < total;) {
    DWORD n = 0;
    if (!WriteFile(h, block.data(), kBlock, &n, &ov)) {
      if (GetLastError() != ERROR_IO_PENDING) break;
      WaitForSingleObject(ov.hEvent, INFINITE);
      if (!GetOverlappedResult(h, &ov, &n, FALSE)) break;
    }
    sent += n;
  }
  far.join();
  const double s = std::chrono::duration<double>(Clock::now() - start).count();
  CloseHandle(ov.hEvent);
  CloseHandle(h);
  return total / s;
}

// The engine's read thread: one overlapped read of 4096 bytes at a time.
double CoreRead(std::size_t total) {
  Pty pty;
  HANDLE h = qv::bench::OpenBenchPort(pty.slave);
  std::thread far([&] { Feed(pty.master, total); });
  std::vector<char> block(kBlock);
  OVERLAPPED ov{};
  ov.hEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  const auto start = Clock::now();
  for (std::size_t got = 0; got < total;) {
    DWORD n = 0;
    if (!ReadFile(h, block.data(), kBlock, &n, &ov)) {
      if (GetLastError() != ERROR_IO_PENDING) break;
      WaitForSingleObject(ov.hEvent, INFINITE);
      if (!GetOverlappedResult(h, &ov, &n, FALSE)) break;
    }
    got += n;
  }
  const double s = std::chrono::duration<double>(Clock::now() - start).count();
  far.join();
  CloseHandle(ov.hEvent);
  CloseHandle(h);
  return total / s;
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 16;
  const std::size_t total = std::max<std::size_t>(1, megabytes) * 1024 * 1024;
  const std::string leg = argc > 2 ? argv[2] : "all";
  const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 9;
  if (leg != "all") {
    const double rate = leg == "plain-write"  ? PlainWrite(total)
                        : leg == "core-write" ? CoreWrite(total)
                        : leg == "plain-read" ? PlainRead(total)
                                              : CoreRead(total);
    std::printf("%s: %.1f MB/s\n", leg.c_str(), rate / (1024.0 * 1024.0));
    return 0;
  }
  const auto pass = [total](double (*side)(std::size_t)) {
    return [total, side] {
      side(total);
      return double(total);
    };
  };
  using qv::bench::CompareInRounds;
  const auto w = CompareInRounds("pty write, 4096-byte blocks", {"plain", pass(PlainWrite)},
                                 {"core", pass(CoreWrite)}, rounds, 0.3);
  const auto r = CompareInRounds("pty read, 4096-byte blocks", {"plain", pass(PlainRead)},
                                 {"core", pass(CoreRead)}, rounds, 0.3);
  std::printf("targets: write ratio >= 0.80 %s, read ratio >= 0.90 %s, CPU per MB <= 1.5x %s\n",
              w.ratio >= 0.8 ? "met" : "NOT met", r.ratio >= 0.9 ? "met" : "NOT met",
              w.cpuRatio <= 1.5 && r.cpuRatio <= 1.5 ? "met" : "NOT met");
  return 0;
}
