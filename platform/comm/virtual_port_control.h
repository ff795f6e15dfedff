// Controls for the virtual ports, for tests (and the panels' tests): what the far end's lines do,
// injected line errors, which baud rates the simulated driver accepts, a port that refuses or
// delays opening, a device that answers late, plug and unplug.
//
// Ports are named as they are opened ("vloop0"). Every call returns false for an unknown name.
// Settings stay until ResetVirtualPort (a test that changes one resets it when done).
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/types.h"
#include "sim/device.h"

namespace qv::comm {

// The far end's output lines. A set value overrides what the device says; nullopt lets the
// device decide again.
struct FarEndLines {
  std::optional<bool> cts;
  std::optional<bool> dsr;
  std::optional<bool> dcd;
  std::optional<bool> ring;
};

// The rates the simulated driver keeps, for SetCommState and for the port's default
// configuration alike.
struct BaudPolicy {
  enum Kind {
    kAll,      // any rate from lowest to highest; others are refused
    kList,     // only the rates listed; others are refused (SetCommState fails with 87)
    kNearest,  // any rate, replaced by the nearest listed one (the read-back differs)
  };
  Kind kind = kAll;
  std::vector<DWORD> rates;
  // kAll only: the range taken (by default every rate from 1 bps on).
  DWORD lowest = 1;
  DWORD highest = MAXDWORD;
};

struct VirtualPortInfo {
  std::string name;
  std::string source;  // "virtual loop-back plug"
  bool plugged = true;
  bool open = false;
};

// In registration order.
std::vector<VirtualPortInfo> ListVirtualPorts();

bool SetFarEndLines(const std::string& port, const FarEndLines& lines);
// Bits the simulated driver adds to every modem-status word it reports, as a driver that leaves
// garbage in the word does (e.g. 0x100, outside the four MS_ lines); 0 ends it. They change
// nothing else on the line.
bool SetModemStatusExtraBits(const std::string& port, DWORD bits);
// Records line errors (CE_FRAME, CE_OVERRUN, CE_RXPARITY, CE_RXOVER) as if the UART had seen
// them; only while the port is open.
bool InjectLineErrors(const std::string& port, DWORD ceBits);
// The far end sends a break; only while the port is open.
bool InjectBreak(const std::string& port);
// Bytes that arrive as if the device had sent them (paced like the device's own).
bool InjectFromFarEnd(const std::string& port, const void* data, std::size_t count);
bool SetBaudPolicy(const std::string& port, const BaudPolicy& policy);
// Opening fails with refuseError (0: opens), after waiting delayMs.
bool SetOpenBehaviour(const std::string& port, DWORD refuseError, DWORD delayMs);
// Everything the device sends starts this much later.
bool SetResponseDelay(const std::string& port, DWORD milliseconds);
// Unplugging fails the open handle's pending and later requests (ERROR_GEN_FAILURE) and makes
// new opens fail with ERROR_FILE_NOT_FOUND until the port is plugged again.
bool PlugVirtualPort(const std::string& port);
bool UnplugVirtualPort(const std::string& port);
// The far end corrupts one byte of what it sends back: the byte at `position` (0-based) of the
// bytes it sends to the host from this call on has its bits inverted, once. Counted only while
// the port is open.
bool AlterFarEndByte(const std::string& port, std::size_t position);
// The same count, other damage: the far end drops that byte, or sends it twice.
enum class FarEndByteFault { kAlter, kDrop, kDuplicate };
bool SetFarEndByteFault(const std::string& port, FarEndByteFault fault, std::size_t position);
// A driver that breaks its contract, so that the driver tests' failure verdicts can be seen:
// reads that ignore their timeouts, writes that never complete (purge, cancel and close still end
// them), a purge that does nothing (and reports purgeError, or success when it is 0), opens that
// fail now and then. Takes effect at once for the open handle; requests already timed keep their
// timers.
struct DriverFaults {
  bool ignoreReadTimeouts = false;
  bool neverCompleteWrites = false;
  bool refusePurge = false;
  DWORD purgeError = 0;
  // Every Nth open from the call on is refused with ERROR_ACCESS_DENIED, as a port that another
  // program holds for a moment is (0: none).
  DWORD refuseEveryNthOpen = 0;
};
bool SetDriverFaults(const std::string& port, const DriverFaults& faults);

// Back to: plugged, every rate, no overrides or extra status bits, no refusal or delay, no
// driver faults.
bool ResetVirtualPort(const std::string& port);

// Called (outside any lock) when a virtual port is plugged (true) or unplugged (false).
using HotPlugHook = std::function<void(const std::string& port, bool arrived)>;
void SetHotPlugHook(HotPlugHook hook);

// Extra ports for tests with a device of their own. False when the name is taken.
bool AddVirtualPort(const std::string& name, const std::string& source,
                    std::function<std::unique_ptr<sim::Device>()> makeDevice);
bool RemoveVirtualPort(const std::string& name);

}  // namespace qv::comm
