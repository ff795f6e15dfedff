#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "platform/devices/port_source.h"
#include "platform/devices/system_ports.h"

namespace {

namespace fs = std::filesystem;
using qv::devices::FakePortSource;
using qv::devices::PortEntry;
using qv::devices::PortLabel;

std::string Attribute(const std::string& file, const std::string& missing) {
  std::ifstream in(file);
  std::string value;
  return in >> value ? value : missing;
}

// A scratch folder removed at the end of the test.
struct TempDir {
  TempDir() {
    char pattern[] = "/tmp/qv_devices_XXXXXX";
    path = mkdtemp(pattern);
  }
  ~TempDir() { fs::remove_all(path); }
  fs::path path;
};

TEST(PortLabel, PadsAndFitsTheLimit) {
  EXPECT_EQ(PortLabel({"ttyUSB0", "ftdi_sio", ""}), "ttyUSB0                      (ftdi_sio)");
  EXPECT_EQ(PortLabel({"ircomm0", "Infrared", ""}), "ircomm0                      (Infrared)");

  // A long by-id name is cut so that the whole label has at most 259 characters.
  const std::string longId(400, 'x');
  const std::string source = qv::devices::TtySourceText("ttyUSB12", {"cp210x", "", longId});
  EXPECT_EQ(source.rfind("cp210x, xxx", 0), 0u);
  EXPECT_EQ(PortLabel({"ttyUSB12", source, ""}).size(), 259u);
  EXPECT_EQ(qv::devices::TtySourceText("ttyACM0", {"cdc_acm", "", ""}), "cdc_acm");

  std::string s = "abc";
  EXPECT_FALSE(qv::devices::FitSourceToLabel(std::string(236, 'n'), s));
  EXPECT_TRUE(qv::devices::FitSourceToLabel(std::string(235, 'n'), s));
  EXPECT_EQ(s, "");
}

TEST(PortSource, InstalledFakeReplacesTheSystemAndIsRestored) {
  qv::devices::PortSource& system = qv::devices::CurrentPortSource();
  {
    FakePortSource fake({{"ttyUSB0", "ftdi_sio", "FT232R USB UART"}, {"", "empty", ""}},
                        {{"first", ""}, 0});
    qv::devices::ScopedPortSource scope(fake);
    EXPECT_EQ(&qv::devices::CurrentPortSource(), &fake);
    const auto ports = qv::devices::CurrentPortSource().Ports();
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_EQ(ports[0].description, "FT232R USB UART");
    EXPECT_EQ(qv::devices::CurrentPortSource().DeviceDescriptions().descriptions.size(), 2u);
  }
  EXPECT_EQ(&qv::devices::CurrentPortSource(), &system);
}

TEST(DeviceLinks, MapsNodesToTheirLinkNames) {
  TempDir dir;
  std::ofstream(dir.path / "ttyUSB0").put('x');
  std::ofstream(dir.path / "ttyACM1").put('x');
  fs::create_directory(dir.path / "by-id");
  fs::create_symlink("../ttyUSB0", dir.path / "by-id" / "usb-FTDI_FT232R_A50285BI-if00-port0");
  fs::create_symlink(dir.path / "ttyACM1", dir.path / "by-id" / "usb-Phone_Modem_1234-if00");
  fs::create_symlink("../gone", dir.path / "by-id" / "usb-dangling");
  std::ofstream(dir.path / "by-id" / "plain-file").put('x');

  const auto links = qv::devices::ReadDeviceLinks((dir.path / "by-id").string());
  ASSERT_EQ(links.size(), 2u);
  EXPECT_EQ(links.at("ttyUSB0"), "usb-FTDI_FT232R_A50285BI-if00-port0");
  EXPECT_EQ(links.at("ttyACM1"), "usb-Phone_Modem_1234-if00");
  EXPECT_TRUE(qv::devices::ReadDeviceLinks((dir.path / "missing").string()).empty());
}

TEST(InfraredPorts, ListsIrcommNodes) {
  TempDir dir;
  // Character devices cannot be made without privileges: a symlink stands for a node.
  fs::create_symlink("/dev/null", dir.path / "ircomm0");
  fs::create_symlink("/dev/null", dir.path / "ircomm1");
  fs::create_symlink("/dev/null", dir.path / "ttyS9");
  fs::create_directory(dir.path / "ircomm");

  auto ports = qv::devices::ScanInfraredPorts(dir.path.string());
  std::sort(ports.begin(), ports.end(),
            [](const PortEntry& a, const PortEntry& b) { return a.name < b.name; });
  ASSERT_EQ(ports.size(), 2u);
  EXPECT_EQ(ports[0].name, "ircomm0");
  EXPECT_EQ(ports[0].source, "Infrared");
  EXPECT_EQ(ports[1].name, "ircomm1");
  EXPECT_TRUE(qv::devices::ScanInfraredPorts((dir.path / "missing").string()).empty());
}

// A sysfs tree of our own, laid out as the kernel lays out its devices.
class FakeSysfs {
 public:
  FakeSysfs() {
    fs::create_directories(Sys() / "class" / "tty");
    fs::create_directories(Sys() / "bus");
    fs::create_directories(Dev() / "serial" / "by-id");
  }
  fs::path Sys() const { return dir_.path / "sys"; }
  fs::path Dev() const { return dir_.path / "dev"; }

