#include "telephony/line_open.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "platform/comm/port_names.h"
#include "platform/sync/debug_output.h"
#include "platform/ui/message_box.h"
#include "support/reporting/checked_call.h"
#include "support/reporting/error_reporting.h"
#include "telephony/code_names.h"
#include "telephony/telephony_loader.h"

namespace qv::telephony {
namespace {

constexpr const char* kSourceModule = "quor_vixDlg";
constexpr const char* kAppName = "quor_vix";

TelephonyLineOpen* g_target = nullptr;

// A variable-size record of the service, kept in words so that its fields are aligned. Room
// beyond what the service wrote stays zero.
class Record {
 public:
  explicit Record(DWORD size) { Resize(size); }
  void Resize(DWORD size) {
    words_.assign((size + 3) / 4, 0);
    words_[0] = size;  // dwTotalSize
  }
  template <class T>
  T* As() {
    return reinterpret_cast<T*>(words_.data());
  }
  DWORD Size() const { return static_cast<DWORD>(words_.size() * 4); }
  const char* Bytes() const { return reinterpret_cast<const char*>(words_.data()); }
  // The size the service asked for, when it is one this program can follow: not below the fixed
  // part and not beyond kMaxRecordSize.
  std::optional<DWORD> NeededSize(DWORD fixedSize) const {
    const DWORD needed = words_[1];  // dwNeededSize
    if (needed > kMaxRecordSize) return std::nullopt;
    return std::max(needed, fixedSize);
  }
  // The zero-terminated text at offset, within size bytes and within the record; nothing when the
  // record's fields point elsewhere or the text has no end there.
  std::optional<std::string> Text(DWORD offset, DWORD size) const {
    const DWORD total = std::min(words_[0], Size());
    if (offset >= total) return std::nullopt;
    const DWORD room = std::min(size, total - offset);
    const char* begin = Bytes() + offset;
    const void* end = std::memchr(begin, '\0', room);
    if (end == nullptr) return std::nullopt;
    return std::string(begin, static_cast<const char*>(end));
  }

