// The udev side of port discovery.
#include <libudev.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/devices/system_ports.h"

namespace qv::devices {
namespace {

struct UdevDeleter {
  void operator()(udev* p) const { udev_unref(p); }
  void operator()(udev_enumerate* p) const { udev_enumerate_unref(p); }
  void operator()(udev_device* p) const { udev_device_unref(p); }
  void operator()(udev_hwdb* p) const { udev_hwdb_unref(p); }
};
template <typename T>
using UdevPtr = std::unique_ptr<T, UdevDeleter>;

std::string Text(const char* s) { return s ? std::string(s) : std::string(); }

std::string HwdbModel(udev_hwdb* hwdb, udev_device* dev) {
  if (!hwdb) return {};
  const char* modalias = udev_device_get_sysattr_value(dev, "modalias");
  if (!modalias || !*modalias) return {};
  udev_list_entry* entry = udev_hwdb_get_properties_list_entry(hwdb, modalias, 0);
  for (; entry; entry = udev_list_entry_get_next(entry)) {
    if (std::strcmp(udev_list_entry_get_name(entry), "ID_MODEL_FROM_DATABASE") == 0) {
      return Text(udev_list_entry_get_value(entry));
    }
  }
  return {};
}

// The model name of one device: what udev's database recorded, what the hardware database
// says about its modalias, or the product name the device reports itself.
std::string DeviceModel(udev_hwdb* hwdb, udev_device* dev) {
  std::string model = Text(udev_device_get_property_value(dev, "ID_MODEL_FROM_DATABASE"));
  if (model.empty()) model = HwdbModel(hwdb, dev);
  if (model.empty()) model = Text(udev_device_get_property_value(dev, "ID_MODEL"));
  if (model.empty()) model = Text(udev_device_get_sysattr_value(dev, "product"));
  return model;
}

// What a device without a model name is: its subsystem, its name in sysfs and its driver
// ("pci device 0000:00:1f.3, driver snd_hda_intel", "tty device ttyS0").
std::string DeviceIdentity(udev_device* dev) {
  const std::string subsystem = Text(udev_device_get_subsystem(dev));
  std::string text = subsystem.empty() ? "device " : subsystem + " device ";
  const std::string name = Text(udev_device_get_sysname(dev));
  text += name.empty() ? Text(udev_device_get_syspath(dev)) : name;
  const std::string driver = Text(udev_device_get_driver(dev));
  if (!driver.empty()) text += ", driver " + driver;
  return text;
}

// A tty has no model of its own: the first of its parents that names one describes it.
std::string TtyDescription(udev_hwdb* hwdb, udev_device* tty) {
  std::string model = Text(udev_device_get_property_value(tty, "ID_MODEL_FROM_DATABASE"));
  if (model.empty()) model = Text(udev_device_get_property_value(tty, "ID_MODEL"));
  for (udev_device* p = udev_device_get_parent(tty); model.empty() && p;
       p = udev_device_get_parent(p)) {
    model = DeviceModel(hwdb, p);
  }
  return model;
}

// Calls `visit` with each device of `subsystem` (all devices when null). Returns 0, or the
// errno value of a failed enumeration.
template <typename Visit>
int ForEachDevice(udev* context, const char* subsystem, Visit visit) {
  UdevPtr<udev_enumerate> enumerate(udev_enumerate_new(context));
  if (!enumerate) return errno ? errno : ENOMEM;
  if (subsystem) {
    const int rc = udev_enumerate_add_match_subsystem(enumerate.get(), subsystem);
    if (rc < 0) return -rc;
  }
  const int rc = udev_enumerate_scan_devices(enumerate.get());
  if (rc < 0) return -rc;
  udev_list_entry* entry = udev_enumerate_get_list_entry(enumerate.get());
  for (; entry; entry = udev_list_entry_get_next(entry)) {
    // A device that disappears between the scan and this call is simply missing from the list.
    UdevPtr<udev_device> dev(
        udev_device_new_from_syspath(context, udev_list_entry_get_name(entry)));
    if (dev) visit(dev.get());
  }
  return 0;
}

}  // namespace

std::string UdevTtyModel(const std::string& syspath) {
  UdevPtr<udev> context(udev_new());
  if (!context) return {};
  UdevPtr<udev_device> tty(udev_device_new_from_syspath(context.get(), syspath.c_str()));
  if (!tty) return {};
  UdevPtr<udev_hwdb> hwdb(udev_hwdb_new(context.get()));
  return TtyDescription(hwdb.get(), tty.get());
}

DeviceList ScanDeviceDescriptions() {
  DeviceList list;
  UdevPtr<udev> context(udev_new());
  if (!context) {
    list.error = errno ? errno : ENOMEM;
    return list;
  }
  UdevPtr<udev_hwdb> hwdb(udev_hwdb_new(context.get()));
  list.error = ForEachDevice(context.get(), nullptr, [&](udev_device* dev) {
    std::string description = DeviceModel(hwdb.get(), dev);
    if (description.empty()) description = DeviceIdentity(dev);
    list.descriptions.push_back(std::move(description));
  });
  return list;
}

}  // namespace qv::devices
