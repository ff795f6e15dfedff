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

// The serial core puts its own port and controller devices between a tty and the device that
// carries the UART; their drivers ("port", "ctrl") say nothing about who published the port.
bool IsSerialCoreLayer(udev_device* dev) {
  const char* subsystem = udev_device_get_subsystem(dev);
  return subsystem && std::strcmp(subsystem, "serial-base") == 0;
}

std::string NearestDriver(udev_device* tty) {
  for (udev_device* p = udev_device_get_parent(tty); p; p = udev_device_get_parent(p)) {
    const char* driver = udev_device_get_driver(p);
    if (driver && *driver && !IsSerialCoreLayer(p)) return driver;
  }
  return {};
}

bool HasUsbParent(udev_device* dev) {
  return udev_device_get_parent_with_subsystem_devtype(dev, "usb", nullptr) != nullptr;
}

// A serial-core port that the kernel reserved without detecting a UART reads back type 0
// (unknown); such legacy ports are in every PC's sysfs and lead nowhere.
bool IsEmptySerialPort(udev_device* tty) {
  const char* type = udev_device_get_sysattr_value(tty, "type");
  return type && std::strcmp(type, "0") == 0;
}

// Bluetooth RFCOMM ttys are created by the rfcomm module as virtual devices with no parent.
bool IsRfcomm(const std::string& name) { return name.rfind("rfcomm", 0) == 0; }

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
    UdevPtr<udev_device> dev(udev_device_new_from_syspath(context, udev_list_entry_get_name(entry)));
    if (dev) visit(dev.get());
  }
  return 0;
}

}  // namespace

std::vector<PortEntry> ScanTtyDevices() {
  std::vector<PortEntry> ports;
  UdevPtr<udev> context(udev_new());
  if (!context) return ports;
  // Without a hardware database (no udev installed) this is null and descriptions come from
  // the devices' own attributes.
  UdevPtr<udev_hwdb> hwdb(udev_hwdb_new(context.get()));
  const auto byId = ReadDeviceLinks("/dev/serial/by-id");

  ForEachDevice(context.get(), "tty", [&](udev_device* tty) {
    const char* node = udev_device_get_devnode(tty);
    if (!node) return;  // nothing to open
    const char* slash = std::strrchr(node, '/');
    PortEntry entry;
    entry.name = slash ? slash + 1 : node;
    if (entry.name.empty()) return;

    std::string driver = NearestDriver(tty);
    if (driver.empty()) {
      if (!IsRfcomm(entry.name)) return;  // consoles, pseudo-terminals, the tty multiplexer
      driver = "rfcomm";
    }
    if (IsEmptySerialPort(tty)) return;

    std::string link;
    if (HasUsbParent(tty)) {
      const auto it = byId.find(entry.name);
      if (it != byId.end()) link = it->second;
    }
    if (entry.name.size() + kPortLabelPadding.size() + 2 > kMaxPortLabel) return;
    entry.source = TtySourceText(entry.name, driver, link);
    entry.description = TtyDescription(hwdb.get(), tty);
    ports.push_back(std::move(entry));
  });
  return ports;
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
    list.descriptions.push_back(DeviceModel(hwdb.get(), dev));
  });
  return list;
}

}  // namespace qv::devices
