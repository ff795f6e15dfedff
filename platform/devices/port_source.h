// Where port discovery gets its entries from.
//
// The program asks CurrentPortSource(); by default that is the system's source (the kernel's
// tty devices through udev, infrared ports and the always-present virtual ports). Tests install a
// FakePortSource with ScopedPortSource to feed chosen entries.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/devices/port_entry.h"

namespace qv::devices {

// The descriptions of the present devices, and how the enumeration ended.
struct DeviceList {
  std::vector<std::string> descriptions;
  // 0 when every device was visited; otherwise the errno value of the failure that stopped
  // the enumeration (the descriptions read until then are kept).
  int error = 0;
};

class PortSource {
 public:
  virtual ~PortSource() = default;
  // Every port present now, in no particular order; entries may repeat.
  virtual std::vector<PortEntry> Ports() = 0;
  // The description of every present device of any kind (not only ports), one per device, empty
  // for a device the system has no name for.
  virtual DeviceList DeviceDescriptions() = 0;
};

// Returns the entries it was given.
class FakePortSource : public PortSource {
 public:
  FakePortSource() = default;
  explicit FakePortSource(std::vector<PortEntry> ports, DeviceList devices = {})
      : ports(std::move(ports)), devices(std::move(devices)) {}
  std::vector<PortEntry> Ports() override { return ports; }
  DeviceList DeviceDescriptions() override { return devices; }

  std::vector<PortEntry> ports;
  DeviceList devices;
};

// The source that this process uses: the installed one, else the system's.
PortSource& CurrentPortSource();

// Installs `source` for its lifetime and restores the previous one afterwards.
class ScopedPortSource {
 public:
  explicit ScopedPortSource(PortSource& source);
  ~ScopedPortSource();
  ScopedPortSource(const ScopedPortSource&) = delete;
  ScopedPortSource& operator=(const ScopedPortSource&) = delete;

 private:
  PortSource* previous_;
};

}  // namespace qv::devices
