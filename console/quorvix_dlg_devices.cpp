// The plug-and-play watch of the console: each device-change notification becomes a log line,
// port changes refill the port list, and with "Open on PNP" the port that arrives is opened and
// the open port that goes away is closed.
#include "console/quorvix_dlg_devices.h"

#include <QApplication>
#include <QComboBox>
#include <QMenu>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "capture/capture_writer.h"
#include "console/after_modal.h"
#include "console/quorvix_dlg.h"
#include "drivertests/port_handle.h"
#include "platform/comm/port_names.h"
#include "platform/comm/virtual_port_control.h"
#include "platform/devices/device_watch.h"
#include "platform/sync/debug_output.h"
#include "platform/ui/qt/queued_call.h"

namespace qv::console {
namespace {

constexpr std::size_t kTextBuffer = 256;  // line and detail, each with its NUL

struct EventName {
  UINT code;
  const char* text;
  bool withRecord;
  bool quiet;
};
constexpr EventName kEvents[] = {
    {DBT_DEVNODES_CHANGED, "DEVNODES_CHANGED", false, true},
    {DBT_CONFIGCHANGED, "CONFIGCHANGED", false, false},
    {DBT_DEVICEARRIVAL, "ARRIVAL", true, false},
    {DBT_DEVICEQUERYREMOVE, "QUERYREMOVE", true, false},
    {DBT_DEVICEQUERYREMOVEFAILED, "QUERYREMOVEFAILED", true, false},
    {DBT_DEVICEREMOVEPENDING, "REMOVEPENDING", true, false},
    {DBT_DEVICEREMOVECOMPLETE, "REMOVED", true, false},
    {DBT_DEVICETYPESPECIFIC, "TYPESPECIFIC", true, false},
};

struct ClassName {
  const char* name;
  const GUID* guid;
};
// Looked up in this order.
constexpr ClassName kClasses[] = {
    {"GUID_CLASS_USBHUB", &GUID_CLASS_USBHUB},
    {"GUID_CLASS_USB_DEVICE", &GUID_CLASS_USB_DEVICE},
    {"GUID_USB_WMI_STD_DATA", &GUID_USB_WMI_STD_DATA},
    {"GUID_CLASS_COMPORT", &GUID_CLASS_COMPORT},
    {"GUID_SERENUM_BUS_ENUMERATOR", &GUID_SERENUM_BUS_ENUMERATOR},
    {"DiskClassGuid", &DiskClassGuid},
    {"CdRomClassGuid", &CdRomClassGuid},
    {"PartitionClassGuid", &PartitionClassGuid},
    {"TapeClassGuid", &TapeClassGuid},
    {"WriteOnceDiskClassGuid", &WriteOnceDiskClassGuid},
    {"VolumeClassGuid", &VolumeClassGuid},
    {"MediumChangerClassGuid", &MediumChangerClassGuid},
    {"FloppyClassGuid", &FloppyClassGuid},
    {"CdChangerClassGuid", &CdChangerClassGuid},
    {"StoragePortClassGuid", &StoragePortClassGuid},
    {"ModemClassGuid", &ModemClassGuid},
    {"BlueToothClassGuid", &BlueToothClassGuid},
};

std::string Hex8(unsigned long long value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%.8llX", value);
  return text;
}

// A name that runs on after a record's fixed part, up to the record's size.
std::string NameInRecord(const DEV_BROADCAST_HDR& record, std::size_t offset) {
  if (record.dbch_size <= offset) return {};
  const char* name = reinterpret_cast<const char*>(&record) + offset;
  return std::string(name, strnlen(name, record.dbch_size - offset));
}

// The bytes a record of `type` holds before any name: a shorter record is damaged.
std::size_t FixedPartSize(DWORD type) {
  switch (type) {
    case DBT_DEVTYP_OEM: return sizeof(DEV_BROADCAST_OEM);
    case DBT_DEVTYP_DEVNODE: return sizeof(DEV_BROADCAST_DEVNODE);
    case DBT_DEVTYP_VOLUME: return sizeof(DEV_BROADCAST_VOLUME);
    case DBT_DEVTYP_PORT: return offsetof(DEV_BROADCAST_PORT_A, dbcp_name);
    case DBT_DEVTYP_DEVICEINTERFACE: return offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name);
    default: return sizeof(DEV_BROADCAST_HDR);
  }
}

// Whether the record promises its header and its type's fixed part; a short one is traced. Its
// type is read only when its size covers that field.
bool HoldsFixedPart(const DEV_BROADCAST_HDR& record) {
  char trace[160];
  if (record.dbch_size < offsetof(DEV_BROADCAST_HDR, dbch_reserved)) {
    std::snprintf(trace, sizeof trace,
                  "Device change: a record of %u bytes is shorter than its header; ignored\n",
                  unsigned(record.dbch_size));
  } else {
    const std::size_t fixed =
        std::max(sizeof(DEV_BROADCAST_HDR), FixedPartSize(record.dbch_devicetype));
    if (record.dbch_size >= fixed) return true;
    std::snprintf(trace, sizeof trace,
                  "Device change: a record of type %u and %u bytes is shorter than the %zu its "
                  "type needs; ignored\n",
                  unsigned(record.dbch_devicetype), unsigned(record.dbch_size), fixed);
  }
  OutputDebugStringA(trace);
  return false;
}

std::string Bounded(std::string text) {
  if (text.size() > kTextBuffer - 1) text.resize(kTextBuffer - 1);
  return text;
}

}  // namespace

