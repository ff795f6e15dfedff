#include "platform/devices/tty_monitor.h"

#include <libudev.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qv::devices {

struct TtyMonitor::Handles {
  udev* context = nullptr;
  udev_monitor* monitor = nullptr;
  ~Handles() {
    if (monitor) udev_monitor_unref(monitor);
    if (context) udev_unref(context);
  }
};

std::unique_ptr<TtyMonitor> TtyMonitor::Open() {
  auto handles = std::make_unique<Handles>();
  handles->context = udev_new();
  if (!handles->context) return nullptr;
  // Without a running udev daemon nobody re-broadcasts events on udev's group, and libudev
  // would hand back a monitor that never fires: take the kernel's events instead.
  const char* group = access("/run/udev/control", F_OK) == 0 ? "udev" : "kernel";
  handles->monitor = udev_monitor_new_from_netlink(handles->context, group);
  if (!handles->monitor) return nullptr;
  int rc = udev_monitor_filter_add_match_subsystem_devtype(handles->monitor, "tty", nullptr);
  if (rc >= 0) rc = udev_monitor_enable_receiving(handles->monitor);
  if (rc < 0) {
    errno = -rc;
    return nullptr;
  }
  return std::unique_ptr<TtyMonitor>(new TtyMonitor(std::move(handles)));
}

TtyMonitor::TtyMonitor(std::unique_ptr<Handles> handles) : handles_(std::move(handles)) {}

TtyMonitor::~TtyMonitor() = default;

int TtyMonitor::fd() const { return udev_monitor_get_fd(handles_->monitor); }

std::optional<TtyEvent> TtyMonitor::ReadEvent() {
  udev_device* dev = udev_monitor_receive_device(handles_->monitor);
  if (!dev) return std::nullopt;
  TtyEvent event;
  const char* action = udev_device_get_action(dev);
  if (action && std::strcmp(action, "add") == 0) {
    event.action = TtyEvent::Action::kAdd;
  } else if (action && std::strcmp(action, "remove") == 0) {
    event.action = TtyEvent::Action::kRemove;
  } else if (action && std::strcmp(action, "change") == 0) {
    event.action = TtyEvent::Action::kChange;
  }
  if (const char* name = udev_device_get_sysname(dev)) event.name = name;
  if (const char* path = udev_device_get_syspath(dev)) event.syspath = path;
  udev_device_unref(dev);
  return event;
}

}  // namespace qv::devices
