// The system's ports: the kernel's tty devices that have a driver behind them (read from sysfs;
// no udev daemon is needed), infrared ports, and the virtual ports.
//
// Nothing here opens a device: everything is read from sysfs, the udev database and hardware
// database when they exist, and directory listings of /dev.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/devices/port_source.h"

namespace qv::devices {

// Where the tty scan reads: the sysfs mount and the folder of by-id links.
struct TtyScanRoots {
  std::string sys = "/sys";
  std::string byId = "/dev/serial/by-id";
};

// The tty devices with a driver behind them, read from sysfs (no udev daemon needed). Consoles,
// pseudo-terminals and serial ports that the kernel registered without finding a UART are left
// out. The source tells the ports apart: the nearest driver in the device's parent chain; for a
// USB device its vendor and product ids and product text ("0403:6001 FT232R USB UART"), then its
// /dev/serial/by-id name when there is one; for an rfcomm port the remote address and channel
// when the kernel gives them. The description is the USB product text (on the real /sys, else
// the model udev knows of).
std::vector<PortEntry> ScanTtyDevices(const TtyScanRoots& roots = {});

// The model udev knows of for a tty's device or its nearest parent that names one; empty when
// udev knows none. syspath is the tty's directory in /sys.
std::string UdevTtyModel(const std::string& syspath);

// Infrared serial ports: the /dev/ircomm* nodes in `devDir`, with the source "Infrared".
std::vector<PortEntry> ScanInfraredPorts(const std::string& devDir = "/dev");

// The always-present virtual ports, with their own source texts.
std::vector<PortEntry> VirtualPortEntries();

// Descriptions of every device udev knows of, in sysfs order: the model or product name from
// udev's database, the hardware database or sysfs; for a device without one, what it is: its
// subsystem, name and driver ("pci device 0000:00:1f.3, driver snd_hda_intel"), never an
// empty line.
DeviceList ScanDeviceDescriptions();

// The symbolic links of `dir` that point at device nodes: node name (ttyUSB0) -> link name.
std::map<std::string, std::string> ReadDeviceLinks(const std::string& dir);

// The non-empty parts joined with ", " ("ftdi_sio, 0403:6001 FT232R USB UART, usb-FTDI_..."),
// cut at the end to what a label of `name` has room for.
std::string TtySourceText(const std::string& name, const std::vector<std::string>& parts);

class SystemPortSource : public PortSource {
 public:
  std::vector<PortEntry> Ports() override;
  DeviceList DeviceDescriptions() override;
};

}  // namespace qv::devices
