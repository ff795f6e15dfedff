// The console's plug-and-play watch: the texts of device-change notifications and the tables
// they come from. The handler itself is CQuorvixDlg::OnDeviceChange (quorvix_dlg_devices.cpp).
#pragma once

#include <functional>
#include <string>

#include "platform/devices/device_broadcast.h"

class QMenu;

namespace qv::console {

// What the window's default processing answers to a device change: every request is granted (the
// watch never refuses a removal).
constexpr LPARAM kDeviceChangeDefaultResult = 1;

// The log text of an event code; nullptr for a code the table does not name. quiet: logged only
// with "Verbose more"; withRecord: the event carries a record that the line describes.
const char* DeviceEventText(UINT eventCode, bool* quiet, bool* withRecord);

// The name of an interface class from the table, else its registry form with braces.
std::string InterfaceClassName(const GUID& classGuid);
std::string GuidRegistryForm(const GUID& guid);

// The device behind a drive ("E:"): true with the first device path. Linux has no drive letters,
// so the console's lookup never finds one; tests give their own.
using DosDeviceLookup = std::function<bool(const std::string& drive, std::string* path)>;
bool NoDosDevices(const std::string& drive, std::string* path);

// The detail of a volume record: "VOLUME E:,F:", or with "Verbose more" the flags and the device
// behind the highest drive ("VOLUME E: 0 \Device\HarddiskVolume3"). At most `room` characters.
std::string VolumeText(const DEV_BROADCAST_VOLUME& volume, bool verboseMore,
                       const DosDeviceLookup& lookup, std::size_t room);

// One notification as the console reads it.
struct DeviceChangeLine {
  std::string text;           // "PNP ARRIVAL : PORT COM7", at most 255 characters
  bool quiet = false;         // shown only with "Verbose more"
  bool portsChanged = false;  // a port or device node record: the port list is refilled
  bool ignored = false;       // a record too short for its type: traced, nothing else done
};
// data: the notification's record or null. The record is read no further than its dbch_size,
// and only when that covers the header and the fixed part of the record's type.
DeviceChangeLine DescribeDeviceChange(UINT eventCode, const DEV_BROADCAST_HDR* data,
                                      bool verboseMore, const DosDeviceLookup& lookup);

// The name a port record carries (dbcp_name), read within the record's size.
std::string PortRecordName(const DEV_BROADCAST_HDR& record);

// "Unplug vloop0" / "Plug vloop0" for each virtual port: the user tries the plug-and-play
// watch without hardware.
void AddVirtualPlugActions(QMenu& menu);

}  // namespace qv::console
