// A simulated device at the far end of a virtual port's line.
//
// The virtual line (platform/comm) paces the host's bytes at the configured rate and hands them to
// the device after they "crossed the wire"; what the device sends back enters the host's receive
// queue through the same pacing. Modem lines and break are wired through the calls below.
//
// Threading: the line calls a device from its own worker thread, never while holding its internal
// lock, one call at a time. A device may call back into its LineEnd from inside those calls and
// from its own threads (a delayed answer); LineEnd is thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qv::sim {

// The device's side of the wire, implemented by the virtual line.
class LineEnd {
 public:
  virtual ~LineEnd() = default;
  // Bytes the device transmits to the host.
  virtual void SendToHost(const std::uint8_t* data, std::size_t count) = 0;
  // The device's output lines as the host sees them (CTS, DSR, DCD/RLSD, RING).
  virtual void SetDeviceLines(bool cts, bool dsr, bool dcd, bool ring) = 0;
};

// The line settings the host applied, for devices that care (a real phone answers only at its rate).
struct LineSettings {
  std::uint32_t baudRate = 9600;
  std::uint8_t dataBits = 8;
  std::uint8_t parity = 0;    // NOPARITY ... SPACEPARITY
  std::uint8_t stopBits = 0;  // ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS
};

// How the device describes itself in COMMCONFIG / COMMPROP provider data.
struct DeviceDescription {
  std::uint32_t providerSubType = 1;  // PST_RS232; PST_MODEM (6) for a phone
  // For PST_MODEM: the manufacturer, model and version texts of MODEMDEVCAPS, and the
  // device-specific text that MODEMSETTINGS and MODEMDEVCAPS carry.
  std::string manufacturer;
  std::string model;
  std::string version;
  std::string devSpecific;
  std::uint32_t maxDteRate = 0;
  std::uint32_t maxDceRate = 0;
};

class Device {
 public:
  virtual ~Device() = default;

  // Connects the device to a line (null disconnects: the port was unplugged or destroyed).
  virtual void Attach(LineEnd* line) = 0;
  // Bytes the host transmitted, as they arrive at the device.
  virtual void OnHostBytes(const std::uint8_t* data, std::size_t count) = 0;
  // The host's output lines changed (or the port was opened: called once with the current state).
  virtual void OnHostLines(bool dtr, bool rts) = 0;
  // The host started or ended a break.
  virtual void OnBreak(bool on) = 0;
  virtual void OnLineSettings(const LineSettings& settings) { (void)settings; }
  // The port was opened (true) or closed (false) by the host.
  virtual void OnHostOpen(bool open) { (void)open; }

  virtual DeviceDescription Describe() const = 0;
};

}  // namespace qv::sim
