// The tty side of port discovery, read straight from sysfs: it needs no udev daemon and no
// udev database, and a test can hand it a tree of its own.
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "platform/devices/system_ports.h"

namespace qv::devices {
namespace {

namespace fs = std::filesystem;

// sysfs attributes are short texts; anything longer is not one of those read here.
constexpr std::size_t kAttributeMax = 4096;

std::string Trimmed(std::string text) {
  const auto blank = [](unsigned char c) { return std::isspace(c) != 0 || c == '\0'; };
  while (!text.empty() && blank(static_cast<unsigned char>(text.back()))) text.pop_back();
  std::size_t first = 0;
  while (first < text.size() && blank(static_cast<unsigned char>(text[first]))) ++first;
  return text.substr(first);
}

// An attribute file's text without its line end; empty when it is missing or unreadable.
std::string Attribute(const fs::path& file) {
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) return {};
  std::ifstream in(file, std::ios::binary);
  std::string text(kAttributeMax, '\0');
  in.read(text.data(), std::streamsize(text.size()));
  text.resize(std::size_t(std::max<std::streamsize>(0, in.gcount())));
  // Control characters would break the one-line label.
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 && c != '\n') c = ' ';
  }
  return Trimmed(text.substr(0, text.find('\n')));
}

// KEY=value from a device's uevent file.
std::string UeventValue(const fs::path& device, const std::string& key) {
  std::ifstream in(device / "uevent");
  std::string line;
  while (std::getline(in, line)) {
    if (line.size() > key.size() && line.compare(0, key.size(), key) == 0 &&
        line[key.size()] == '=')
      return Trimmed(line.substr(key.size() + 1));
  }
  return {};
}

// The last component of what a symbolic link points at ("driver" -> .../drivers/ftdi_sio).
std::string LinkTargetName(const fs::path& link) {
  std::error_code ec;
  if (!fs::is_symlink(link, ec)) return {};
  const fs::path target = fs::read_symlink(link, ec);
  return ec ? std::string() : target.filename().string();
}

// The device directories from a tty's parent device up to (not including) the devices root.
std::vector<fs::path> ParentChain(const fs::path& tty, const fs::path& devicesRoot) {
  std::vector<fs::path> chain;
  std::error_code ec;
  fs::path p = fs::canonical(tty / "device", ec);
  if (ec) return chain;  // a virtual tty: no device behind it
  const std::string root = devicesRoot.string();
  while (p.string().size() > root.size() && p.string().compare(0, root.size(), root) == 0) {
    chain.push_back(p);
    p = p.parent_path();
  }
  return chain;
}

// The serial core puts its own port and controller devices between a tty and the device that
// carries the UART; their drivers ("port", "ctrl") say nothing about who published the port.
std::string NearestDriver(const std::vector<fs::path>& chain) {
  for (const fs::path& p : chain) {
    const std::string driver = LinkTargetName(p / "driver");
    if (!driver.empty() && LinkTargetName(p / "subsystem") != "serial-base") return driver;
  }
  return {};
}

// "VVVV:PPPP product" of the USB device in the chain (the first parent with vendor and product
// ids); empty for a port that is not on USB. *product gets the product text alone.
std::string UsbIdentity(const std::vector<fs::path>& chain, std::string* product) {
  for (const fs::path& p : chain) {
    const std::string vendor = Attribute(p / "idVendor");
    const std::string id = Attribute(p / "idProduct");
    if (vendor.empty() || id.empty()) continue;
    *product = Attribute(p / "product");
    std::string text = vendor + ":" + id;
    if (!product->empty()) text += " " + *product;
    return text;
  }
  return {};
}

// Bluetooth RFCOMM ttys are created by the rfcomm module as virtual devices with no parent;
// the kernel gives their remote address and channel as attributes of the tty itself.
bool IsRfcomm(const std::string& name) { return name.rfind("rfcomm", 0) == 0; }

std::string RfcommRemote(const fs::path& tty) {
  std::string text = Attribute(tty / "address");
  const std::string channel = Attribute(tty / "channel");
  if (!channel.empty()) text += (text.empty() ? "channel " : " channel ") + channel;
  return text;
}

}  // namespace

std::string TtySourceText(const std::string& name, const std::vector<std::string>& parts) {
  std::string source;
  for (const std::string& part : parts) {
    if (part.empty()) continue;
    if (!source.empty()) source += ", ";
    source += part;
  }
  // The end goes first: the driver and the device stay, a long by-id name is cut.
  FitSourceToLabel(name, source);
  return source;
}

std::vector<PortEntry> ScanTtyDevices(const TtyScanRoots& roots) {
  std::vector<PortEntry> ports;
  const fs::path sys(roots.sys);
  std::error_code ec;
  const fs::path devicesRoot = fs::canonical(sys / "devices", ec);
  if (ec) return ports;
  const auto byId = ReadDeviceLinks(roots.byId);

  std::vector<fs::path> classEntries;
  for (fs::directory_iterator it(sys / "class" / "tty", ec), end; !ec && it != end;
       it.increment(ec)) {
    classEntries.push_back(it->path());
  }
  std::sort(classEntries.begin(), classEntries.end());
  for (const fs::path& entry : classEntries) {
    std::error_code entryError;
    const fs::path tty = fs::canonical(entry, entryError);
    if (entryError) continue;  // gone since the listing
    // The node the kernel made for it: nothing to open without one.
    const std::string devName = UeventValue(tty, "DEVNAME");
    if (devName.empty()) continue;
    PortEntry port;
    port.name = fs::path(devName).filename().string();
    if (port.name.empty()) continue;
    if (port.name.size() + kPortLabelPadding.size() + 2 > kMaxPortLabel) continue;

    const std::vector<fs::path> chain = ParentChain(tty, devicesRoot);
    std::string driver = NearestDriver(chain);
    std::string detail;
    if (driver.empty()) {
      if (!IsRfcomm(port.name)) continue;  // consoles, pseudo-terminals, the tty multiplexer
      driver = "rfcomm";
      detail = RfcommRemote(tty);
    }
    // A serial-core port that the kernel reserved without finding a UART reads back type 0
    // (unknown): such legacy ports are in every PC's sysfs and lead nowhere.
    if (Attribute(tty / "type") == "0") continue;

    std::string link;
    if (!chain.empty()) {
      std::string product;
      detail = UsbIdentity(chain, &product);
      port.description = product;
      if (!detail.empty()) {
        const auto it = byId.find(port.name);
        if (it != byId.end()) link = it->second;
      }
    }
    port.source = TtySourceText(port.name, {driver, detail, link});
    if (port.description.empty() && roots.sys == "/sys")
      port.description = UdevTtyModel(tty.string());
    ports.push_back(std::move(port));
  }
  return ports;
}

}  // namespace qv::devices