 private:
  std::vector<DWORD> words_;
};

// A call whose results `skip` ends without a report; any other failure is checked, and Retry
// repeats the call (with this test again). Gives the last result.
template <class Call>
LONG CallSkipping(std::initializer_list<LONG> skip, Call&& call, int line) {
  for (;;) {
    const LONG result = call();
    if (result >= 0) return result;
    if (std::find(skip.begin(), skip.end(), result) != skip.end()) return result;
    if (!RetryOnTapiError(kSourceModule, line, result)) return result;
  }
}

bool Skipped(std::initializer_list<LONG> skip, LONG result) {
  return std::find(skip.begin(), skip.end(), result) != skip.end();
}

void TraceDeviceLeftOut(DWORD id) {
  char text[160];
  std::snprintf(text, sizeof text,
                "Telephony: LINE_CREATE for device %u, beyond the %u line devices searched: left "
                "out\n",
                unsigned(id), unsigned(kMaxLineDevices));
  OutputDebugStringA(text);
}

}  // namespace

TelephonyLineOpen::TelephonyLineOpen(LineOpenHost& host) : host_(host) {}

TelephonyLineOpen::~TelephonyLineOpen() {
  if (g_target == this) g_target = nullptr;
}

void TelephonyLineOpen::Initialize() {
  g_target = this;
  DWORD count = 0;
  qv::support::CheckTapiResult(kSourceModule, [&] {
    return lineInitialize(&hLineApp, nullptr, &TelephonyLineOpen::OnLineCallback, nullptr, &count);
  });
  lineDeviceCount = BoundedCount(count);
}

DWORD TelephonyLineOpen::BoundedCount(DWORD count) {
  if (count <= kMaxLineDevices) return count;
  char text[160];
  std::snprintf(text, sizeof text,
                "Telephony: lineInitialize gave %u line devices; only the first %u are searched\n",
                unsigned(count), unsigned(kMaxLineDevices));
  OutputDebugStringA(text);
  return kMaxLineDevices;
}

void TelephonyLineOpen::Shutdown() {
  lineShutdown(hLineApp);
  hLineApp = 0;
  if (g_target == this) g_target = nullptr;
}

void TelephonyLineOpen::OpenWithTapi() {
  // A second search would open a second line over the first, whose line and call would then be
  // left with the service, and the first call's states would end the second attempt.
  if (attempt_.pending) {
    char text[1024];
    std::snprintf(text, sizeof text, kCallPendingFormat, attempt_.lineName.c_str());
    host_.LogText(text);
    return;
  }
  const std::string portName = qv::comm::WithoutDevicePrefix(host_.PortNameFromCombo());
  // The count is read on each round: a device announced while an error box is up joins the search.
  for (DWORD id = 0; id < lineDeviceCount; ++id) {
    if (TryDevice(id, portName)) return;
  }
  MessageBoxA(host_.BoxOwner(), kNoTapiDevice, kAppName, MB_OK);
}

bool TelephonyLineOpen::TryDevice(DWORD deviceId, const std::string& portName) {
  // 1. A device that does not speak our version, or is gone, is no candidate.
  DWORD apiVersion = 0;
  LINEEXTENSIONID extension{};
  const LONG negotiated = CallSkipping(
      {LINEERR_INCOMPATIBLEAPIVERSION, LINEERR_NODEVICE},
      [&] {
        return lineNegotiateAPIVersion(hLineApp, deviceId, TAPI_VERSION_1_4, TAPI_VERSION_1_4,
                                       &apiVersion, &extension);
      },
      __LINE__);
  // A failure the user chose to ignore leaves no version to open the line with: next device.
  if (negotiated < 0) return false;

  // 2. The line, for a look at its port.
  hLine = 0;
  const LONG opened = qv::support::CheckTapiResult(kSourceModule, [&] {
    return lineOpen(hLineApp, deviceId, &hLine, apiVersion, 0, 0, LINECALLPRIVILEGE_NONE,
                    LINEMEDIAMODE_DATAMODEM, nullptr);
  });
  // Ignored: there is no line to ask or to close.
  if (opened < 0) return false;

  const auto reject = [&] {
    qv::support::CheckTapiResult(kSourceModule, [&] { return lineClose(hLine); });
    return false;
  };

  // 3. The line's data-modem port name, in two steps: the size first, then the text.
  const std::initializer_list<LONG> noPort = {LINEERR_OPERATIONUNAVAIL, LINEERR_NODEVICE,
                                              LINEERR_INVALDEVICECLASS};
  Record id(kVarStringFixedSize);
  const LONG first = CallSkipping(
      noPort,
      [&] {
        return lineGetID(hLine, 0, 0, LINECALLSELECT_LINE, id.As<VARSTRING>(), kPortNameClass);
      },
      __LINE__);
  if (Skipped(noPort, first)) return reject();
  const auto needed = id.NeededSize(kVarStringFixedSize);
  if (!needed) return reject();
  id.Resize(*needed);
  const LONG second = qv::support::CheckTapiResult(kSourceModule, [&] {
    return lineGetID(hLine, 0, 0, LINECALLSELECT_LINE, id.As<VARSTRING>(), kPortNameClass);
  });
  if (second < 0) return reject();

  // 4. Exactly the port asked for (case counts).
  const VARSTRING* answer = id.As<VARSTRING>();
  const auto devicePort = id.Text(answer->dwStringOffset, answer->dwStringSize);
  if (!devicePort || *devicePort != portName) return reject();

  // 5. This line: its name for the log, then the call.
  Record caps(sizeof(LINEDEVCAPS));
  qv::support::CheckTapiResult(kSourceModule, [&] {
    return lineGetDevCaps(hLineApp, deviceId, apiVersion, 0, caps.As<LINEDEVCAPS>());
  });
  if (const auto capsNeeded = caps.NeededSize(sizeof(LINEDEVCAPS))) {
    caps.Resize(*capsNeeded);
    qv::support::CheckTapiResult(kSourceModule, [&] {
      return lineGetDevCaps(hLineApp, deviceId, apiVersion, 0, caps.As<LINEDEVCAPS>());
    });
  }
  const LINEDEVCAPS* devCaps = caps.As<LINEDEVCAPS>();
  const std::string lineName =
      caps.Text(devCaps->dwLineNameOffset, devCaps->dwLineNameSize).value_or(std::string());
  char text[1024];
  std::snprintf(text, sizeof text, kTryingToOpenFormat, lineName.c_str());
  host_.LogText(text);

  LINECALLPARAMS params{};
  params.dwTotalSize = sizeof params;
  params.dwBearerMode = LINEBEARERMODE_PASSTHROUGH;
  params.dwMinRate = 0;
  params.dwMaxRate = 0;
  params.dwMediaMode = LINEMEDIAMODE_DATAMODEM;
  attempt_ = Attempt{true, lineName, 0, 0};
  const LONG request = qv::support::CheckTapiResult(kSourceModule, [&] {
    return lineMakeCall(hLine, &hCall, nullptr, 0, &params);
  });
  // A call refused at once ends the attempt here; otherwise its reply or its states end it.
  if (request < 0) EndFailedAttempt(0);
  else attempt_.request = DWORD(request);
  return true;
}

void TelephonyLineOpen::EndFailedAttempt(HCALL call) {
  const std::string name = attempt_.lineName;
  attempt_ = Attempt{};
  if (call != 0) {
    qv::support::CheckTapiResult(kSourceModule, [&] { return lineDeallocateCall(call); });
    if (hCall == call) hCall = 0;
  }
  qv::support::CheckTapiResult(kSourceModule, [&] { return lineClose(hLine); });
  hLine = 0;
  char text[1024];
  std::snprintf(text, sizeof text, kCallEndedFormat, name.c_str());
  host_.LogText(text);
}

void TelephonyLineOpen::OnCallState(DWORD call, DWORD state) {
  // The attempt's call: the first call state after the request, or the handle the service gave.
  if (attempt_.pending && attempt_.call == 0 && call != 0 && (hCall == 0 || hCall == call))
    attempt_.call = call;
  const bool ours = attempt_.pending && call != 0 && call == attempt_.call;
  if (state == LINECALLSTATE_CONNECTED) {
    // Connected: the call and its line stay until the port closes.
    if (ours) attempt_ = Attempt{};
    OnCallConnected();
    return;
  }
  hCall = 0;
  if (ours && state == LINECALLSTATE_IDLE) EndFailedAttempt(call);
}

void TelephonyLineOpen::ReleaseCall() {
  if (hCall != 0) {
    qv::support::CheckTapiResult(kSourceModule, [&] { return lineDeallocateCall(hCall); });
    qv::support::CheckTapiResult(kSourceModule, [&] { return lineClose(hLine); });
  }
  hCall = 0;
}

void TelephonyLineOpen::OnLineCallback(DWORD hDevice, DWORD dwMsg, DWORD /*dwCallbackInstance*/,
                                       DWORD dwParam1, DWORD dwParam2, DWORD dwParam3) {
  if (g_target != nullptr)
    g_target->HandleLineMessage(hDevice, dwMsg, dwParam1, dwParam2, dwParam3);
}

std::string LineMessageTrace(DWORD hDevice, DWORD dwMsg, DWORD dwParam1, DWORD dwParam2,
                             DWORD dwParam3) {
  char text[1024];
  const char* name = LineMessageName(dwMsg);
  switch (dwMsg) {
    case LINE_CALLSTATE:
      std::snprintf(text, sizeof text,
                    "%-16s hCall=%-8X CallState=%-31s CallStateDetail=%-31s CallPrivilege=%d", name,
                    unsigned(hDevice), LineCallStateName(dwParam1),
                    LineCallStateDetailName(dwParam1, dwParam2), int(dwParam3));
      break;
    case LINE_LINEDEVSTATE:
      std::snprintf(text, sizeof text,
                    "%-16s DeviceState=0x%X DeviceStateDetail1=%d DeviceStateDetail2=%d", name,
                    unsigned(dwParam1), int(dwParam2), int(dwParam3));
      break;
    case LINE_REPLY:
      std::snprintf(text, sizeof text, "%-16s requestID=%8d result=%s", name, int(dwParam1),
                    LineErrorName(static_cast<LONG>(dwParam2)));
      break;
    case LINE_CREATE:
      std::snprintf(text, sizeof text, "%-16s idDevice=%d", name, int(dwParam1));
      break;
    default:
      std::snprintf(text, sizeof text, "%-16s handle=%X\tdwMsg=%3d\tdwParam1=%d dwParam2=%d", name,
                    unsigned(hDevice), int(dwMsg), int(dwParam1), int(dwParam2));
      break;
  }
  return text;
}

void TelephonyLineOpen::HandleLineMessage(DWORD hDevice, DWORD dwMsg, DWORD dwParam1,
                                          DWORD dwParam2, DWORD dwParam3) {
  host_.LogText(LineMessageTrace(hDevice, dwMsg, dwParam1, dwParam2, dwParam3).c_str());
  switch (dwMsg) {
    case LINE_LINEDEVSTATE:
      // The service asks every application to register again.
      if (dwParam1 == LINEDEVSTATE_REINIT && dwParam2 == 0) {
        qv::support::CheckTapiResult(kSourceModule, [&] { return lineShutdown(hLineApp); });
        // The registration's line and call went with it: a close must not release them again.
        hLine = 0;
        hCall = 0;
        attempt_ = Attempt{};
        Initialize();
      }
      break;
    case LINE_CREATE:
      if (dwParam1 >= kMaxLineDevices) TraceDeviceLeftOut(dwParam1);
      else if (dwParam1 >= lineDeviceCount) lineDeviceCount = dwParam1 + 1;
      break;
    case LINE_REPLY:
      // The request that placed the call failed: there is no call, only its line.
      if (attempt_.pending && attempt_.request != 0 && dwParam1 == attempt_.request &&
          static_cast<LONG>(dwParam2) < 0)
        EndFailedAttempt(0);
      break;
    case LINE_CALLSTATE: OnCallState(hDevice, dwParam1); break;
    default: break;
  }
}

void TelephonyLineOpen::OnCallConnected() {
  // A port opened by name while the call was being placed stays the console's port; the call
  // keeps its handle and is released with the port's close.
  if (host_.PortIsOpen()) return;
  const std::initializer_list<LONG> noHandle = {LINEERR_OPERATIONUNAVAIL, LINEERR_NODEVICE};
  Record id(kVarStringFixedSize);
  const LONG first = CallSkipping(
      noHandle,
      [&] {
        return lineGetID(0, 0, hCall, LINECALLSELECT_CALL, id.As<VARSTRING>(), kDataModemClass);
      },
      __LINE__);
  if (Skipped(noHandle, first)) return;
  const auto needed = id.NeededSize(kVarStringFixedSize);
  if (needed) {
    id.Resize(*needed);
    qv::support::CheckTapiResult(kSourceModule, [&] {
      return lineGetID(0, 0, hCall, LINECALLSELECT_CALL, id.As<VARSTRING>(), kDataModemClass);
    });
  }
  // The handle: the first four bytes behind the fixed part (zero when the service wrote none).
  DWORD value = 0;
  if (id.Size() >= kVarStringFixedSize + sizeof value)
    std::memcpy(&value, id.Bytes() + kVarStringFixedSize, sizeof value);
  if (value != 0) host_.OpenCallPort(reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(value)));
  else host_.ClearPort();
}

}  // namespace qv::telephony
