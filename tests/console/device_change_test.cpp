// Device-change notifications made from records: the log lines, the port list refresh and the
// Open on PNP rules, on the console dialog; the volume text on its own.
#include <QComboBox>
#include <algorithm>
#include <array>
#include <cstring>
#include <utility>
#include <vector>

#include "console/quorvix_dlg_devices.h"
#include "platform/devices/port_source.h"
#include "tests/console/pnp_fixture.h"

namespace qv::test {
namespace {

using qv::devices::BroadcastRecord;
using qv::devices::PortEntry;

const char* kComPath = "\\\\?\\ACPI#PNP0501#7#{86e0d1e0-8089-11d0-9ce4-08003e301f73}";

class DeviceChangeTest : public PnpTest {
 protected:
  void SetUp() override {
    PnpTest::SetUp();
    source_.Set({{"COM1", "serial", ""}});
  }
  int ListedPorts() { return Dlg().Item<QComboBox>(IDC_PORT)->count(); }

  LockedPortSource source_;
  qv::devices::ScopedPortSource scoped_{source_};
};

TEST_F(DeviceChangeTest, PortArrivalIsLoggedAndItsInterfacesOnlyWithVerboseMore) {
  Open();
  Check(IDC_VERBOSE, true);
  Check(IDC_VERBOSEMORE, false);
  Dlg().Log()->Clear();
  const int before = ListedPorts();
  source_.Add({"COM7", "serial", ""});

  // The interface comes first and changes no list.
  EXPECT_EQ(Notify(DBT_DEVICEARRIVAL, BroadcastRecord::Interface(GUID_CLASS_COMPORT, kComPath)), 1);
  EXPECT_EQ(ListedPorts(), before);
  Notify(DBT_DEVICEARRIVAL, BroadcastRecord::Port("COM7"));
  EXPECT_EQ(ListedPorts(), before + 1);
  Dlg().OnDeviceChange(DBT_DEVNODES_CHANGED, 0);
  EXPECT_EQ(LogLines(), QStringList{QStringLiteral("PNP ARRIVAL : PORT COM7")});

  Check(IDC_VERBOSEMORE, true);
  Dlg().Log()->Clear();
  Notify(DBT_DEVICEARRIVAL, BroadcastRecord::Interface(GUID_CLASS_COMPORT, kComPath));
  Notify(DBT_DEVICEREMOVECOMPLETE, BroadcastRecord::Interface(GUID_CLASS_USB_DEVICE, "/sys/x"));
  Dlg().OnDeviceChange(DBT_DEVNODES_CHANGED, 0);
  const GUID unknown = {0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};
  Notify(DBT_DEVICEARRIVAL, BroadcastRecord::Interface(unknown, "p"));
  EXPECT_EQ(LogLines(),
            (QStringList{QStringLiteral("PNP ARRIVAL : INTERFACE GUID_CLASS_COMPORT ") + kComPath,
                         QStringLiteral("PNP REMOVED : INTERFACE GUID_CLASS_USB_DEVICE /sys/x"),
                         QStringLiteral("PNP DEVNODES_CHANGED"),
                         QStringLiteral(
                             "PNP ARRIVAL : INTERFACE {12345678-9ABC-DEF0-0102-030405060708} p")}));

  // Verbose off: nothing reaches the log.
  Check(IDC_VERBOSE, false);
  Dlg().Log()->Clear();
  Notify(DBT_DEVICEARRIVAL, BroadcastRecord::Port("COM7"));
  EXPECT_TRUE(LogLines().isEmpty());
}

TEST_F(DeviceChangeTest, EventsAndRecordsWithoutNamesKeepTheirNumbers) {
  Open();
  Check(IDC_VERBOSE, true);
  Dlg().Log()->Clear();
  Dlg().OnDeviceChange(0x1234, 0);
  Dlg().OnDeviceChange(0x1234, LPARAM(0xABCD));
  Dlg().OnDeviceChange(DBT_CONFIGCHANGED, 0);
  Dlg().OnDeviceChange(DBT_DEVICEARRIVAL, 0);
  DEV_BROADCAST_HDR odd{sizeof(DEV_BROADCAST_HDR), 9, 0};
  Dlg().OnDeviceChange(DBT_DEVICEQUERYREMOVE, reinterpret_cast<LPARAM>(&odd));
  DEV_BROADCAST_OEM oem{sizeof(DEV_BROADCAST_OEM), DBT_DEVTYP_OEM, 0, 1, 2};
  Dlg().OnDeviceChange(DBT_DEVICETYPESPECIFIC, reinterpret_cast<LPARAM>(&oem));
  Notify(DBT_DEVICEREMOVEPENDING, BroadcastRecord::DevNode(42));
  Notify(DBT_DEVICEARRIVAL, BroadcastRecord::Volume(0x30, 0));
  EXPECT_EQ(LogLines(), (QStringList{
                            QStringLiteral("PNP 0x00001234"),
                            QStringLiteral("PNP 0x00001234 0x0000ABCD"),
                            QStringLiteral("PNP CONFIGCHANGED"),
                            QStringLiteral("PNP ARRIVAL"),
                            QStringLiteral("PNP QUERYREMOVE : 9"),
                            QStringLiteral("PNP TYPESPECIFIC : OEM ..."),
                            QStringLiteral("PNP REMOVEPENDING : DEVNODE 42"),
                            QStringLiteral("PNP ARRIVAL : VOLUME E:,F:"),
                        }));
}

TEST_F(DeviceChangeTest, RecordsAreReadWithinTheirSize) {
  Open();
  Check(IDC_VERBOSE, true);
  Check(IDC_VERBOSEMORE, true);
  Dlg().Log()->Clear();
  // A port record whose name has no end inside the record: the name stops at the record's end.
  struct {
    DEV_BROADCAST_HDR header;
    char name[8];
  } port{{sizeof(DEV_BROADCAST_HDR) + 4, DBT_DEVTYP_PORT, 0},
         {'C', 'O', 'M', '9', 'X', 'X', 'X', 'X'}};
  Dlg().OnDeviceChange(DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&port));
  // A path longer than the line: the line is cut at 255 characters.
  Notify(DBT_DEVICEARRIVAL, BroadcastRecord::Interface(GUID_CLASS_COMPORT, std::string(600, 'p')));
  const QStringList lines = LogLines();
  ASSERT_EQ(lines.size(), 2);
  EXPECT_EQ(lines[0], QStringLiteral("PNP ARRIVAL : PORT COM9"));
  EXPECT_EQ(lines[1].size(), 255);
  EXPECT_TRUE(
      lines[1].startsWith(QStringLiteral("PNP ARRIVAL : INTERFACE GUID_CLASS_COMPORT ppp")));
}

// Records that promise less than their header or their type's fixed part: traced with type and
// size, otherwise ignored. Each lives in a buffer of its promised size: a read past it is an
// overflow to the address sanitizer.
TEST_F(DeviceChangeTest, ShortRecordsAreTracedAndIgnored) {
  const std::pair<std::array<DWORD, 2>, const char*> cases[] = {
      {{4, 3}, "a record of 4 bytes is shorter than its header"},
      {{11, 3}, "type 3 and 11 bytes is shorter than the 12"},
      {{12, 0}, "type 0 and 12 bytes is shorter than the 20"},
      {{15, 1}, "type 1 and 15 bytes is shorter than the 16"},
      {{16, 2}, "type 2 and 16 bytes is shorter than the 20"},
      {{27, 5}, "type 5 and 27 bytes is shorter than the 28"}};
  Open();
  Check(IDC_VERBOSE, true);
  Check(IDC_VERBOSEMORE, true);
  Check(IDC_OPENONPNP, true);
  for (const auto& [record, trace] : cases) {
    Dlg().Log()->Clear();
    qv::sync::ClearDebugOutputCapture();
    std::vector<BYTE> bytes(record[0]);
    std::memcpy(bytes.data(), record.data(), std::min<std::size_t>(record[0], 8));
    Dlg().OnDeviceChange(DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(bytes.data()));
    EXPECT_EQ(TraceCount(trace), 1) << qv::sync::DebugOutputCaptured();
    EXPECT_EQ(LogLines(), QStringList()) << trace;
    EXPECT_FALSE(IsOpen());
  }
}

TEST(VolumeText, DrivesFlagsAndTheDeviceBehindTheLast) {
  using qv::console::VolumeText;
  DEV_BROADCAST_VOLUME v{sizeof v, DBT_DEVTYP_VOLUME, 0, 0x30, 0};  // E and F
  EXPECT_EQ(VolumeText(v, false, qv::console::NoDosDevices, 255), "VOLUME E:,F:");
  EXPECT_EQ(VolumeText(v, true, qv::console::NoDosDevices, 255), "VOLUME E:,F: 0");
  std::string asked;
  const auto lookup = [&](const std::string& drive, std::string* path) {
    asked = drive;
    *path = "\\Device\\HarddiskVolume3";
    return true;
  };
  v.dbcv_flags = 1;
  EXPECT_EQ(VolumeText(v, true, lookup, 255), "VOLUME E:,F: 1 \\Device\\HarddiskVolume3");
  EXPECT_EQ(asked, "F:");  // the highest drive of the mask
  // Bounded by the room left; no drive at all; bits above Z name no drive.
  EXPECT_EQ(VolumeText(v, true, lookup, 20), "VOLUME E:,F: 1 \\Devi");
  v.dbcv_unitmask = 0;
  EXPECT_EQ(VolumeText(v, false, lookup, 255), "VOLUME");
  asked.clear();
  EXPECT_EQ(VolumeText(v, true, lookup, 255), "VOLUME 1");
  EXPECT_TRUE(asked.empty());
  v.dbcv_unitmask = 0xFC000001;
  EXPECT_EQ(VolumeText(v, false, lookup, 255), "VOLUME A:");
  v.dbcv_unitmask = 0x02000000;
  EXPECT_EQ(VolumeText(v, false, lookup, 255), "VOLUME Z:");
}

// Open on PNP, from records, on the virtual ports.
TEST_F(DeviceChangeTest, OpenOnPnpOpensTheArrivingPortAndClosesOnlyTheOneThatWent) {
  Open();
  Check(IDC_VERBOSE, false);
  Check(IDC_OPENONPNP, true);
  EXPECT_EQ(Notify(DBT_DEVICEARRIVAL, BroadcastRecord::Port("vloop0")), 1);
  ASSERT_TRUE(IsOpen());
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_PORT), QStringLiteral("\\\\.\\vloop0"));
  EXPECT_TRUE(Checked(IDC_OPENONPNP));  // stays set while the port is open

  // A second arrival changes nothing but the list.
  source_.Add({"COM7", "serial", ""});
  const int listed = ListedPorts();
  EXPECT_EQ(Notify(DBT_DEVICEARRIVAL, BroadcastRecord::Port("vphone0")), 1);
  EXPECT_EQ(ListedPorts(), listed + 1);
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_PORT), QStringLiteral("\\\\.\\vloop0"));
  ASSERT_TRUE(IsOpen());

  // Another port's removal, or other events of this one, do not close it.
  EXPECT_EQ(Notify(DBT_DEVICEREMOVECOMPLETE, BroadcastRecord::Port("vphone0")), 1);
  EXPECT_EQ(Notify(DBT_DEVICEREMOVECOMPLETE, BroadcastRecord::Port("VLOOP0")), 1);
  EXPECT_EQ(Notify(DBT_DEVICEQUERYREMOVE, BroadcastRecord::Port("vloop0")),
            qv::console::kDeviceChangeDefaultResult);
  EXPECT_EQ(Notify(DBT_DEVICEREMOVECOMPLETE,
                   BroadcastRecord::Interface(GUID_CLASS_COMPORT, "vloop0")),
            qv::console::kDeviceChangeDefaultResult);
  ASSERT_TRUE(IsOpen());

  EXPECT_EQ(Notify(DBT_DEVICEREMOVECOMPLETE, BroadcastRecord::Port("vloop0")), 1);
  EXPECT_FALSE(IsOpen());
  EXPECT_FALSE(Checked(IDC_OPENONPNP));
  EXPECT_EQ(Dlg().m_PNPaware, 0);
  // Disarmed: the next arrival opens nothing.
  Notify(DBT_DEVICEARRIVAL, BroadcastRecord::Port("vloop0"));
  EXPECT_FALSE(IsOpen());
}

