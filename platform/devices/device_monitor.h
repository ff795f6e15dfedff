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

// What the device watch reads events from: the system's monitor, or a test's stand-in.
class DeviceEventSource {
 public:
  virtual ~DeviceEventSource() = default;
  // Readable (poll POLLIN) when an event waits; an error or hang-up on it means that no more
  // will come from this source.
  virtual int fd() const = 0;
  // Reads one pending event; nothing when none is waiting.
  virtual std::optional<DeviceEvent> ReadEvent() = 0;
};

class DeviceMonitor : public DeviceEventSource {
 public:
  // Nothing when the system refuses a device-event socket; errno tells why.
  static std::unique_ptr<DeviceMonitor> Open();
  ~DeviceMonitor() override;
  DeviceMonitor(const DeviceMonitor&) = delete;
  DeviceMonitor& operator=(const DeviceMonitor&) = delete;

  // Non-blocking; owned by the monitor.
  int fd() const override;
  std::optional<DeviceEvent> ReadEvent() override;

 private:
  struct Handles;
  explicit DeviceMonitor(std::unique_ptr<Handles> handles);
  std::unique_ptr<Handles> handles_;
};

}  // namespace qv::devices