const char* DeviceEventText(UINT eventCode, bool* quiet, bool* withRecord) {
  for (const EventName& e : kEvents) {
    if (e.code != eventCode) continue;
    if (quiet) *quiet = e.quiet;
    if (withRecord) *withRecord = e.withRecord;
    return e.text;
  }
  if (quiet) *quiet = false;
  if (withRecord) *withRecord = false;
  return nullptr;
}

std::string GuidRegistryForm(const GUID& g) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                unsigned(g.Data1), unsigned(g.Data2), unsigned(g.Data3), g.Data4[0], g.Data4[1],
                g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

std::string InterfaceClassName(const GUID& classGuid) {
  for (const ClassName& c : kClasses) {
    if (*c.guid == classGuid) return c.name;
  }
  return GuidRegistryForm(classGuid);
}

bool NoDosDevices(const std::string&, std::string*) { return false; }

std::string VolumeText(const DEV_BROADCAST_VOLUME& volume, bool verboseMore,
                       const DosDeviceLookup& lookup, std::size_t room) {
  std::string detail = "VOLUME ";
  char last = 0;
  // Drives A to Z; the walk ends after the highest drive in the mask. Bits above Z name no drive.
  for (int bit = 0; bit < 26 && (volume.dbcv_unitmask >> bit) != 0; ++bit) {
    if (!(volume.dbcv_unitmask & (1u << bit))) continue;
    last = char('A' + bit);
    detail += last;
    detail += ":,";
  }
  if (!verboseMore) {
    detail.pop_back();  // the trailing comma, or the blank when no drive was named
    return detail.substr(0, room);
  }
  detail.back() = ' ';
  detail += std::to_string(volume.dbcv_flags);
  std::string path;
  if (last != 0 && lookup && lookup(std::string(1, last) + ":", &path) && !path.empty()) {
    detail += ' ';
    detail += path;
  }
  return detail.substr(0, room);
}

std::string PortRecordName(const DEV_BROADCAST_HDR& record) {
  return NameInRecord(record, offsetof(DEV_BROADCAST_PORT_A, dbcp_name));
}

DeviceChangeLine DescribeDeviceChange(UINT eventCode, const DEV_BROADCAST_HDR* data,
                                      bool verboseMore, const DosDeviceLookup& lookup) {
  DeviceChangeLine out;
  bool withRecord = false;
  const char* name = DeviceEventText(eventCode, &out.quiet, &withRecord);
  std::string line = "PNP " + (name ? std::string(name) : Hex8(eventCode));
  std::string detail;
  if (!withRecord) {
    if (data) detail = " " + Hex8(reinterpret_cast<std::uintptr_t>(data));
  } else if (data && !HoldsFixedPart(*data)) {
    out.ignored = true;
    return out;
  } else if (data) {
    line += " : ";
    switch (data->dbch_devicetype) {
      case DBT_DEVTYP_OEM: detail = "OEM ..."; break;
      case DBT_DEVTYP_DEVNODE:
        out.portsChanged = true;
        detail =
            "DEVNODE " +
            std::to_string(int(reinterpret_cast<const DEV_BROADCAST_DEVNODE*>(data)->dbcd_devnode));
        break;
      case DBT_DEVTYP_VOLUME:
        detail = VolumeText(*reinterpret_cast<const DEV_BROADCAST_VOLUME*>(data), verboseMore,
                            lookup, kTextBuffer - 1);
        break;
      case DBT_DEVTYP_PORT:
        out.portsChanged = true;
        detail = "PORT " + PortRecordName(*data);
        break;
      case DBT_DEVTYP_DEVICEINTERFACE: {
        const auto* record = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(data);
        detail = "INTERFACE " + InterfaceClassName(record->dbcc_classguid) + " " +
                 NameInRecord(*data, offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name));
        out.quiet = true;
        break;
      }
      default: detail = std::to_string(int(data->dbch_devicetype)); break;
    }
  }
  out.text = Bounded(line + Bounded(detail));
  return out;
}

