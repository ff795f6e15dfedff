// The baud-rate scan (the loop the test panel runs, without its window) against a bare loop of
// TCSETS2 + TCGETS2 ioctls over the same rates on the same pseudo-terminal, in the same run, then
// the scan on the virtual loop-back port vloop0. Prints each time and "ratio" = bare / scan; the
// target is a ratio of at least 0.33, and vloop0 no slower than the pty.
//
//   baud_scan_bench [last rate, default 2000000]
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "drivertests/baud_scan.h"
#include "platform/comm/comm_api.h"
#include "platform/sync/kernel_object.h"

// <sys/ioctl.h> would pull in the libc termios definitions; the prototype is all that is needed.
extern "C" int ioctl(int fd, unsigned long request, ...);

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Every rate set and read back with the two ioctls and nothing else; returns the rates kept.
double BareLoop(const std::string& path, DWORD last, DWORD* kept) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) std::exit(2);
  struct termios2 t;
  if (ioctl(fd, TCGETS2, &t) != 0) std::exit(2);
  t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
  t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  *kept = 0;
  const auto start = Clock::now();
  for (DWORD rate = 0;; ++rate) {
    t.c_ospeed = t.c_ispeed = rate;
    struct termios2 back;
    if (ioctl(fd, TCSETS2, &t) == 0 && ioctl(fd, TCGETS2, &back) == 0 && back.c_ospeed == rate) {
      ++*kept;
    }
    if (rate == last) break;
  }
  const double s = Seconds(start);
  ::close(fd);
  return s;
}

double Scan(const char* name, DWORD last, std::string* list) {
  const HANDLE port = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OVERLAPPED, nullptr);
  if (port == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "cannot open %s\n", name);
    std::exit(2);
  }
  const auto start = Clock::now();
  if (!qv::drivertests::ScanBaudRates(port, last, {}, list)) std::exit(3);
  const double s = Seconds(start);
  CloseHandle(port);
  return s;
}

std::string Short(const std::string& list) {
  return list.size() <= 60 ? list : list.substr(0, 57) + "...";
}

}  // namespace

int main(int argc, char** argv) {
  const DWORD last = argc > 1 ? static_cast<DWORD>(std::strtoul(argv[1], nullptr, 10))
                              : qv::drivertests::kBaudScanLastRate;
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return 2;
  const std::string slave = ::ptsname(master);

  DWORD bareKept = 0;
  const double bare = BareLoop(slave, last, &bareKept);
  std::string ptyList, vloopList;
  const double pty = Scan(slave.c_str(), last, &ptyList);
  const double vloop = Scan("\\\\.\\vloop0", last, &vloopList);
  ::close(master);

  std::printf("rates 0..%u\n", last);
  std::printf("bare ioctl loop (pty)   %8.3f s   %u rates kept\n", bare, bareKept);
  std::printf("scan (pty)              %8.3f s   %s\n", pty, Short(ptyList).c_str());
  std::printf("scan (vloop0)           %8.3f s   %s\n", vloop, Short(vloopList).c_str());
  std::printf("ratio %.2f (target >= 0.33), vloop0/pty %.2f (target <= 1)\n", bare / pty,
              vloop / pty);
  return 0;
}
