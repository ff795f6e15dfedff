#include "platform/devices/device_broadcast.h"

#include <algorithm>
#include <cstddef>

namespace qv::devices {

BroadcastRecord BroadcastRecord::Sized(std::size_t size, DWORD type) {
  BroadcastRecord r;
  r.words_.assign((size + sizeof(DWORD) - 1) / sizeof(DWORD), 0);
  auto* header = reinterpret_cast<DEV_BROADCAST_HDR*>(r.words_.data());
  header->dbch_size = DWORD(size);
  header->dbch_devicetype = type;
  return r;
}

BroadcastRecord BroadcastRecord::Port(const std::string& name) {
  constexpr std::size_t kName = offsetof(DEV_BROADCAST_PORT_A, dbcp_name);
  BroadcastRecord r = Sized(kName + name.size() + 1, DBT_DEVTYP_PORT);
  std::memcpy(r.Bytes() + kName, name.c_str(), name.size() + 1);
  return r;
}

BroadcastRecord BroadcastRecord::Interface(const GUID& classGuid, const std::string& path) {
  constexpr std::size_t kName = offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name);
  BroadcastRecord r =
      Sized(std::max(sizeof(DEV_BROADCAST_DEVICEINTERFACE_A), kName + path.size() + 1),
            DBT_DEVTYP_DEVICEINTERFACE);
  reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_A*>(r.Bytes())->dbcc_classguid = classGuid;
  std::memcpy(r.Bytes() + kName, path.c_str(), path.size() + 1);
  return r;
}

BroadcastRecord BroadcastRecord::Volume(DWORD unitMask, WORD flags) {
  BroadcastRecord r = Sized(sizeof(DEV_BROADCAST_VOLUME), DBT_DEVTYP_VOLUME);
  auto* record = reinterpret_cast<DEV_BROADCAST_VOLUME*>(r.Bytes());
  record->dbcv_unitmask = unitMask;
  record->dbcv_flags = flags;
  return r;
}

BroadcastRecord BroadcastRecord::DevNode(DWORD devNode) {
  BroadcastRecord r = Sized(sizeof(DEV_BROADCAST_DEVNODE), DBT_DEVTYP_DEVNODE);
  reinterpret_cast<DEV_BROADCAST_DEVNODE*>(r.Bytes())->dbcd_devnode = devNode;
  return r;
}

}  // namespace qv::devices
