// Idle cost of an open port: a running connection (read thread, write thread, the driver's
// service thread) on a pseudo-terminal that carries nothing, and the CPU the process spends on it
// over a stretch of time, in clock ticks of the process's user and system time. A connection that
// waits as it should costs 0.
//
//   idle_bench [seconds, default 20] [port: a pty by default, or a name such as vloop0]
#include <fcntl.h>
#include <stdlib.h>
#include <sys/times.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "engine/comm.h"
#include "platform/comm/comm_api.h"
#include "platform/sync/debug_output.h"

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  std::string port = argc > 2 ? argv[2] : "";
  qv::sync::SetDebugOutputToStderr(false);
  int master = -1;
  if (port.empty()) {
    master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return 2;
    port = ::ptsname(master);
  }
  const HANDLE h = CreateFileA(port.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "cannot open %s\n", port.c_str());
    return 2;
  }
  COMMTIMEOUTS timeouts{250, 0, 1000, 0, 0};
  SetCommTimeouts(h, &timeouts);
  if (!StartComm(h, [](const BYTE*, DWORD) { return 1; })) return 2;
  // Let the threads settle into their waits before counting.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  tms before{}, after{};
  ::times(&before);
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  ::times(&after);
  const long ticks = static_cast<long>((after.tms_utime - before.tms_utime) +
                                       (after.tms_stime - before.tms_stime));
  std::printf("%s open and idle for %d s: %ld ticks of CPU (%ld a second)\n", port.c_str(), seconds,
              ticks, ::sysconf(_SC_CLK_TCK));
  StopComm(1);
  if (master >= 0) ::close(master);
  return 0;
}
