#include "platform/comm/posix_termios.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>

#include <cerrno>
#include <cstring>

// <sys/ioctl.h> would pull in the libc termios definitions; the prototype is all that is needed.
extern "C" int ioctl(int fd, unsigned long request, ...);

namespace qv::comm {

static_assert(sizeof(struct termios2) <= sizeof(TtyKernelCopy::bytes), "TtyKernelCopy too small");

int TtyConfigure(int fd, const TtySettings& s, std::uint32_t* actualBaud, TtyKernelCopy* last) {
  struct termios2 t;
  if (last != nullptr && last->valid) {
    std::memcpy(&t, last->bytes, sizeof t);
    last->valid = false;  // until the kernel has reported the new settings
  } else if (ioctl(fd, TCGETS2, &t) != 0) {
    return errno;
  }
  // Raw: no input or output processing, no echo, no signals, no canonical lines.
  t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY |
                 IGNPAR | INPCK);
  t.c_oflag &= ~OPOST;
  t.c_lflag &= ~(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CBAUD | (CBAUD << IBSHIFT));
  t.c_cflag |= CREAD | CLOCAL | BOTHER | (BOTHER << IBSHIFT);
  switch (s.dataBits) {
    case 5: t.c_cflag |= CS5; break;
    case 6: t.c_cflag |= CS6; break;
    case 7: t.c_cflag |= CS7; break;
    default: t.c_cflag |= CS8; break;
  }
  switch (s.parity) {
    case 1: t.c_cflag |= PARENB | PARODD; break;
    case 2: t.c_cflag |= PARENB; break;
    case 3: t.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case 4: t.c_cflag |= PARENB | CMSPAR; break;
    default: break;
  }
  if (s.parity != 0) t.c_iflag |= INPCK;
  if (s.stopBits != 0) t.c_cflag |= CSTOPB;  // 1.5 stop bits run as 2
  if (s.rtsCts) t.c_cflag |= CRTSCTS;
  if (s.xonXoffOut) t.c_iflag |= IXON;
  if (s.xonXoffIn) t.c_iflag |= IXOFF;
  t.c_cc[VSTART] = s.xonChar;
  t.c_cc[VSTOP] = s.xoffChar;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  t.c_ospeed = s.baud;
  t.c_ispeed = s.baud;
  if (ioctl(fd, TCSETS2, &t) != 0) return errno;
  if (ioctl(fd, TCGETS2, &t) != 0) return errno;
  *actualBaud = t.c_ospeed;
  if (last != nullptr) {
    std::memcpy(last->bytes, &t, sizeof t);
    last->valid = true;
  }
  return 0;
}

int TtyFlushInput(int fd) { return ioctl(fd, TCFLSH, TCIFLUSH) == 0 ? 0 : errno; }
int TtyFlushOutput(int fd) { return ioctl(fd, TCFLSH, TCOFLUSH) == 0 ? 0 : errno; }
int TtyRestartOutput(int fd) {
  if (ioctl(fd, TCXONC, TCOON) != 0) return errno;
  struct termios2 t;
  if (ioctl(fd, TCGETS2, &t) != 0) return errno;
  if (!(t.c_iflag & IXON)) return 0;
  struct termios2 off = t;
  off.c_iflag &= ~IXON;
  if (ioctl(fd, TCSETS2, &off) != 0) return errno;
  return ioctl(fd, TCSETS2, &t) == 0 ? 0 : errno;
}

}  // namespace qv::comm