void AddVirtualPlugActions(QMenu& menu) {
  const auto ports = qv::comm::ListVirtualPorts();
  if (ports.empty()) return;
  menu.addSeparator();
  for (const qv::comm::VirtualPortInfo& port : ports) {
    const std::string name = port.name;
    const bool plugged = port.plugged;
    const QString text = (plugged ? QStringLiteral("Unplug ") : QStringLiteral("Plug ")) +
                         QString::fromStdString(name);
    QObject::connect(menu.addAction(text), &QAction::triggered, &menu, [name, plugged] {
      if (plugged) {
        qv::comm::UnplugVirtualPort(name);
      } else {
        qv::comm::PlugVirtualPort(name);
      }
    });
  }
}

}  // namespace qv::console

using namespace qv::console;

void CQuorvixDlg::StartDeviceWatch() {
  // Notifications are queued for this window's thread; one that is still queued when the window
  // goes is dropped with it.
  deviceWatch_ = std::make_unique<qv::devices::DeviceChangeListener>(
      [this](const qv::devices::DeviceChange& change) {
        qv::ui::QueueCall(this, [this, change] {
          if (!deviceWatch_) return;  // the window has ended meanwhile
          OnDeviceChange(change.eventCode, reinterpret_cast<LPARAM>(change.record.Header()));
        });
      });
  DEV_BROADCAST_DEVICEINTERFACE_A filter{};
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_classguid = GUID_CLASS_USB_DEVICE;
  // Not checked: without it only the interface events are missing.
  devNotify_ =
      RegisterDeviceNotificationA(deviceWatch_.get(), &filter, DEVICE_NOTIFY_ALL_INTERFACE_CLASSES);
}

void CQuorvixDlg::UnregisterDeviceWatch() {
  if (devNotify_) UnregisterDeviceNotification(devNotify_);
  devNotify_ = nullptr;
}

void CQuorvixDlg::StopDeviceWatch() {
  UnregisterDeviceWatch();
  deviceWatch_.reset();
}

LPARAM CQuorvixDlg::OnDeviceChange(UINT eventCode, LPARAM data) {
  const auto* record = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
  const DeviceChangeLine line =
      DescribeDeviceChange(eventCode, record, m_VerboseMore != 0, NoDosDevices);
  if (line.ignored) return kDeviceChangeDefaultResult;
  if (line.portsChanged) RefreshPortList();
  if (m_VerboseMore || !line.quiet) LogText(line.text.c_str());

  const bool arrival = eventCode == DBT_DEVICEARRIVAL;
  if ((!arrival && eventCode != DBT_DEVICEREMOVECOMPLETE) || record == nullptr ||
      record->dbch_devicetype != DBT_DEVTYP_PORT) {
    return kDeviceChangeDefaultResult;
  }
  const std::string name = PortRecordName(*record);
  // A port record without a name (a damaged one) names no port to open, close or record.
  if (name.empty()) return kDeviceChangeDefaultResult;
  // Every port that comes and goes, whether "Open on PNP" acts on it or not.
  qv::capture::Record(arrival ? qv::capture::Kind::kArrival : qv::capture::Kind::kRemoval, name);
  if (!m_PNPaware) return kDeviceChangeDefaultResult;
  if (arrival) {
    OpenOnArrival(name);
    return 1;
  }
  std::string text = GetDlgItemText(IDC_PORT).toLocal8Bit().toStdString();
  if (text.size() > qv::comm::kPortNameSize - 1) text.resize(qv::comm::kPortNameSize - 1);
  // The port behind "\\.\NAME" or "/dev/NAME"; a name typed without either does not match.
  if (hPort != INVALID_HANDLE_VALUE && qv::comm::RecordNameOfPort(text) == name) {
    // A close request of the running connection: closed once, and not inside an open box.
    CloseOnRequest(portSerial_.load());
  }
  return 1;
}

void CQuorvixDlg::OpenOnArrival(const std::string& name) {
  if (!m_PNPaware || hPort != INVALID_HANDLE_VALUE) return;
  // A box is open (the close's telephony error, an open error): its caller goes on when it
  // ends, and a close would then set the controls of the closed state over the port opened
  // meanwhile. The arrival is handled once the box has gone, by the rule as it then stands.
  QWidget* modal = QApplication::activeModalWidget();
  if (modal != nullptr && modal != this) {
    RunAfterModal(modal, this, [this, name] { OpenOnArrival(name); });
    return;
  }
  if (auto* port = Item<QComboBox>(IDC_PORT))
    port->setEditText(QString::fromLocal8Bit(qv::comm::kDevicePrefix + name));
  SendCommand(IDC_OPENCLOSE);
}
