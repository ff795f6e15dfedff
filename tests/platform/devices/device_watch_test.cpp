#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/comm/virtual_port_control.h"
#include "platform/devices/device_watch.h"
#include "platform/sync/debug_output.h"
#include "platform/sync/last_error.h"

namespace {

using qv::devices::BroadcastRecord;
using qv::devices::DeviceChange;
using qv::devices::DeviceChangeListener;
using qv::devices::DeviceEvent;
using qv::devices::DeviceEventTranslator;

// A notification as the tests compare it: code, record type and the record's name or path.
struct Seen {
  UINT code;
  DWORD type;  // 0xFFFFFFFF: no record
  std::string name;
  GUID cls{};
};

Seen Describe(const DeviceChange& c) {
  const DEV_BROADCAST_HDR* h = c.record.Header();
  if (!h) return {c.eventCode, 0xFFFFFFFFu, {}, {}};
  if (h->dbch_devicetype == DBT_DEVTYP_PORT) {
    return {c.eventCode,
            h->dbch_devicetype,
            reinterpret_cast<const DEV_BROADCAST_PORT_A*>(h)->dbcp_name,
            {}};
  }
  const auto* i = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(h);
  return {c.eventCode, h->dbch_devicetype, i->dbcc_name, i->dbcc_classguid};
}

std::vector<Seen> DescribeAll(const std::vector<DeviceChange>& changes) {
  std::vector<Seen> out;
  for (const auto& c : changes) out.push_back(Describe(c));
  return out;
}

DeviceEvent Event(DeviceEvent::Action action, std::string subsystem, std::string name,
                  std::string driver = {}, std::string devtype = {}) {
  DeviceEvent e;
  e.action = action;
  e.subsystem = std::move(subsystem);
  e.devtype = std::move(devtype);
  e.name = std::move(name);
  e.syspath = "/sys/devices/x/" + e.name;
  e.driver = std::move(driver);
  return e;
}

constexpr auto kAdd = DeviceEvent::Action::kAdd;
constexpr auto kRemove = DeviceEvent::Action::kRemove;

TEST(DeviceRecords, SizesCoverTheNameAndItsEnd) {
  const BroadcastRecord port = BroadcastRecord::Port("ttyACM0");
  EXPECT_EQ(port.Size(), 12u + 8u);
  EXPECT_STREQ(reinterpret_cast<const DEV_BROADCAST_PORT_A*>(port.Header())->dbcp_name, "ttyACM0");
  // An interface record is never shorter than its declared layout, as the filter's 32 bytes.
  EXPECT_EQ(BroadcastRecord::Interface(GUID_CLASS_COMPORT, "").Size(), 32u);
  EXPECT_EQ(BroadcastRecord::Interface(GUID_CLASS_COMPORT, std::string(40, 'p')).Size(), 28u + 41u);
  EXPECT_EQ(BroadcastRecord::Volume(0x30, 1).Size(), 20u);
}

TEST(DeviceEventTranslation, PortsGiveTheirInterfaceAndPortRecordsInOrder) {
  DeviceEventTranslator t([](const std::string& name) { return name != "tty5"; });
  t.AddKnownPort("ttyUSB0", "ftdi_sio");
  t.AddKnownPort("ttyACM1", "cdc_acm");

  // Arrival: the interface first, then the port; the class follows the driver.
  auto seen = DescribeAll(t.Translate(Event(kAdd, "tty", "ttyACM0", "cdc_acm")));
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].code, DBT_DEVICEARRIVAL);
  EXPECT_EQ(seen[0].type, DBT_DEVTYP_DEVICEINTERFACE);
  EXPECT_TRUE(seen[0].cls == ModemClassGuid);
  EXPECT_EQ(seen[0].name, "/sys/devices/x/ttyACM0");
  EXPECT_EQ(seen[1].type, DBT_DEVTYP_PORT);
  EXPECT_EQ(seen[1].name, "ttyACM0");

  // Removal: the port first; the class is the one remembered from the arrival, as the driver of
  // a removed device can no longer be read.
  seen = DescribeAll(t.Translate(Event(kRemove, "tty", "ttyACM0")));
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].code, DBT_DEVICEREMOVECOMPLETE);
  EXPECT_EQ(seen[0].name, "ttyACM0");
  EXPECT_TRUE(seen[1].cls == ModemClassGuid);
  // Ports present from the start are known the same way.
  seen = DescribeAll(t.Translate(Event(kRemove, "tty", "ttyACM1")));
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_TRUE(seen[1].cls == ModemClassGuid);
  seen = DescribeAll(t.Translate(Event(kRemove, "tty", "ttyUSB0")));
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_TRUE(seen[1].cls == GUID_CLASS_COMPORT);

  // Bluetooth links have their own class.
  seen = DescribeAll(t.Translate(Event(kAdd, "tty", "rfcomm0", "")));
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_TRUE(seen[0].cls == BlueToothClassGuid);
}

