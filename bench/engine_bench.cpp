// Engine throughput: block echo over a pseudo-terminal pair through the engine (WriteCommBuffer
// out, the receive callback in, a sink that only counts) against a plain read/write loop on the
// terminal's descriptor, in the same run. Prints both rates and their ratio (target: >= 0.7).
//
//   engine_bench [blocks] [block size]
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
        const ssize_t w = ::write(master_, buffer.data() + done, static_cast<std::size_t>(n - done));
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

// Plain loop: write a block to the terminal, read until it is back, repeat.
double PlainRate(const std::string& path, int blocks, std::size_t size) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
  termios t{};
  ::tcgetattr(fd, &t);
  ::cfmakeraw(&t);
  ::tcsetattr(fd, TCSANOW, &t);
  std::vector<unsigned char> out(size, 0x5A), in(size);
  const auto start = Clock::now();
  for (int b = 0; b < blocks; ++b) {
    std::size_t sent = 0, got = 0;
    while (got < size) {
      if (sent < size) {
        const ssize_t w = ::write(fd, out.data() + sent, size - sent);
        if (w > 0) sent += static_cast<std::size_t>(w);
      }
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, sent < size ? 0 : 1000) <= 0) continue;
      const ssize_t r = ::read(fd, in.data() + got, size - got);
      if (r > 0) got += static_cast<std::size_t>(r);
    }
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  ::close(fd);
  return static_cast<double>(blocks) * static_cast<double>(size) / seconds;
}

HANDLE OpenPort(const std::string& path) {
  const HANDLE port = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (port == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "cannot open %s\n", path.c_str());
    std::exit(1);
  }
  DCB dcb{};
  GetCommState(port, &dcb);
  dcb.BaudRate = 115200;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  SetCommState(port, &dcb);
  COMMTIMEOUTS timeouts{250, 0, 1000, 0, 0};
  SetCommTimeouts(port, &timeouts);
  return port;
}

// For reference: the port calls alone on one thread (overlapped write, then reads until the
// block is back), which is what the engine adds its two threads to.
double PortCallsRate(const std::string& path, int blocks, std::size_t size) {
  const HANDLE port = OpenPort(path);
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

// The engine: WriteCommBuffer each block, the receive callback counts until it is back.
double EngineRate(const std::string& path, int blocks, std::size_t size) {
  const HANDLE port = OpenPort(path);
  SetCommBlockSize(static_cast<DWORD>(size));
  const HANDLE blockBack = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  std::atomic<std::size_t> received{0};
  std::atomic<std::size_t> expected{size};
  auto sink = [&](const BYTE*, DWORD count) {
    if ((received += count) >= expected.load()) SetEvent(blockBack);
    return 1;
  };
  if (!StartComm(port, sink)) std::exit(1);
  std::vector<BYTE> out(size, 0x5A);
  const auto start = Clock::now();
  for (int b = 0; b < blocks; ++b) {
    expected = static_cast<std::size_t>(b + 1) * size;
    WriteCommBuffer(out.data(), static_cast<DWORD>(size));
    if (WaitForSingleObject(blockBack, 10000) != WAIT_OBJECT_0) {
      std::fprintf(stderr, "block %d did not come back\n", b);
      std::exit(1);
    }
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  StopComm(1);
  CloseHandle(blockBack);
  return static_cast<double>(blocks) * static_cast<double>(size) / seconds;
}

}  // namespace

int main(int argc, char** argv) {
  const int blocks = argc > 1 ? std::atoi(argv[1]) : 500;
  const std::size_t size = argc > 2 ? static_cast<std::size_t>(std::atoi(argv[2])) : 4096;
  qv::sync::SetDebugOutputToStderr(false);
  EchoPeer peer;
  // Alternate the two, three rounds each, and keep each one's best round.
  double plain = 0, engine = 0, calls = 0;
  for (int round = 0; round < 3; ++round) {
    plain = std::max(plain, PlainRate(peer.path(), blocks, size));
    calls = std::max(calls, PortCallsRate(peer.path(), blocks, size));
    peer.AllowOtherOpens();
    engine = std::max(engine, EngineRate(peer.path(), blocks, size));
    peer.AllowOtherOpens();
  }
  std::printf("block echo on a pty pair, %d blocks of %zu bytes\n", blocks, size);
  std::printf("plain loop: %10.0f bytes/s\n", plain);
  std::printf("port calls: %10.0f bytes/s (one thread, for reference)\n", calls);
  std::printf("engine:     %10.0f bytes/s\n", engine);
  std::printf("ratio engine/plain: %.2f (target >= 0.70)\n", engine / plain);
  return 0;
}
