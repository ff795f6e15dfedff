// The calls a posix line makes on its tty, behind one interface: the kernel's own (KernelTty), or
// a stand-in that a test puts in front of a pseudo-terminal to get what only real serial hardware
// has (an output queue that drains at the line's rate, CTS that holds it).
#pragma once

#include <poll.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/comm/posix_termios.h"

namespace qv::comm {

class Tty {
 public:
  virtual ~Tty() = default;
  // The descriptor the line's service thread waits on (in Poll).
  virtual int fd() const = 0;
  // As write(2), read(2), ioctl(2) and poll(2): -1 with errno on failure.
  virtual ssize_t Write(const void* data, std::size_t count) = 0;
  virtual ssize_t Read(void* data, std::size_t count) = 0;
  virtual int Ioctl(unsigned long request, void* arg) = 0;
  virtual int Poll(pollfd* fds, nfds_t count, int timeoutMs) = 0;
  // As the functions of posix_termios.h: 0 or errno.
  virtual int Configure(const TtySettings& settings, std::uint32_t* actualBaud,
                        TtyKernelCopy* last) = 0;
  virtual int FlushInput() = 0;
  virtual int FlushOutput() = 0;
  virtual int RestartOutput() = 0;
};

// The kernel's tty behind an open descriptor, which it closes.
std::unique_ptr<Tty> KernelTty(int fd);

// For tests: the tty opened at `path` is used through what `wrap` makes of the kernel's (an
// empty function removes the wrapper). Taken at each open of the path.
using TtyWrapper = std::function<std::unique_ptr<Tty>(std::unique_ptr<Tty> kernel)>;
void SetTtyWrapper(const std::string& path, TtyWrapper wrap);
// The kernel's tty at fd, or the wrapper's for that path.
std::unique_ptr<Tty> OpenTty(const std::string& path, int fd);

}  // namespace qv::comm
