// Line settings of a tty through termios2 (any integer rate with BOTHER). Kept apart from
// <termios.h>, whose definitions clash with the kernel's <asm/termbits.h>.
#pragma once

#include <cstdint>

namespace qv::comm {

struct TtySettings {
  std::uint32_t baud = 9600;
  int dataBits = 8;
  int parity = 0;    // NOPARITY, ODDPARITY, EVENPARITY, MARKPARITY, SPACEPARITY
  int stopBits = 0;  // ONESTOPBIT, ONE5STOPBITS (as 2), TWOSTOPBITS
  bool rtsCts = false;
  bool xonXoffOut = false;
  bool xonXoffIn = false;
  unsigned char xonChar = 0x11;
  unsigned char xoffChar = 0x13;

  bool operator==(const TtySettings&) const = default;
};

// The tty's settings as the kernel last reported them. A line keeps one between calls, so that a
// change of settings costs one set and one read-back instead of a read, a set and a read-back
// (what a baud-rate scan's millions of calls add up to). Valid only while every change of the
// tty's settings goes through TtyConfigure (or leaves them as they were).
struct TtyKernelCopy {
  bool valid = false;
  alignas(8) unsigned char bytes[64];
};

// Raw mode with these settings; *actualBaud is the rate the driver reports back. 0 or errno.
// last (may be null): the settings read back by the previous call, used and updated.
int TtyConfigure(int fd, const TtySettings& settings, std::uint32_t* actualBaud,
                 TtyKernelCopy* last = nullptr);

// tcflush / tcflow through the same headers: 0 or errno.
int TtyFlushInput(int fd);
int TtyFlushOutput(int fd);
// Restarts output that tcflow or an XOFF from the far end stopped (the kernel restarts an
// XOFF-stopped tty only when IXON is switched off, so it is switched off and on again).
int TtyRestartOutput(int fd);

}  // namespace qv::comm