TEST(DeviceEventTranslation, OnlyPortsAndUsbDevicesGiveRecords) {
  DeviceEventTranslator t([](const std::string& name) { return name != "tty5"; });
  // A tty that is no port (a console), and the removal of a tty never seen as a port.
  EXPECT_TRUE(t.Translate(Event(kAdd, "tty", "tty5")).empty());
  EXPECT_TRUE(t.Translate(Event(kRemove, "tty", "tty5")).empty());
  EXPECT_TRUE(t.Translate(Event(kRemove, "tty", "ttyUSB7")).empty());
  // A change of an existing port is neither arrival nor removal.
  EXPECT_TRUE(t.Translate(Event(DeviceEvent::Action::kOther, "tty", "ttyUSB0")).empty());

  auto seen = DescribeAll(t.Translate(Event(kAdd, "usb", "1-1", "usb", "usb_device")));
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_TRUE(seen[0].cls == GUID_CLASS_USB_DEVICE);
  EXPECT_EQ(seen[0].name, "/sys/devices/x/1-1");
  seen = DescribeAll(t.Translate(Event(kRemove, "usb", "1-1", "", "usb_device")));
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].code, DBT_DEVICEREMOVECOMPLETE);
  // The device's interfaces and block devices are device-node changes only.
  EXPECT_TRUE(t.Translate(Event(kAdd, "usb", "1-1:1.0", "cdc_acm", "usb_interface")).empty());
  EXPECT_TRUE(t.Translate(Event(kAdd, "block", "sdb1", "", "partition")).empty());
}

// Collects what a listener is posted.
class Collector {
 public:
  qv::devices::DeviceChangePost Post() {
    return [this](const DeviceChange& c) {
      std::lock_guard guard(lock_);
      seen_.push_back(Describe(c));
      more_.notify_all();
    };
  }
  // What arrived once `count` notifications are in (or after 5 s).
  std::vector<Seen> WaitFor(std::size_t count) {
    std::unique_lock guard(lock_);
    more_.wait_for(guard, std::chrono::seconds(5), [&] { return seen_.size() >= count; });
    return seen_;
  }
  std::vector<Seen> Take() {
    std::lock_guard guard(lock_);
    return std::exchange(seen_, {});
  }

 private:
  std::mutex lock_;
  std::condition_variable more_;
  std::vector<Seen> seen_;
};

DEV_BROADCAST_DEVICEINTERFACE_A Filter(const GUID& cls) {
  DEV_BROADCAST_DEVICEINTERFACE_A f{};
  f.dbcc_size = sizeof f;
  f.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  f.dbcc_classguid = cls;
  return f;
}

TEST(DeviceWatch, VirtualPlugsReachEveryListenerWithTheInterfacesItRegisteredFor) {
  Collector plain, all, usbOnly;
  auto plainListener = std::make_unique<DeviceChangeListener>(plain.Post());
  auto allListener = std::make_unique<DeviceChangeListener>(all.Post());
  DeviceChangeListener usbListener(usbOnly.Post());
  const DEV_BROADCAST_DEVICEINTERFACE_A usb = Filter(GUID_CLASS_USB_DEVICE);
  HDEVNOTIFY handle =
      RegisterDeviceNotificationA(allListener.get(), &usb, DEVICE_NOTIFY_ALL_INTERFACE_CLASSES);
  ASSERT_NE(handle, nullptr);
  ASSERT_NE(RegisterDeviceNotificationA(&usbListener, &usb, DEVICE_NOTIFY_WINDOW_HANDLE), nullptr);

  ASSERT_TRUE(qv::comm::UnplugVirtualPort("vloop0"));
  // Without a registration: the port and the device-node change, no interface.
  auto seen = plain.WaitFor(2);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].code, DBT_DEVICEREMOVECOMPLETE);
  EXPECT_EQ(seen[0].name, "vloop0");
  EXPECT_EQ(seen[1].code, DBT_DEVNODES_CHANGED);
  EXPECT_EQ(seen[1].type, 0xFFFFFFFFu);
  seen = all.WaitFor(3);
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_TRUE(seen[1].cls == GUID_CLASS_COMPORT);
  EXPECT_EQ(seen[1].name, "\\\\.\\vloop0");
  // Registered for USB devices only: the serial port's interface is not among them.
  EXPECT_EQ(usbOnly.WaitFor(2).size(), 2u);

  // Unregistered, and a listener gone: nothing more for them.
  EXPECT_TRUE(UnregisterDeviceNotification(handle));
  EXPECT_FALSE(UnregisterDeviceNotification(handle));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  plainListener.reset();
  all.Take();
  ASSERT_TRUE(qv::comm::PlugVirtualPort("vloop0"));
  seen = all.WaitFor(2);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].code, DBT_DEVICEARRIVAL);
  EXPECT_EQ(seen[0].type, DBT_DEVTYP_PORT);
  // Plugging a port that is plugged changes nothing.
  all.Take();
  ASSERT_TRUE(qv::comm::PlugVirtualPort("vloop0"));
  EXPECT_TRUE(all.Take().empty());
}

