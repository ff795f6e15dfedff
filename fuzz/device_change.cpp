// The console's reading of device-change notifications: an event code, then a record of any
// bytes. The record is handed over in an allocation of exactly the size it claims (as the
// watch builds them), so a read past its dbch_size is a read past the allocation.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "console/quorvix_dlg_devices.h"
#include "fuzz/fuzz_input.h"
#include "fuzz/fuzz_trace.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const qv::fuzz::QuietTrace trace;
  qv::fuzz::Input in(data, size);
  static constexpr UINT kCodes[] = {DBT_DEVNODES_CHANGED,        DBT_CONFIGCHANGED,
                                    DBT_DEVICEARRIVAL,           DBT_DEVICEQUERYREMOVE,
                                    DBT_DEVICEQUERYREMOVEFAILED, DBT_DEVICEREMOVEPENDING,
                                    DBT_DEVICEREMOVECOMPLETE,    DBT_DEVICETYPESPECIFIC};
  const std::uint8_t pick = in.Byte();
  const UINT code = pick < 8 ? kCodes[pick] : (pick < 16 ? in.U32() : DBT_DEVICEARRIVAL);
  const bool verboseMore = in.Bool();
  const bool withRecord = in.Bool();
  const std::string drivePath = in.ShortText();
  std::vector<std::uint8_t> record = in.Rest();
  if (withRecord && record.size() < 4) record.resize(4);
  DWORD claim = 0;
  if (record.size() >= 4) {
    std::memcpy(&claim, record.data(), 4);
    claim = std::min<DWORD>(claim, DWORD(record.size()));
    std::memcpy(record.data(), &claim, 4);
    record.resize(std::max<std::size_t>(4, claim));
  }
  auto lookup = [&](const std::string&, std::string* path) {
    *path = drivePath;
    return !drivePath.empty();
  };
  const auto* header = record.empty() || !withRecord
                           ? nullptr
                           : reinterpret_cast<const DEV_BROADCAST_HDR*>(record.data());
  const qv::console::DeviceChangeLine line =
      qv::console::DescribeDeviceChange(code, header, verboseMore, lookup);
  if (line.text.size() > 255) __builtin_trap();
  if (header && claim >= 12) (void)qv::console::PortRecordName(*header);
  return 0;
}
