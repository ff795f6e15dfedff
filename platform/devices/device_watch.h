// Device-change notifications for the program's windows.
//
// A listener is what a top-level window is on Win32: it hears port arrivals and removals and
// device-node changes without asking; RegisterDeviceNotificationA adds the device interface
// events (of one class, or of all). The system's events come from a device monitor (the udev
// daemon's events where one runs, else the kernel's), the virtual ports' from their plug hook;
// both are turned into the records that the window reads.
//
// Delivery: the listener's post function is called on the watch's own thread (or on the thread
// that plugged a virtual port) and must only queue the notification for its window's thread,
// never block and never call back into the watch. No post runs once the listener is destroyed.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/devices/device_broadcast.h"
#include "platform/devices/device_monitor.h"

namespace qv::devices {

using DeviceChangePost = std::function<void(const DeviceChange& change)>;

class DeviceChangeListener {
 public:
  explicit DeviceChangeListener(DeviceChangePost post);
  ~DeviceChangeListener();
  DeviceChangeListener(const DeviceChangeListener&) = delete;
  DeviceChangeListener& operator=(const DeviceChangeListener&) = delete;

  void Post(const DeviceChange& change) const { post_(change); }

 private:
  DeviceChangePost post_;
};

// Turns the system's device events into notifications. Ports are the ttys that port discovery
// lists; the watch remembers each one's interface class from its arrival (or from the start),
// because a removed device can no longer be asked for its driver.
class DeviceEventTranslator {
 public:
  // isPort: whether a tty of that name is a port, by the rule of port discovery.
  explicit DeviceEventTranslator(std::function<bool(const std::string& name)> isPort);
  // A port present at the start, with its driver.
  void AddKnownPort(const std::string& name, const std::string& driver);
  // The notifications of one event, in the order a window receives them. The one device-node
  // change that follows every add or remove is the caller's to send, once per burst of events.
  std::vector<DeviceChange> Translate(const DeviceEvent& event);

 private:
  std::function<bool(const std::string&)> isPort_;
  std::map<std::string, GUID> ports_;
};

// The interface class of a port published by `driver` under `name`: a CDC-ACM modem, a
// Bluetooth RFCOMM link, or a plain serial port.
GUID PortInterfaceClass(const std::string& name, const std::string& driver);

// The notifications of a virtual port plugged (arrived) or unplugged.
std::vector<DeviceChange> VirtualPlugChanges(const std::string& name, bool arrived);

// When the source of the system's events fails (an error or hang-up on its socket), the watch
// traces it and opens a new one after a wait: the first one this long, doubled after each
// failed attempt up to the longest, and back to the first once a new source has delivered.
inline constexpr int kWatchRestartFirstMs = 100;
inline constexpr int kWatchRestartLongestMs = 5000;

// Opens the source of the system's events; nothing, with errno set, when there is none.
using DeviceEventSourceOpener = std::function<std::unique_ptr<DeviceEventSource>()>;
// Tests: watches open their sources with `opener` from now on, the first and each new one after
// a failure; an empty opener gives back the system's monitor.
void UseDeviceEventSourceForTests(DeviceEventSourceOpener opener);

}  // namespace qv::devices

// recipient: the listener of the window that asks; filter: a DEV_BROADCAST_DEVICEINTERFACE_A
// whose dbcc_classguid is the class wanted (all classes with DEVICE_NOTIFY_ALL_INTERFACE_CLASSES).
// Null, with the last error set, when the filter is not such a record.
HDEVNOTIFY RegisterDeviceNotificationA(qv::devices::DeviceChangeListener* recipient,
                                       const void* filter, DWORD flags);
BOOL UnregisterDeviceNotification(HDEVNOTIFY handle);