TEST(DeviceWatch, RegistrationRefusesWhatIsNoInterfaceFilter) {
  Collector c;
  DeviceChangeListener listener(c.Post());
  DEV_BROADCAST_DEVICEINTERFACE_A filter = Filter(GUID_CLASS_USB_DEVICE);
  filter.dbcc_devicetype = DBT_DEVTYP_PORT;
  EXPECT_EQ(RegisterDeviceNotificationA(&listener, &filter, 0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  filter = Filter(GUID_CLASS_USB_DEVICE);
  filter.dbcc_size = 12;
  EXPECT_EQ(RegisterDeviceNotificationA(&listener, &filter, 0), nullptr);
  EXPECT_EQ(RegisterDeviceNotificationA(&listener, nullptr, 0), nullptr);
}

// The system's monitor stood in for by a pipe's read end: a byte is a USB device's arrival, the
// write end closed is the failure of the monitor's socket (a hang-up on its descriptor).
class PipeSource : public qv::devices::DeviceEventSource {
 public:
  explicit PipeSource(int fd) : fd_(fd) {}
  int fd() const override { return fd_; }
  std::optional<DeviceEvent> ReadEvent() override {
    char byte;
    if (read(fd_, &byte, 1) != 1) return std::nullopt;
    return Event(kAdd, "usb", "1-1", "", "usb_device");
  }

 private:
  int fd_;
};

TEST(DeviceWatch, AFailedMonitorIsTracedAndOpenedAgainUntilTheWatchStops) {
  qv::sync::SetDebugOutputToStderr(false);
  qv::sync::ClearDebugOutputCapture();
  // Opened in turn: a monitor that fails, a refusal, a monitor that fails, refusals from then on.
  int first[2], second[2];
  ASSERT_EQ(pipe2(first, O_NONBLOCK), 0);
  ASSERT_EQ(pipe2(second, O_NONBLOCK), 0);
  const std::vector<int> plan = {first[0], -1, second[0]};
  std::atomic<std::size_t> opens{0};
  qv::devices::UseDeviceEventSourceForTests([&]() -> std::unique_ptr<PipeSource> {
    const std::size_t i = opens++;
    if (i < plan.size() && plan[i] >= 0) return std::make_unique<PipeSource>(plan[i]);
    errno = EACCES;
    return nullptr;
  });
  Collector c;
  auto listener = std::make_unique<DeviceChangeListener>(c.Post());
  for (int* pipe : {first, second}) {
    // Heard, and once the socket has failed, heard from a new monitor.
    EXPECT_EQ(write(pipe[1], "e", 1), 1);
    EXPECT_EQ(c.WaitFor(1).size(), 1u) << "not listening";
    c.Take();
    close(pipe[1]);
  }
  // The waits double while opening fails (from the first again, as the second monitor had
  // delivered); the stop is heard in the middle of one.
  for (int i = 0;
       i < 300 && qv::sync::DebugOutputCaptured().find("in 1600 ms") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const auto stopping = std::chrono::steady_clock::now();
  listener.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - stopping, std::chrono::milliseconds(800));
  qv::devices::UseDeviceEventSourceForTests({});
  qv::sync::SetDebugOutputToStderr(true);
  EXPECT_EQ(opens, 7u);
  for (int fd : {first[0], second[0]}) close(fd);
  const std::string seen = qv::sync::DebugOutputCaptured();
  std::size_t at = 0;
  for (const char* line :
       {"socket failed (hung up); listening again in 100 ms",
        "(Permission denied); trying again in 200 ms", "listening to device events again",
        "listening again in 100 ms", "in 200 ms", "in 400 ms", "in 800 ms", "in 1600 ms"}) {
    at = seen.find(line, at);
    ASSERT_NE(at, std::string::npos) << line << " not in order in:\n" << seen;
  }
}

}  // namespace
