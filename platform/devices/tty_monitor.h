// Hot-plug notifications for tty devices: a pollable descriptor and a reader of one event.
//
// Listens to udev's processed events when a udev daemon runs, otherwise to the kernel's own
// device events (the same adds and removes, before any udev rule ran).
#pragma once

#include <memory>
#include <optional>
#include <string>

namespace qv::devices {

struct TtyEvent {
  enum class Action { kAdd, kRemove, kChange, kOther };
  Action action = Action::kOther;
  std::string name;     // device name (ttyUSB0)
  std::string syspath;  // /sys/devices/...
};

class TtyMonitor {
 public:
  // Nothing when the system refuses a device-event socket; errno tells why.
  static std::unique_ptr<TtyMonitor> Open();
  ~TtyMonitor();
  TtyMonitor(const TtyMonitor&) = delete;
  TtyMonitor& operator=(const TtyMonitor&) = delete;

  // Readable (poll POLLIN) when an event waits. Non-blocking; owned by the monitor.
  int fd() const;
  // Reads one pending event; nothing when none is waiting.
  std::optional<TtyEvent> ReadEvent();

 private:
  struct Handles;
  explicit TtyMonitor(std::unique_ptr<Handles> handles);
  std::unique_ptr<Handles> handles_;
};

}  // namespace qv::devices
