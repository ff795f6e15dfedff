#include "platform/devices/device_monitor.h"

#include <libudev.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qv::devices {
namespace {

std::string Text(const char* s) { return s ? std::string(s) : std::string(); }

// The serial core's own port and controller layers ("port", "ctrl") name no publisher.
std::string NearestDriver(udev_device* dev) {
  for (udev_device* p = dev; p; p = udev_device_get_parent(p)) {
    const char* driver = udev_device_get_driver(p);
    const char* subsystem = udev_device_get_subsystem(p);
    if (subsystem && std::strcmp(subsystem, "serial-base") == 0) continue;
    if (driver && *driver) return driver;
  }
  return {};
}

}  // namespace

struct DeviceMonitor::Handles {
  udev* context = nullptr;
  udev_monitor* monitor = nullptr;
  ~Handles() {
    if (monitor) udev_monitor_unref(monitor);
    if (context) udev_unref(context);
  }
};

std::unique_ptr<DeviceMonitor> DeviceMonitor::Open() {
  auto handles = std::make_unique<Handles>();
  handles->context = udev_new();
  if (!handles->context) return nullptr;
  // Without a running udev daemon nobody re-broadcasts events on udev's group, and libudev
  // would hand back a monitor that never fires: take the kernel's events instead.
  const char* group = access("/run/udev/control", F_OK) == 0 ? "udev" : "kernel";
  handles->monitor = udev_monitor_new_from_netlink(handles->context, group);
  if (!handles->monitor) return nullptr;
  const int rc = udev_monitor_enable_receiving(handles->monitor);
  if (rc < 0) {
    errno = -rc;
    return nullptr;
  }
  return std::unique_ptr<DeviceMonitor>(new DeviceMonitor(std::move(handles)));
}

DeviceMonitor::DeviceMonitor(std::unique_ptr<Handles> handles) : handles_(std::move(handles)) {}

DeviceMonitor::~DeviceMonitor() = default;

int DeviceMonitor::fd() const { return udev_monitor_get_fd(handles_->monitor); }

std::optional<DeviceEvent> DeviceMonitor::ReadEvent() {
  udev_device* dev = udev_monitor_receive_device(handles_->monitor);
  if (!dev) return std::nullopt;
  DeviceEvent event;
  const std::string action = Text(udev_device_get_action(dev));
  if (action == "add") {
    event.action = DeviceEvent::Action::kAdd;
    event.driver = NearestDriver(dev);
  } else if (action == "remove") {
    event.action = DeviceEvent::Action::kRemove;
  }
  event.subsystem = Text(udev_device_get_subsystem(dev));
  event.devtype = Text(udev_device_get_devtype(dev));
  event.name = Text(udev_device_get_sysname(dev));
  event.syspath = Text(udev_device_get_syspath(dev));
  udev_device_unref(dev);
  return event;
}

}  // namespace qv::devices
