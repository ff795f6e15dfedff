// One event of a capture: what happened on the line, when, and its bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qv::capture {

enum class Kind : std::uint8_t {
  kRx,         // bytes received
  kTx,         // bytes written, with who asked for them in the detail
  kModem,      // a change of the modem status lines: "CTS=1 DSR=1 RING=0 DCD=0"
  kLineError,  // the driver's error word: "CE_FRAME CE_OVERRUN"
  kBreak,      // a break received
  kConfig,     // the line's settings changed: "115200 8N1 flow=none"
  kOpen,       // the port opened: its name
  kClose,      // the port closed
  kArrival,    // plug and play: the port appeared
  kRemoval,    // plug and play: the port went away
  kVerdict,    // a driver test's verdict: "echo PASS"
  kDropped,    // the writer fell behind and dropped events: "N events M bytes"
  kStop,       // the capture ended cleanly
};

struct Event {
  std::uint64_t micros = 0;  // since the capture started, monotonic
  Kind kind = Kind::kRx;
  std::string detail;
  std::vector<std::uint8_t> bytes;
};

// "RX", "TX", "MODEM", ...; the names the file holds.
const char* KindName(Kind kind);
// False for a name the format does not know.
bool KindFromName(std::string_view name, Kind* kind);

}  // namespace qv::capture
