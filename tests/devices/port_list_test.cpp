#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/devices/port_source.h"
#include "platform/devices/system_ports.h"

namespace {

namespace fs = std::filesystem;
using qv::devices::FakePortSource;
using qv::devices::PortEntry;
using qv::devices::PortLabel;

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
  const std::string source = qv::devices::TtySourceText("ttyUSB12", "cp210x", longId);
  EXPECT_EQ(source.rfind("cp210x, xxx", 0), 0u);
  EXPECT_EQ(PortLabel({"ttyUSB12", source, ""}).size(), 259u);
  EXPECT_EQ(qv::devices::TtySourceText("ttyACM0", "cdc_acm", ""), "cdc_acm");

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
    struct stat st{};
    EXPECT_EQ(lstat(("/dev/" + p.name).c_str(), &st), 0);
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
