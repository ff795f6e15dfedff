// The system's ports: the kernel's tty devices that have a driver behind them (found with
// libudev from sysfs; no udev daemon is needed), infrared ports, and the virtual ports.
//
// Nothing here opens a device: everything is read from sysfs, the udev database and hardware
// database when they exist, and directory listings of /dev.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/devices/port_source.h"

namespace qv::devices {

// The tty devices with a driver behind them. Consoles, pseudo-terminals and serial ports that
// the kernel registered without finding a UART are left out. The source is the nearest driver
// in the device's parent chain, followed by the /dev/serial/by-id name of a USB device when there
// is one.
std::vector<PortEntry> ScanTtyDevices();

// Infrared serial ports: the /dev/ircomm* nodes in `devDir`, with the source "Infrared".
std::vector<PortEntry> ScanInfraredPorts(const std::string& devDir = "/dev");

// The always-present virtual ports, with their own source texts.
std::vector<PortEntry> VirtualPortEntries();

// Descriptions of every device udev knows of, in sysfs order.
DeviceList ScanDeviceDescriptions();

// The symbolic links of `dir` that point at device nodes: node name (ttyUSB0) -> link name.
std::map<std::string, std::string> ReadDeviceLinks(const std::string& dir);

// "driver" or "driver, by-id name", cut to what a label of `name` has room for.
std::string TtySourceText(const std::string& name, const std::string& driver,
                          const std::string& byId);

class SystemPortSource : public PortSource {
 public:
  std::vector<PortEntry> Ports() override;
  DeviceList DeviceDescriptions() override;
};

}  // namespace qv::devices
