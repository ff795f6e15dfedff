#include "platform/devices/device_watch.h"

#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/comm/port_names.h"
#include "platform/comm/virtual_port_control.h"
#include "platform/devices/port_source.h"
#include "platform/sync/debug_output.h"
#include "platform/sync/last_error.h"

namespace qv::devices {
namespace {

DeviceChange Change(UINT code, BroadcastRecord record = {}) { return {code, std::move(record)}; }

// A virtual port opens by its own name; that is its interface's path.
std::string VirtualPortPath(const std::string& name) { return qv::comm::kDevicePrefix + name; }

struct Registration {
  DeviceChangeListener* listener;
  GUID classGuid;
  bool allClasses;
};

// One watch for the process: its thread runs while at least one listener exists. `lifeLock`
// orders starting and stopping (held while the thread is joined); `dispatchLock` guards the
// listeners and registrations and is held while posting, so that a listener that has gone
// away is never posted to. The watch's thread takes only the dispatch lock.
struct Watch {
  std::mutex lifeLock;
  std::mutex dispatchLock;
  std::vector<DeviceChangeListener*> listeners;
  std::map<HDEVNOTIFY, Registration> registrations;
  std::uintptr_t nextHandle = 1;
  std::thread thread;
  int stopFd = -1;
};

Watch& TheWatch() {
  static auto* watch = new Watch;  // lives until exit: a plug hook may still run late
  return *watch;
}

bool Wants(const Watch& w, const DeviceChangeListener* listener, const DeviceChange& change) {
  const DEV_BROADCAST_HDR* header = change.record.Header();
  if (!header || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) return true;
  const GUID& cls =
      reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(header)->dbcc_classguid;
  for (const auto& [handle, r] : w.registrations) {
    if (r.listener == listener && (r.allClasses || r.classGuid == cls)) return true;
  }
  return false;
}

void Dispatch(const std::vector<DeviceChange>& changes) {
  Watch& w = TheWatch();
  std::lock_guard guard(w.dispatchLock);
  for (const DeviceChange& change : changes) {
    for (DeviceChangeListener* listener : w.listeners) {
      if (Wants(w, listener, change)) listener->Post(change);
    }
  }
}

std::string TtyDriver(udev* context, const std::string& name) {
  udev_device* dev = udev_device_new_from_subsystem_sysname(context, "tty", name.c_str());
  std::string driver;
  for (udev_device* p = dev ? udev_device_get_parent(dev) : nullptr; p && driver.empty();
       p = udev_device_get_parent(p)) {
    const char* subsystem = udev_device_get_subsystem(p);
    if (subsystem && std::strcmp(subsystem, "serial-base") == 0) continue;
    if (const char* d = udev_device_get_driver(p)) driver = d;
  }
  if (dev) udev_device_unref(dev);
  return driver;
}

bool IsListedPort(const std::string& name) {
  for (const PortEntry& entry : CurrentPortSource().Ports()) {
    if (entry.name == name) return true;
  }
  return false;
}

std::mutex& OpenerLock() {
  static std::mutex m;
  return m;
}
DeviceEventSourceOpener& TestOpener() {
  static DeviceEventSourceOpener opener;
  return opener;
}

// The source of the system's events, with the ports present at its start known to the
// translator; nothing, with errno set, when the system refuses one.
std::unique_ptr<DeviceEventSource> OpenSource(DeviceEventTranslator& translator) {
  DeviceEventSourceOpener opener;
  {
    std::lock_guard guard(OpenerLock());
    opener = TestOpener();
  }
  std::unique_ptr<DeviceEventSource> source;
  if (opener) {
    source = opener();
  } else {
    source = DeviceMonitor::Open();
  }
  if (!source) return nullptr;
  // After the source exists, so that a port that comes meanwhile is not missed.
  if (udev* context = udev_new()) {
    for (const PortEntry& entry : CurrentPortSource().Ports())
      translator.AddKnownPort(entry.name, TtyDriver(context, entry.name));
    udev_unref(context);
  }
  return source;
}

// Why a source's descriptor reported no event: the socket's pending error where it has one.
std::string SourceFailure(int fd, short revents) {
  int error = 0;
  socklen_t size = sizeof error;
  if ((revents & POLLERR) && getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error)
    return std::strerror(error);
  if (revents & POLLNVAL) return "descriptor not open";
  if (revents & POLLHUP) return "hung up";
  return "error";
}

void Trace(const std::string& text) {
  OutputDebugStringA(("Device watch: " + text + "\n").c_str());
}

// Waits up to ms for the stop request; true when it came (or the wait itself failed, so that
// the thread never spins).
bool StopAsked(int stopFd, int ms) {
  pollfd fd{stopFd, POLLIN, 0};
  int n;
  do {
    n = poll(&fd, 1, ms);
  } while (n < 0 && errno == EINTR);
  return n != 0;
}

void RunWatch(int stopFd) {
  DeviceEventTranslator translator(IsListedPort);
  auto source = OpenSource(translator);
  if (!source) {
    // The virtual ports still report their plugs; the system's devices go unnoticed.
    Trace("no device events (" + std::string(std::strerror(errno)) +
          "); only the virtual ports are followed");
  }
  int restartMs = kWatchRestartFirstMs;
  for (;;) {
    pollfd fds[2] = {{stopFd, POLLIN, 0}, {source ? source->fd() : -1, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      Trace("waiting for device events failed (" + std::string(std::strerror(errno)) + ")");
      if (StopAsked(stopFd, restartMs)) return;
      continue;
    }
    if (fds[0].revents) return;
    if (fds[1].revents & POLLIN) {
      // Everything that waits is one burst; the burst changes the device nodes once.
      std::vector<DeviceChange> changes;
      bool nodesChanged = false;
      while (auto event = source->ReadEvent()) {
        if (event->action != DeviceEvent::Action::kOther) nodesChanged = true;
        for (DeviceChange& c : translator.Translate(*event)) changes.push_back(std::move(c));
      }
      if (nodesChanged) changes.push_back(Change(DBT_DEVNODES_CHANGED));
      Dispatch(changes);
      restartMs = kWatchRestartFirstMs;
      continue;
    }
    if (!fds[1].revents) continue;
    // The source failed: nothing more would come from it. Hot plug (and whoever rescans on it)
    // would stop without a word; a new source is opened instead, after a wait that grows while
    // opening fails, and the stop request is heard throughout.
    Trace("the device event socket failed (" + SourceFailure(fds[1].fd, fds[1].revents) +
          "); listening again in " + std::to_string(restartMs) + " ms");
    source.reset();
    while (!source) {
      if (StopAsked(stopFd, restartMs)) return;
      const int waited = restartMs;
      restartMs = std::min(2 * restartMs, kWatchRestartLongestMs);
      source = OpenSource(translator);
      // Traced until the wait is at its longest, not every few seconds from then on.
      if (!source && waited < kWatchRestartLongestMs) {
        Trace("no device events (" + std::string(std::strerror(errno)) + "); trying again in " +
              std::to_string(restartMs) + " ms");
      }
    }
    Trace("listening to device events again");
  }
}

void StartWatch(Watch& w) {
  w.stopFd = eventfd(0, EFD_CLOEXEC);
  if (w.stopFd < 0) {
    OutputDebugStringA("Device watch: no stop descriptor; the system's devices go unnoticed\n");
  } else {
    w.thread = std::thread(RunWatch, w.stopFd);
  }
  qv::comm::SetHotPlugHook(
      [](const std::string& name, bool arrived) { Dispatch(VirtualPlugChanges(name, arrived)); });
}

void StopWatch(Watch& w) {
  qv::comm::SetHotPlugHook(nullptr);
  if (w.thread.joinable()) {
    const std::uint64_t one = 1;
    (void)!write(w.stopFd, &one, sizeof one);
    w.thread.join();
  }
  if (w.stopFd >= 0) close(w.stopFd);
  w.stopFd = -1;
}

}  // namespace

DeviceChangeListener::DeviceChangeListener(DeviceChangePost post) : post_(std::move(post)) {
  Watch& w = TheWatch();
  std::lock_guard life(w.lifeLock);
  bool first;
  {
    std::lock_guard guard(w.dispatchLock);
    first = w.listeners.empty();
    w.listeners.push_back(this);
  }
  if (first) StartWatch(w);
}

DeviceChangeListener::~DeviceChangeListener() {
  Watch& w = TheWatch();
  std::lock_guard life(w.lifeLock);
  bool last;
  {
    std::lock_guard guard(w.dispatchLock);
    std::erase(w.listeners, this);
    std::erase_if(w.registrations, [this](const auto& r) { return r.second.listener == this; });
    last = w.listeners.empty();
  }
  if (last) StopWatch(w);
}

GUID PortInterfaceClass(const std::string& name, const std::string& driver) {
  if (driver == "cdc_acm") return ModemClassGuid;
  if (name.rfind("rfcomm", 0) == 0) return BlueToothClassGuid;
  return GUID_CLASS_COMPORT;
}

DeviceEventTranslator::DeviceEventTranslator(std::function<bool(const std::string&)> isPort)
    : isPort_(std::move(isPort)) {}

void DeviceEventTranslator::AddKnownPort(const std::string& name, const std::string& driver) {
  ports_[name] = PortInterfaceClass(name, driver);
}

std::vector<DeviceChange> DeviceEventTranslator::Translate(const DeviceEvent& event) {
  std::vector<DeviceChange> out;
  const bool add = event.action == DeviceEvent::Action::kAdd;
  const bool remove = event.action == DeviceEvent::Action::kRemove;
  if (!add && !remove) return out;
  if (event.subsystem == "usb" && event.devtype == "usb_device") {
    out.push_back(Change(add ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE,
                         BroadcastRecord::Interface(GUID_CLASS_USB_DEVICE, event.syspath)));
  } else if (event.subsystem == "tty" && add) {
    if (!isPort_(event.name)) return out;
    const GUID cls = PortInterfaceClass(event.name, event.driver);
    ports_[event.name] = cls;
    out.push_back(Change(DBT_DEVICEARRIVAL, BroadcastRecord::Interface(cls, event.syspath)));
    out.push_back(Change(DBT_DEVICEARRIVAL, BroadcastRecord::Port(event.name)));
  } else if (event.subsystem == "tty") {
    const auto it = ports_.find(event.name);
    if (it == ports_.end()) return out;
    out.push_back(Change(DBT_DEVICEREMOVECOMPLETE, BroadcastRecord::Port(event.name)));
    out.push_back(
        Change(DBT_DEVICEREMOVECOMPLETE, BroadcastRecord::Interface(it->second, event.syspath)));
    ports_.erase(it);
  }
  return out;
}

std::vector<DeviceChange> VirtualPlugChanges(const std::string& name, bool arrived) {
  const BroadcastRecord port = BroadcastRecord::Port(name);
  const BroadcastRecord iface =
      BroadcastRecord::Interface(GUID_CLASS_COMPORT, VirtualPortPath(name));
  if (arrived) {
    return {Change(DBT_DEVICEARRIVAL, iface), Change(DBT_DEVICEARRIVAL, port),
            Change(DBT_DEVNODES_CHANGED)};
  }
  return {Change(DBT_DEVICEREMOVECOMPLETE, port), Change(DBT_DEVICEREMOVECOMPLETE, iface),
          Change(DBT_DEVNODES_CHANGED)};
}

}  // namespace qv::devices

using namespace qv::devices;

HDEVNOTIFY RegisterDeviceNotificationA(DeviceChangeListener* recipient, const void* filter,
                                       DWORD flags) {
  const auto* record = static_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(filter);
  if (!recipient || !record || record->dbcc_size < sizeof(DEV_BROADCAST_DEVICEINTERFACE_A) ||
      record->dbcc_devicetype != DBT_DEVTYP_DEVICEINTERFACE) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  Watch& w = TheWatch();
  std::lock_guard guard(w.dispatchLock);
  if (std::find(w.listeners.begin(), w.listeners.end(), recipient) == w.listeners.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  const auto handle = reinterpret_cast<HDEVNOTIFY>(w.nextHandle++);
  w.registrations[handle] = {recipient, record->dbcc_classguid,
                             (flags & DEVICE_NOTIFY_ALL_INTERFACE_CLASSES) != 0};
  return handle;
}

BOOL UnregisterDeviceNotification(HDEVNOTIFY handle) {
  Watch& w = TheWatch();
  std::lock_guard guard(w.dispatchLock);
  if (w.registrations.erase(handle) == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

void qv::devices::UseDeviceEventSourceForTests(DeviceEventSourceOpener opener) {
  std::lock_guard guard(OpenerLock());
  TestOpener() = std::move(opener);
}