TEST_F(DeviceChangeTest, APortNameTypedWithoutThePrefixIsNotClosedByItsRemoval) {
  Open();
  Check(IDC_OPENONPNP, true);
  TypePort(QStringLiteral("vloop0"));
  Toggle();
  ASSERT_TRUE(IsOpen());
  Notify(DBT_DEVICEREMOVECOMPLETE, BroadcastRecord::Port("vloop0"));
  EXPECT_TRUE(IsOpen());
  // Without Open on PNP nothing is closed either, and a closed port is not opened.
  Toggle();
  Check(IDC_OPENONPNP, false);
  Notify(DBT_DEVICEARRIVAL, BroadcastRecord::Port("vloop0"));
  EXPECT_FALSE(IsOpen());
}

// The port's text at the removal of vloop0: closed when it names vloop0 through the device
// prefix or /dev.
TEST_F(DeviceChangeTest, TheRemovalClosesThePortNamedEitherWay) {
  const std::pair<const char*, bool> cases[] = {
      {"\\\\.\\vloop0", true},  {"/dev/vloop0", true},   {"\\\\.\\/dev/vloop0", true},
      {"vloop0", false},        {"/dev/vloop00", false}, {"/dev/serial/vloop0", false},
      {"\\\\.\\VLOOP0", false}, {"abcdvloop0", false}};
  Open();
  for (const auto& [text, closes] : cases) {
    Check(IDC_OPENONPNP, true);
    TypePort(QStringLiteral("\\\\.\\vloop0"));
    Toggle();
    TypePort(QString::fromLatin1(text));  // as it reads when opened under it
    Notify(DBT_DEVICEREMOVECOMPLETE, BroadcastRecord::Port("vloop0"));
    EXPECT_EQ(IsOpen(), !closes) << text;
    if (IsOpen()) Toggle();
  }
}