  // A device directory under /sys/devices with its driver and subsystem links.
  fs::path Device(const std::string& path, const std::string& subsystem,
                  const std::string& driver = "") {
    const fs::path dev = Sys() / "devices" / path;
    fs::create_directories(dev);
    const fs::path bus = Sys() / "bus" / subsystem;
    fs::create_directories(bus / "drivers");
    fs::create_symlink(bus, dev / "subsystem");
    if (!driver.empty()) {
      fs::create_directories(bus / "drivers" / driver);
      fs::create_symlink(bus / "drivers" / driver, dev / "driver");
    }
    return dev;
  }
  static void Write(const fs::path& file, const std::string& text) {
    std::ofstream(file) << text << "\n";
  }
  // A USB device with its ids and product text.
  fs::path Usb(const std::string& path, const std::string& vendor, const std::string& product,
               const std::string& text) {
    const fs::path dev = Device(path, "usb", "usb");
    Write(dev / "idVendor", vendor);
    Write(dev / "idProduct", product);
    Write(dev / "product", text);
    return dev;
  }
  // A tty below parent (none: a virtual one), listed in /sys/class/tty, with its node in /dev.
  fs::path Tty(const std::string& name, const fs::path& parent) {
    const fs::path tty =
        parent.empty() ? Sys() / "devices" / "virtual" / "tty" / name : parent / "tty" / name;
    fs::create_directories(tty);
    Write(tty / "uevent", "MAJOR=188\nMINOR=0\nDEVNAME=" + name);
    if (!parent.empty()) fs::create_symlink(parent, tty / "device");
    fs::create_symlink(tty, Sys() / "class" / "tty" / name);
    std::ofstream(Dev() / name).put('x');
    return tty;
  }
  void ById(const std::string& link, const std::string& node) {
    fs::create_symlink(Dev() / node, Dev() / "serial" / "by-id" / link);
  }

