// The two sides of a port: the driver core (requests, timeouts, queues, events) and a line backend
// (a real tty, or a simulated wire with a device at its far end).
//
// Locking: the core has one lock; a backend has its own. The core may call a backend while holding
// its lock; a backend never calls the core while holding its own lock. So the order is always
// core, then backend, and the two cannot deadlock.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "platform/comm/comm_api.h"
#include "sim/device.h"

namespace qv::comm {

using Clock = std::chrono::steady_clock;

// What a line can do, for COMMPROP and for the calls that need the feature.
struct LineCaps {
  bool modemLines = true;    // DTR/RTS out, CTS/DSR/RING/DCD in, break
  bool coreCtsFlow = false;  // the line holds output itself on CTS (the core only reports it)
  sim::DeviceDescription description;
};

// Output holds that only the line knows about (for COMSTAT).
struct LineHolds {
  bool cts = false;
  bool xoff = false;
  bool xoffSent = false;
};

// Ways a driver can break its contract, switched on by tests of the program's driver tests (only
// virtual lines have them). Read by the core under its lock, so a line keeps them lock-free.
struct LineFaults {
  bool ignoreReadTimeouts = false;   // a read ends only when its count arrived
  bool neverCompleteWrites = false;  // written bytes never leave; write timeouts do not end them
  bool refusePurge = false;          // PurgeComm changes nothing ...
  DWORD purgeError = 0;              // ... and reports this error (0: claims success)
};

// What the core wants from the backend's service thread on its next round.
struct ServiceState {
  Clock::time_point deadline = Clock::time_point::max();  // earliest timer of a request
  bool wantTx = false;     // output is waiting (a direct-I/O line should wait until writable)
  bool wantRx = true;      // the core takes input (false while input flow control holds it)
  bool wantModem = false;  // something depends on the modem status: keep it fresh
};

// The driver core as a line backend sees it. Every call takes the core's lock.
class LineHost {
 public:
  virtual ~LineHost() = default;
  // Paced lines: how many bytes are ready for the wire, and taking them (completes the writes
  // whose last byte is taken). Both honour the holds the core applies (DSR flow, SETXOFF).
  virtual std::size_t TxReady() = 0;
  virtual std::size_t TakeTx(std::uint8_t* out, std::size_t max) = 0;
  // Direct-I/O lines: the line became writable / readable; the core calls WriteSome/ReadSome.
  virtual void TransmitReady() = 0;
  virtual void ReceiveReady() = 0;
  // Paced lines: bytes that arrived from the far end.
  virtual void Receive(const std::uint8_t* data, std::size_t count) = 0;
  virtual void LineErrors(DWORD ceBits) = 0;
  virtual void BreakReceived() = 0;
  virtual void ModemStatusChanged(DWORD status) = 0;
  // The device went away (tty hang-up, virtual unplug): pending requests fail with `error`.
  virtual void Hangup(DWORD error) = 0;
  // Expires request timers; called on every round of the service thread.
  virtual ServiceState Service(Clock::time_point now) = 0;
};

class Line {
 public:
  virtual ~Line() = default;

  // Applies the settings and starts the service thread. Called once per open.
  virtual DWORD Start(LineHost* host, const DCB& dcb, bool dtr, bool rts) = 0;
  // Ends the service thread; no host call happens after it returns. Drops DTR and RTS.
  virtual void Stop() = 0;

  // Applies what the line can express (rate, framing, flow control). On success *acceptedBaud is
  // the rate the line really runs at; ERROR_INVALID_PARAMETER when it refuses the rate.
  virtual DWORD Configure(const DCB& dcb, DWORD* acceptedBaud) = 0;
  virtual DWORD SetOutputLines(bool dtr, bool rts) = 0;
  virtual DWORD SetBreak(bool on) = 0;
  virtual DWORD GetModemStatus(DWORD* status) = 0;
  virtual LineHolds Holds() { return {}; }
  virtual LineFaults Faults() const { return {}; }
  // Input flow control asks the far end to stop (XOFF) or go on (XON).
  virtual void SendFlowChar(char) {}
  // SETXON: releases an output hold that an XOFF from the far end caused.
  virtual void ResumeOutput() {}

  virtual void PurgeOutput() {}
  virtual void PurgeInput() {}
  // Bytes handed to the line that it has not sent yet / received that the core has not taken.
  virtual DWORD OutputBacklog() { return 0; }
  virtual DWORD InputBacklog() { return 0; }
  // Line errors counted since the last call (CE_ bits), for lines that count them.
  virtual DWORD TakeLineErrors() { return 0; }
  // Whether TakeLineErrors can ever report anything.
  virtual bool CountsLineErrors() const { return false; }

  // Direct I/O (non-blocking). Bytes written/read, 0 when the line would block, -errno on failure.
  virtual bool DirectIo() const { return false; }
  virtual long WriteSome(const std::uint8_t*, std::size_t) { return 0; }
  virtual long ReadSome(std::uint8_t*, std::size_t) { return 0; }

  // Wakes the service thread: output or a hold changed.
  virtual void Kick() = 0;
  // The earliest request timer changed (max: none). Called under the core's lock, so the last
  // call always carries the current deadline. A line that can arm a timer without waking its
  // thread does so; the others wake it.
  virtual void ArmDeadline(Clock::time_point) { Kick(); }
  virtual LineCaps Caps() const = 0;
};

}  // namespace qv::comm