// A port record of the header alone, or with an empty name, names no port: Open on PNP opens
// nothing (no box about a port called "") and stays armed for the next arrival.
TEST_F(DeviceChangeTest, APortRecordWithoutANameOpensNothing) {
  Open();
  Check(IDC_OPENONPNP, true);
  for (const DWORD size : {DWORD{sizeof(DEV_BROADCAST_HDR)}, DWORD{sizeof(DEV_BROADCAST_HDR) + 1}}) {
    std::vector<BYTE> bytes(size, 0);
    auto* header = reinterpret_cast<DEV_BROADCAST_HDR*>(bytes.data());
    header->dbch_size = size;
    header->dbch_devicetype = DBT_DEVTYP_PORT;
    EXPECT_EQ(Dlg().OnDeviceChange(DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(bytes.data())),
              qv::console::kDeviceChangeDefaultResult);
    EXPECT_FALSE(IsOpen()) << size;
  }
  EXPECT_EQ(boxes_.Count(), 0u);
  EXPECT_TRUE(Checked(IDC_OPENONPNP));
}

TEST_F(DeviceChangeTest, AnArrivalThatCannotBeOpenedKeepsOpenOnPnpArmed) {
  Open();
  Check(IDC_OPENONPNP, true);
  boxes_.Answer(IDOK);
  Notify(DBT_DEVICEARRIVAL, BroadcastRecord::Port("qv_no_such_port"));
  EXPECT_FALSE(IsOpen());
  ASSERT_EQ(boxes_.Count(), 1u);
  EXPECT_EQ(boxes_.Texts()[0].rfind("An error 2 occured on CreateFile:", 0), 0u);
  EXPECT_TRUE(Checked(IDC_OPENONPNP));
  Notify(DBT_DEVICEARRIVAL, BroadcastRecord::Port("vloop0"));
  EXPECT_TRUE(IsOpen());
}

}  // namespace
}  // namespace qv::test