 private:
  TempDir dir_;
};

const std::string kPad(22, ' ');

TEST(SystemPorts, LabelsTellUsbPhoneAndBluetoothPortsApart) {
  FakeSysfs sys;
  // A USB serial adapter: its interface's driver publishes a usb-serial port.
  sys.Usb("pci0000:00/0000:00:14.0/usb1/1-1", "0403", "6001", "FT232R USB UART");
  sys.Device("pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0", "usb", "ftdi_sio");
  const fs::path adapter =
      sys.Device("pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/ttyUSB0", "usb-serial", "ftdi_sio");
  sys.Tty("ttyUSB0", adapter);
  sys.ById("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "ttyUSB0");
  // A phone's CDC-ACM data port, and a second one whose product text is far too long.
  sys.Usb("pci0000:00/0000:00:14.0/usb1/1-2", "f00d", "0002", "Test Phone Modem");
  sys.Tty("ttyACM0", sys.Device("pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.1", "usb", "cdc_acm"));
  sys.Usb("pci0000:00/0000:00:14.0/usb1/1-3", "f00d", "0003", std::string(300, 'p'));
  sys.Tty("ttyACM1", sys.Device("pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.1", "usb", "cdc_acm"));
  // A Bluetooth RFCOMM port: virtual, with the remote address and channel.
  const fs::path rfcomm = sys.Tty("rfcomm0", {});
  FakeSysfs::Write(rfcomm / "address", "00:1a:7d:da:71:13");
  FakeSysfs::Write(rfcomm / "channel", "3");
  // A 16550 behind the serial core's layers, and a reserved port without a UART.
  sys.Device("platform/serial8250", "platform", "serial8250");
  sys.Device("platform/serial8250/serial8250:0", "serial-base", "ctrl");
  const fs::path uart =
      sys.Device("platform/serial8250/serial8250:0/serial8250:0.0", "serial-base", "port");
  FakeSysfs::Write(sys.Tty("ttyS0", uart) / "type", "4");
  const fs::path empty =
      sys.Device("platform/serial8250/serial8250:0/serial8250:0.1", "serial-base", "port");
  FakeSysfs::Write(sys.Tty("ttyS1", empty) / "type", "0");
  // What never is a port: a virtual console, the pty master, an entry without a node.
  sys.Tty("tty0", {});
  sys.Tty("ptmx", {});
  const fs::path nodeless = sys.Device("platform/nodeless", "platform", "nodeless");
  fs::create_directories(nodeless / "tty" / "ttyX9");
  fs::create_symlink(nodeless / "tty" / "ttyX9", sys.Sys() / "class" / "tty" / "ttyX9");

  auto ports =
      qv::devices::ScanTtyDevices({sys.Sys().string(), (sys.Dev() / "serial" / "by-id").string()});
  std::map<std::string, PortEntry> byName;
  for (PortEntry& p : ports) byName[p.name] = p;
  ASSERT_EQ(byName.size(), 5u);
  EXPECT_EQ(
      PortLabel(byName["ttyUSB0"]),
      "ttyUSB0" + kPad +
          "(ftdi_sio, 0403:6001 FT232R USB UART, usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0)");
  EXPECT_EQ(byName["ttyUSB0"].description, "FT232R USB UART");
  EXPECT_EQ(PortLabel(byName["ttyACM0"]),
            "ttyACM0" + kPad + "(cdc_acm, f00d:0002 Test Phone Modem)");
  EXPECT_EQ(PortLabel(byName["rfcomm0"]),
            "rfcomm0" + kPad + "(rfcomm, 00:1a:7d:da:71:13 channel 3)");
  EXPECT_EQ(PortLabel(byName["ttyS0"]), "ttyS0" + kPad + "(serial8250)");
  // Cut at the limit, the port's name and the parenthesis kept.
  const std::string cut = PortLabel(byName["ttyACM1"]);
  EXPECT_EQ(cut.size(), qv::devices::kMaxPortLabel);
  EXPECT_EQ(cut.rfind("ttyACM1" + kPad + "(cdc_acm, f00d:0003 ppp", 0), 0u);
  EXPECT_EQ(cut.back(), ')');

  // No tree at all: no ports, no crash.
  EXPECT_TRUE(qv::devices::ScanTtyDevices({(sys.Sys() / "none").string(), ""}).empty());
}

// This machine's real sysfs: whatever hardware it has, the scan must neither crash nor list
// consoles and pseudo-terminals, and every tty it lists is a node that exists.
TEST(SystemPorts, ScansThisMachine) {
  for (const PortEntry& p : qv::devices::ScanTtyDevices()) {
    SCOPED_TRACE(p.name);
    EXPECT_FALSE(p.name.empty());
    EXPECT_FALSE(p.source.empty());
    EXPECT_LE(PortLabel(p).size(), qv::devices::kMaxPortLabel);
    EXPECT_NE(p.name, "tty");
    EXPECT_NE(p.name, "console");
    EXPECT_NE(p.name, "ptmx");
    EXPECT_FALSE(p.name.size() > 3 && p.name.rfind("tty", 0) == 0 &&
                 std::isdigit(static_cast<unsigned char>(p.name[3])))
        << "a virtual console";
    // The source is a driver, not the serial core's own layer.
    EXPECT_NE(p.source, "port");
    struct stat st {};
    EXPECT_EQ(lstat(("/dev/" + p.name).c_str(), &st), 0);
  }
  // A serial port this machine has is still found.
  if (Attribute("/sys/class/tty/ttyS0/type", "0") != "0") {
    const auto ports = qv::devices::ScanTtyDevices();
    EXPECT_TRUE(std::any_of(ports.begin(), ports.end(),
                            [](const PortEntry& p) { return p.name == "ttyS0"; }));
  }
  // Device descriptions come from udev even without its daemon and hardware database.
  const auto devices = qv::devices::ScanDeviceDescriptions();
  EXPECT_EQ(devices.error, 0);
  EXPECT_FALSE(devices.descriptions.empty());
}

TEST(SystemPorts, ListsTheVirtualPorts) {
  const auto ports = qv::devices::SystemPortSource().Ports();
  auto find = [&](const std::string& name) -> const PortEntry* {
    for (const PortEntry& p : ports) {
      if (p.name == name) return &p;
    }
    return nullptr;
  };
  const PortEntry* loop = find("vloop0");
  ASSERT_TRUE(loop);
  EXPECT_EQ(PortLabel(*loop), "vloop0                      (virtual loop-back plug)");
  const PortEntry* phone = find("vphone0");
  ASSERT_TRUE(phone);
  EXPECT_EQ(PortLabel(*phone), "vphone0                      (virtual phone)");
  EXPECT_EQ(phone->description, "QUELM Virtual Phone");
}

}  // namespace
