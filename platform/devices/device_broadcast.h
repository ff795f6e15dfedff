// Device-change notifications as a window receives them: the event codes, the records that the
// events carry (each begins with DEV_BROADCAST_HDR) and the interface classes, with the layouts
// and values of the Win32 headers, so that the console reads them as it would there.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "platform/types.h"

struct GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];
};

inline bool operator==(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

using HDEVNOTIFY = void*;

// Event codes (WM_DEVICECHANGE's first parameter).
constexpr UINT DBT_DEVNODES_CHANGED = 0x0007;
constexpr UINT DBT_CONFIGCHANGED = 0x0018;
constexpr UINT DBT_DEVICEARRIVAL = 0x8000;
constexpr UINT DBT_DEVICEQUERYREMOVE = 0x8001;
constexpr UINT DBT_DEVICEQUERYREMOVEFAILED = 0x8002;
constexpr UINT DBT_DEVICEREMOVEPENDING = 0x8003;
constexpr UINT DBT_DEVICEREMOVECOMPLETE = 0x8004;
constexpr UINT DBT_DEVICETYPESPECIFIC = 0x8005;

// Record types (dbch_devicetype).
constexpr DWORD DBT_DEVTYP_OEM = 0;
constexpr DWORD DBT_DEVTYP_DEVNODE = 1;
constexpr DWORD DBT_DEVTYP_VOLUME = 2;
constexpr DWORD DBT_DEVTYP_PORT = 3;
constexpr DWORD DBT_DEVTYP_NET = 4;
constexpr DWORD DBT_DEVTYP_DEVICEINTERFACE = 5;
constexpr DWORD DBT_DEVTYP_HANDLE = 6;

// RegisterDeviceNotification flags.
constexpr DWORD DEVICE_NOTIFY_WINDOW_HANDLE = 0;
constexpr DWORD DEVICE_NOTIFY_ALL_INTERFACE_CLASSES = 4;

struct DEV_BROADCAST_HDR {
  DWORD dbch_size;
  DWORD dbch_devicetype;
  DWORD dbch_reserved;
};

struct DEV_BROADCAST_OEM {
  DWORD dbco_size;
  DWORD dbco_devicetype;
  DWORD dbco_reserved;
  DWORD dbco_identifier;
  DWORD dbco_suppfunc;
};

struct DEV_BROADCAST_DEVNODE {
  DWORD dbcd_size;
  DWORD dbcd_devicetype;
  DWORD dbcd_reserved;
  DWORD dbcd_devnode;
};

struct DEV_BROADCAST_VOLUME {
  DWORD dbcv_size;
  DWORD dbcv_devicetype;
  DWORD dbcv_reserved;
  DWORD dbcv_unitmask;  // bit 0: drive A
  WORD dbcv_flags;
};

// The name runs on beyond the record's declared end, up to dbcp_size.
struct DEV_BROADCAST_PORT_A {
  DWORD dbcp_size;
  DWORD dbcp_devicetype;
  DWORD dbcp_reserved;
  char dbcp_name[1];
};

struct DEV_BROADCAST_DEVICEINTERFACE_A {
  DWORD dbcc_size;
  DWORD dbcc_devicetype;
  DWORD dbcc_reserved;
  GUID dbcc_classguid;
  char dbcc_name[1];
};

static_assert(sizeof(DEV_BROADCAST_HDR) == 12);
static_assert(sizeof(DEV_BROADCAST_VOLUME) == 20);
static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_A) == 32);

// Interface classes, with their published values.
inline constexpr GUID GUID_CLASS_USBHUB = {
    0xF18A0E88, 0xC30C, 0x11D0, {0x88, 0x15, 0x00, 0xA0, 0xC9, 0x06, 0xBE, 0xD8}};
inline constexpr GUID GUID_CLASS_USB_DEVICE = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};
inline constexpr GUID GUID_USB_WMI_STD_DATA = {
    0x4E623B20, 0xCB14, 0x11D1, {0xB3, 0x31, 0x00, 0xA0, 0xC9, 0x59, 0xBB, 0xD2}};
inline constexpr GUID GUID_CLASS_COMPORT = {
    0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};
inline constexpr GUID GUID_SERENUM_BUS_ENUMERATOR = {
    0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
inline constexpr GUID DiskClassGuid = {
    0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
inline constexpr GUID CdRomClassGuid = {
    0x53F56308, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
inline constexpr GUID PartitionClassGuid = {
    0x53F5630A, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
inline constexpr GUID TapeClassGuid = {
    0x53F5630B, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
inline constexpr GUID WriteOnceDiskClassGuid = {
    0x53F5630C, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
inline constexpr GUID VolumeClassGuid = {
    0x53F5630D, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
inline constexpr GUID MediumChangerClassGuid = {
    0x53F56310, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
inline constexpr GUID FloppyClassGuid = {
    0x53F56311, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
inline constexpr GUID CdChangerClassGuid = {
    0x53F56312, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
inline constexpr GUID StoragePortClassGuid = {
    0x2ACCFE60, 0xC130, 0x11D2, {0xB0, 0x82, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
inline constexpr GUID ModemClassGuid = {
    0x2C7089AA, 0x2E0E, 0x11D1, {0xB1, 0x14, 0x00, 0xC0, 0x4F, 0xC2, 0xAA, 0xE4}};
inline constexpr GUID BlueToothClassGuid = {
    0x0850302A, 0xB344, 0x4FDA, {0x9B, 0xE9, 0x90, 0x57, 0x6B, 0x8D, 0x46, 0xF0}};

namespace qv::devices {

// Records built as the system builds them: the size covers the name and its NUL. The bytes are
// kept in DWORDs so that the record's fields are aligned.
class BroadcastRecord {
 public:
  BroadcastRecord() = default;
  static BroadcastRecord Port(const std::string& name);
  static BroadcastRecord Interface(const GUID& classGuid, const std::string& path);
  static BroadcastRecord Volume(DWORD unitMask, WORD flags);
  static BroadcastRecord DevNode(DWORD devNode);

  bool empty() const { return words_.empty(); }
  const DEV_BROADCAST_HDR* Header() const {
    return empty() ? nullptr : reinterpret_cast<const DEV_BROADCAST_HDR*>(words_.data());
  }
  DWORD Size() const { return empty() ? 0 : Header()->dbch_size; }

 private:
  // A zeroed record of `size` bytes with its header filled in.
  static BroadcastRecord Sized(std::size_t size, DWORD type);
  BYTE* Bytes() { return reinterpret_cast<BYTE*>(words_.data()); }
  std::vector<DWORD> words_;
};

// One notification: its event code and its record (none for the plain events).
struct DeviceChange {
  UINT eventCode = 0;
  BroadcastRecord record;
};

}  // namespace qv::devices
