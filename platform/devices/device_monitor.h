// Every device added to or removed from the system, as a pollable descriptor and a reader of one
// event at a time.
//
// Listens to the udev daemon's processed events when one runs, otherwise to the kernel's own
// device events (the same adds and removes, before any udev rule ran).
#pragma once

#include <memory>
#include <optional>
#include <string>

namespace qv::devices {

struct DeviceEvent {
  enum class Action { kAdd, kRemove, kOther };
  Action action = Action::kOther;
  std::string subsystem;  // "tty", "usb", "block", ...
  std::string devtype;    // "usb_device", "usb_interface", "disk", or empty
  std::string name;       // sysfs name (ttyACM0, 1-1.2)
  std::string syspath;    // /sys/devices/...
  // The nearest driver in the device's parent chain (cdc_acm, ftdi_sio); read from sysfs, so
  // empty for a removal, whose device is gone already.
  std::string driver;
};

class DeviceMonitor {
 public:
  // Nothing when the system refuses a device-event socket; errno tells why.
  static std::unique_ptr<DeviceMonitor> Open();
  ~DeviceMonitor();
  DeviceMonitor(const DeviceMonitor&) = delete;
  DeviceMonitor& operator=(const DeviceMonitor&) = delete;

  // Readable (poll POLLIN) when an event waits. Non-blocking; owned by the monitor.
  int fd() const;
  // Reads one pending event; nothing when none is waiting.
  std::optional<DeviceEvent> ReadEvent();

 private:
  struct Handles;
  explicit DeviceMonitor(std::unique_ptr<Handles> handles);
  std::unique_ptr<Handles> handles_;
};

}  // namespace qv::devices
