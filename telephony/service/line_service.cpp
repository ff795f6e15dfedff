// The line service ("TAPI32.DLL"): the nine line functions of telephony API 1.4, as far as the
// program uses them, over the program's own serial ports.
//
// - Line devices are the modem ports (line_devices.h). A device's "comm/datamodem/portname" is its
//   port name; lineGetDevCaps gives its line name.
// - A call in pass-through bearer mode with the data-modem media mode dials nothing: the service
//   opens the port for overlapped I/O, reports the call connected, and "comm/datamodem" on the
//   call gives that port's handle (then the device name). From then on the handle is the
//   application's; the service closes only a handle it never gave out. A port that cannot be
//   opened (in use, gone) ends the call: disconnected, then idle, and no handle.
// - Messages reach an application through the event loop of the thread that called
//   lineInitialize, after the call that caused them has returned, one at a time, never while the
//   service holds its lock (a callback may call the service again, lineShutdown included).
// - A modem port that appears raises LINE_CREATE for every application; one that goes away ends
//   its connected calls (disconnected, idle) and its device answers LINEERR_NODEVICE.
//
// The service runs inside the program and uses the program's port layer: its handles are the
// program's handles.
#include <strings.h>

#include <QObject>
#include <QPointer>
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/comm/comm_api.h"
#include "platform/devices/device_watch.h"
#include "platform/sync/kernel_object.h"
#include "platform/ui/qt/queued_call.h"
#include "telephony/line_types.h"
#include "telephony/service/line_devices.h"

#define QV_TAPI_EXPORT extern "C" __attribute__((visibility("default")))

namespace qv::tapi {
namespace {

constexpr DWORD kLowestVersion = 0x00010003;
constexpr DWORD kHighestVersion = TAPI_VERSION_1_4;
constexpr const char* kProviderInfo = "quor_vix line service";
// LINEDEVCAPS grew by dwLineFeatures in version 1.4.
constexpr DWORD kDevCapsSize13 = offsetof(LINEDEVCAPS, dwLineFeatures);
constexpr DWORD kDevCapsSize14 = sizeof(LINEDEVCAPS);

struct App {
  HLINEAPP handle = 0;
  LINECALLBACK callback = nullptr;
  QPointer<QObject> context;  // lives in the registering thread
  std::deque<std::function<void()>> tasks;
  bool drainScheduled = false;
};

struct Line {
  HLINE handle = 0;
  HLINEAPP app = 0;
  DWORD deviceId = 0;
  DWORD apiVersion = 0;
  DWORD callbackInstance = 0;
};

struct Call {
  HCALL handle = 0;
  HLINE line = 0;
  DWORD state = 0;  // 0 while being placed
  HANDLE port = INVALID_HANDLE_VALUE;
  bool portGiven = false;  // the handle went to the application
};

struct Service {
  std::mutex lock;
  std::vector<LineDevice> devices;
  std::map<HLINEAPP, App> apps;
  std::map<HLINE, Line> lines;
  std::map<HCALL, Call> calls;
  DWORD nextApp = 0x00001001;
  DWORD nextLine = 0x00020001;
  DWORD nextCall = 0x00030001;
  DWORD nextRequest = 1;

  // The device watch lives while an application is registered.
  std::mutex watchLock;
  std::unique_ptr<qv::devices::DeviceChangeListener> watch;
  std::atomic<bool> rescanQueued{false};
};

Service& S() {
  static Service* service = new Service;  // the library is never unloaded
  return *service;
}

// The receiver of a thread's deliveries: lives as long as the thread.
QObject* ThreadContext() {
  thread_local std::unique_ptr<QObject> context = std::make_unique<QObject>();
  return context.get();
}

void Drain(HLINEAPP handle);

void PostLocked(App& app, std::function<void()> task) {
  app.tasks.push_back(std::move(task));
  if (app.drainScheduled || app.context.isNull()) return;
  app.drainScheduled = true;
  const HLINEAPP handle = app.handle;
  qv::ui::QueueCall(app.context.data(), [handle] { Drain(handle); });
}

void Drain(HLINEAPP handle) {
  Service& s = S();
  for (;;) {
    std::function<void()> task;
    {
      std::lock_guard guard(s.lock);
      auto it = s.apps.find(handle);
      if (it == s.apps.end()) return;
      if (it->second.tasks.empty()) {
        it->second.drainScheduled = false;
        return;
      }
      task = std::move(it->second.tasks.front());
      it->second.tasks.pop_front();
    }
    task();
  }
}

// Calls the application's callback, unless it left in the meantime. `before` runs under the
// lock just ahead of the call (the completion of a request writes its result there).
void Deliver(HLINEAPP handle, DWORD device, DWORD message, DWORD instance, DWORD p1, DWORD p2,
             DWORD p3, const std::function<void()>& before = {}) {
  LINECALLBACK callback = nullptr;
  {
    std::lock_guard guard(S().lock);
    auto it = S().apps.find(handle);
    if (it == S().apps.end()) return;
    if (before) before();
    callback = it->second.callback;
  }
  callback(device, message, instance, p1, p2, p3);
}

void SendLocked(App& app, DWORD device, DWORD message, DWORD instance, DWORD p1, DWORD p2,
                DWORD p3) {
  const HLINEAPP handle = app.handle;
  PostLocked(app, [=] { Deliver(handle, device, message, instance, p1, p2, p3); });
}

// A call state for the application of the call's line.
void SendCallStateLocked(Service& s, const Call& call, DWORD state, DWORD detail, DWORD privilege) {
  auto line = s.lines.find(call.line);
  if (line == s.lines.end()) return;
  auto app = s.apps.find(line->second.app);
  if (app == s.apps.end()) return;
  SendLocked(app->second, call.handle, LINE_CALLSTATE, line->second.callbackInstance, state, detail,
             privilege);
}

// Removes a call; its port is returned for closing (outside the lock) when it was never given.
HANDLE EraseCallLocked(Service& s, HCALL handle) {
  auto it = s.calls.find(handle);
  if (it == s.calls.end()) return INVALID_HANDLE_VALUE;
  const HANDLE port = it->second.portGiven ? INVALID_HANDLE_VALUE : it->second.port;
  s.calls.erase(it);
  return port;
}

void EraseLineLocked(Service& s, HLINE handle, std::vector<HANDLE>& toClose) {
  std::vector<HCALL> calls;
  for (const auto& [h, call] : s.calls)
    if (call.line == handle) calls.push_back(h);
  for (HCALL h : calls) toClose.push_back(EraseCallLocked(s, h));
  s.lines.erase(handle);
}

void ClosePorts(const std::vector<HANDLE>& ports) {
  for (HANDLE port : ports)
    if (port != INVALID_HANDLE_VALUE) CloseHandle(port);
}

// New devices are announced to every application; calls on devices that went away end.
void MergeLocked(Service& s, const std::vector<ModemPort>& modems) {
  std::vector<DWORD> gone;
  const std::vector<DWORD> added = MergeModemPorts(s.devices, modems, &gone);
  for (auto& [h, app] : s.apps)
    for (DWORD id : added) SendLocked(app, 0, LINE_CREATE, 0, id, 0, 0);
  for (auto& [h, call] : s.calls) {
    auto line = s.lines.find(call.line);
    if (line == s.lines.end()) continue;
    if (std::find(gone.begin(), gone.end(), line->second.deviceId) == gone.end()) continue;
    if (call.state != LINECALLSTATE_CONNECTED) continue;
    call.state = LINECALLSTATE_IDLE;
    SendCallStateLocked(s, call, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_UNAVAIL, 0);
    SendCallStateLocked(s, call, LINECALLSTATE_IDLE, 0, 0);
  }
}

void Rescan() {
  S().rescanQueued = false;
  const std::vector<ModemPort> modems = ScanModemPorts();
  std::lock_guard guard(S().lock);
  MergeLocked(S(), modems);
}

// Port arrivals and removals: a rescan on the thread of the application that started the watch.
std::unique_ptr<qv::devices::DeviceChangeListener> StartWatch() {
  QPointer<QObject> context = ThreadContext();
  return std::make_unique<qv::devices::DeviceChangeListener>(
      [context](const qv::devices::DeviceChange& change) {
        if (change.eventCode != DBT_DEVICEARRIVAL && change.eventCode != DBT_DEVICEREMOVECOMPLETE)
          return;
        if (S().rescanQueued.exchange(true)) return;
        if (!context.isNull()) qv::ui::QueueCall(context.data(), [] { Rescan(); });
      });
}

LONG CheckDeviceLocked(const Service& s, DWORD deviceId) {
  if (deviceId >= s.devices.size()) return LINEERR_BADDEVICEID;
  if (!s.devices[deviceId].present) return LINEERR_NODEVICE;
  return 0;
}

bool SupportedVersion(DWORD version) {
  return version >= kLowestVersion && version <= kHighestVersion;
}

// The caller's record is dwTotalSize bytes. Smaller than the fixed part: too small (its needed
// size is written when the record has room for that field). Else the fixed part is written, and
// the variable part when it fits. Returns 0 or the error; *filled tells whether it fit.
LONG FillRecord(void* record, DWORD fixedSize, const std::vector<char>& variable,
                const std::function<void(DWORD offset, bool fits)>& fixedFields, bool* filled) {
  auto* words = static_cast<DWORD*>(record);
  const DWORD total = words[0];
  const DWORD needed = fixedSize + DWORD(variable.size());
  if (filled) *filled = false;
  if (total < fixedSize) {
    if (total >= 2 * sizeof(DWORD)) words[1] = needed;
    return LINEERR_STRUCTURETOOSMALL;
  }
  std::memset(static_cast<char*>(record) + sizeof(DWORD), 0, fixedSize - sizeof(DWORD));
  words[1] = needed;
  const bool fits = total >= needed;
  if (fits) std::memcpy(static_cast<char*>(record) + fixedSize, variable.data(), variable.size());
  words[2] = fits ? needed : fixedSize;
  fixedFields(fixedSize, fits);
  if (filled) *filled = fits;
  return 0;
}

LONG FillVarString(VARSTRING* record, DWORD format, const std::vector<char>& value, bool* filled) {
  if (record == nullptr) return LINEERR_INVALPOINTER;
  return FillRecord(
      record, kVarStringFixedSize, value,
      [&](DWORD offset, bool fits) {
        record->dwStringFormat = format;
        record->dwStringSize = fits ? DWORD(value.size()) : 0;
        record->dwStringOffset = fits ? offset : 0;
      },
      filled);
}

std::vector<char> TextBytes(const std::string& text) {
  std::vector<char> bytes(text.begin(), text.end());
  bytes.push_back('\0');
  return bytes;
}

}  // namespace
}  // namespace qv::tapi

using namespace qv::tapi;

QV_TAPI_EXPORT LONG lineInitialize(HLINEAPP* lphLineApp, HINSTANCE /*hInstance*/,
                                   LINECALLBACK lpfnCallback, const char* /*lpszAppName*/,
                                   DWORD* lpdwNumDevs) {
  if (lphLineApp == nullptr || lpdwNumDevs == nullptr || lpfnCallback == nullptr)
    return LINEERR_INVALPOINTER;
  const std::vector<ModemPort> modems = ScanModemPorts();
  Service& s = S();
  QObject* context = ThreadContext();
  {
    std::lock_guard guard(s.lock);
    MergeLocked(s, modems);
    App app;
    app.handle = s.nextApp++;
    app.callback = lpfnCallback;
    app.context = context;
    *lphLineApp = app.handle;
    *lpdwNumDevs = DWORD(s.devices.size());
    s.apps.emplace(app.handle, std::move(app));
  }
  std::lock_guard watchGuard(s.watchLock);
  if (!s.watch) s.watch = StartWatch();
  return 0;
}

QV_TAPI_EXPORT LONG lineShutdown(HLINEAPP hLineApp) {
  Service& s = S();
  std::vector<HANDLE> toClose;
  bool last = false;
  {
    std::lock_guard guard(s.lock);
    if (s.apps.find(hLineApp) == s.apps.end()) return LINEERR_INVALAPPHANDLE;
    std::vector<HLINE> lines;
    for (const auto& [h, line] : s.lines)
      if (line.app == hLineApp) lines.push_back(h);
    for (HLINE h : lines) EraseLineLocked(s, h, toClose);
    s.apps.erase(hLineApp);  // undelivered messages go with it
    last = s.apps.empty();
  }
  ClosePorts(toClose);
  if (last) {
    std::unique_ptr<qv::devices::DeviceChangeListener> watch;
    {
      std::lock_guard watchGuard(s.watchLock);
      watch = std::move(s.watch);
    }
    watch.reset();  // waits for the watch's thread: outside every lock of the service
  }
  return 0;
}

QV_TAPI_EXPORT LONG lineNegotiateAPIVersion(HLINEAPP hLineApp, DWORD dwDeviceID,
                                            DWORD dwAPILowVersion, DWORD dwAPIHighVersion,
                                            DWORD* lpdwAPIVersion, LINEEXTENSIONID* lpExtensionID) {
  Service& s = S();
  std::lock_guard guard(s.lock);
  if (s.apps.find(hLineApp) == s.apps.end()) return LINEERR_INVALAPPHANDLE;
  if (const LONG e = CheckDeviceLocked(s, dwDeviceID)) return e;
  if (lpdwAPIVersion == nullptr || lpExtensionID == nullptr) return LINEERR_INVALPOINTER;
  if (dwAPILowVersion > dwAPIHighVersion || dwAPIHighVersion < kLowestVersion ||
      dwAPILowVersion > kHighestVersion)
    return LINEERR_INCOMPATIBLEAPIVERSION;
  *lpdwAPIVersion = std::min(dwAPIHighVersion, kHighestVersion);
  *lpExtensionID = LINEEXTENSIONID{};  // no extensions
  return 0;
}

QV_TAPI_EXPORT LONG lineGetDevCaps(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion,
                                   DWORD dwExtVersion, LINEDEVCAPS* lpLineDevCaps) {
  Service& s = S();
  std::lock_guard guard(s.lock);
  if (s.apps.find(hLineApp) == s.apps.end()) return LINEERR_INVALAPPHANDLE;
  if (const LONG e = CheckDeviceLocked(s, dwDeviceID)) return e;
  if (!SupportedVersion(dwAPIVersion)) return LINEERR_INCOMPATIBLEAPIVERSION;
  if (dwExtVersion != 0) return LINEERR_INCOMPATIBLEEXTVERSION;
  if (lpLineDevCaps == nullptr) return LINEERR_INVALPOINTER;
  const std::vector<char> provider = TextBytes(kProviderInfo);
  const std::vector<char> name = TextBytes(s.devices[dwDeviceID].lineName);
  std::vector<char> variable = provider;
  variable.insert(variable.end(), name.begin(), name.end());
  const DWORD fixedSize = dwAPIVersion >= TAPI_VERSION_1_4 ? kDevCapsSize14 : kDevCapsSize13;
  LINEDEVCAPS* caps = lpLineDevCaps;
  return FillRecord(
      caps, fixedSize, variable,
      [&](DWORD offset, bool fits) {
        if (fits) {
          caps->dwProviderInfoSize = DWORD(provider.size());
          caps->dwProviderInfoOffset = offset;
          caps->dwLineNameSize = DWORD(name.size());
          caps->dwLineNameOffset = offset + DWORD(provider.size());
        }
        caps->dwPermanentLineID = dwDeviceID + 1;
        caps->dwStringFormat = STRINGFORMAT_ASCII;
        caps->dwAddressModes = LINEADDRESSMODE_ADDRESSID;
        caps->dwNumAddresses = 1;
        caps->dwBearerModes = LINEBEARERMODE_PASSTHROUGH;
        caps->dwMediaModes = LINEMEDIAMODE_DATAMODEM;
        caps->dwMaxNumActiveCalls = 1;
      },
      nullptr);
}

QV_TAPI_EXPORT LONG lineOpen(HLINEAPP hLineApp, DWORD dwDeviceID, HLINE* lphLine,
                             DWORD dwAPIVersion, DWORD dwExtVersion, DWORD dwCallbackInstance,
                             DWORD dwPrivileges, DWORD dwMediaModes,
                             const LINECALLPARAMS* /*lpCallParams*/) {
  Service& s = S();
  std::lock_guard guard(s.lock);
  if (s.apps.find(hLineApp) == s.apps.end()) return LINEERR_INVALAPPHANDLE;
  if (const LONG e = CheckDeviceLocked(s, dwDeviceID)) return e;
  if (lphLine == nullptr) return LINEERR_INVALPOINTER;
  if (!SupportedVersion(dwAPIVersion)) return LINEERR_INCOMPATIBLEAPIVERSION;
  if (dwExtVersion != 0) return LINEERR_INCOMPATIBLEEXTVERSION;
  const DWORD watching = LINECALLPRIVILEGE_MONITOR | LINECALLPRIVILEGE_OWNER;
  if (dwPrivileges != LINECALLPRIVILEGE_NONE &&
      (dwPrivileges == 0 || (dwPrivileges & ~watching) != 0))
    return LINEERR_INVALPRIVSELECT;
  if ((dwPrivileges & LINECALLPRIVILEGE_OWNER) &&
      (dwMediaModes == 0 || (dwMediaModes & ~LINEMEDIAMODE_DATAMODEM) != 0))
    return LINEERR_INVALMEDIAMODE;
  Line line;
  line.handle = s.nextLine++;
  line.app = hLineApp;
  line.deviceId = dwDeviceID;
  line.apiVersion = dwAPIVersion;
  line.callbackInstance = dwCallbackInstance;
  s.lines.emplace(line.handle, line);
  *lphLine = line.handle;
  return 0;
}

QV_TAPI_EXPORT LONG lineClose(HLINE hLine) {
  Service& s = S();
  std::vector<HANDLE> toClose;
  {
    std::lock_guard guard(s.lock);
    if (s.lines.find(hLine) == s.lines.end()) return LINEERR_INVALLINEHANDLE;
    EraseLineLocked(s, hLine, toClose);
  }
  ClosePorts(toClose);
  return 0;
}

QV_TAPI_EXPORT LONG lineDeallocateCall(HCALL hCall) {
  Service& s = S();
  HANDLE port;
  {
    std::lock_guard guard(s.lock);
    if (s.calls.find(hCall) == s.calls.end()) return LINEERR_INVALCALLHANDLE;
    port = EraseCallLocked(s, hCall);
  }
  ClosePorts({port});
  return 0;
}

namespace qv::tapi {
namespace {

// The call's port opened: connected; or not: disconnected and idle.
void ConnectCall(HCALL handle) {
  Service& s = S();
  std::string port;
  {
    std::lock_guard guard(s.lock);
    auto call = s.calls.find(handle);
    if (call == s.calls.end() || call->second.state != 0) return;
    auto line = s.lines.find(call->second.line);
    if (line == s.lines.end()) return;
    const LineDevice& device = s.devices[line->second.deviceId];
    if (device.present) port = device.port;
  }
  HANDLE opened = INVALID_HANDLE_VALUE;
  if (!port.empty())
    opened = CreateFileA(port.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OVERLAPPED, nullptr);
  // The application's part of the handle is 32 bits wide.
  if (opened != INVALID_HANDLE_VALUE && reinterpret_cast<std::uintptr_t>(opened) > 0xFFFFFFFFu) {
    CloseHandle(opened);
    opened = INVALID_HANDLE_VALUE;
  }
  {
    std::lock_guard guard(s.lock);
    auto call = s.calls.find(handle);
    if (call != s.calls.end() && call->second.state == 0) {
      if (opened != INVALID_HANDLE_VALUE) {
        call->second.port = opened;
        call->second.state = LINECALLSTATE_CONNECTED;
        SendCallStateLocked(s, call->second, LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE,
                            LINECALLPRIVILEGE_OWNER);
      } else {
        call->second.state = LINECALLSTATE_IDLE;
        SendCallStateLocked(s, call->second, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_UNAVAIL,
                            LINECALLPRIVILEGE_OWNER);
        SendCallStateLocked(s, call->second, LINECALLSTATE_IDLE, 0, 0);
      }
      return;
    }
  }
  // The call went while its port was being opened.
  if (opened != INVALID_HANDLE_VALUE) CloseHandle(opened);
}

}  // namespace
}  // namespace qv::tapi

QV_TAPI_EXPORT LONG lineMakeCall(HLINE hLine, HCALL* lphCall, const char* /*lpszDestAddress*/,
                                 DWORD /*dwCountryCode*/, const LINECALLPARAMS* lpCallParams) {
  Service& s = S();
  std::lock_guard guard(s.lock);
  auto line = s.lines.find(hLine);
  if (line == s.lines.end()) return LINEERR_INVALLINEHANDLE;
  if (lphCall == nullptr) return LINEERR_INVALPOINTER;
  if (const LONG e = CheckDeviceLocked(s, line->second.deviceId)) return e;
  // Without parameters a call is a voice call, which a data port cannot place.
  if (lpCallParams == nullptr) return LINEERR_BEARERMODEUNAVAIL;
  if (lpCallParams->dwTotalSize < sizeof(LINECALLPARAMS)) return LINEERR_STRUCTURETOOSMALL;
  const DWORD bearer = lpCallParams->dwBearerMode;
  if (bearer == 0 || (bearer & (bearer - 1)) != 0 || bearer > 0x40) return LINEERR_INVALBEARERMODE;
  // Only the pass-through mode: the service dials nothing.
  if (bearer != LINEBEARERMODE_PASSTHROUGH) return LINEERR_BEARERMODEUNAVAIL;
  if (lpCallParams->dwMediaMode != LINEMEDIAMODE_DATAMODEM) return LINEERR_INVALMEDIAMODE;
  for (const auto& [h, call] : s.calls)
    if (call.line == hLine && call.state != LINECALLSTATE_IDLE) return LINEERR_CALLUNAVAIL;
  auto app = s.apps.find(line->second.app);
  if (app == s.apps.end()) return LINEERR_INVALLINEHANDLE;

  Call call;
  call.handle = s.nextCall++;
  call.line = hLine;
  s.calls.emplace(call.handle, call);
  const DWORD request = s.nextRequest;
  s.nextRequest = s.nextRequest >= 0x7FFFFFFFu ? 1 : s.nextRequest + 1;

  // The request completes: the call's handle is written where the application asked, then
  // LINE_REPLY; then the port is opened.
  const HLINEAPP appHandle = app->second.handle;
  const HCALL callHandle = call.handle;
  const DWORD instance = line->second.callbackInstance;
  PostLocked(app->second, [=] {
    Deliver(appHandle, 0, LINE_REPLY, instance, request, 0, 0, [&] {
      if (S().calls.count(callHandle)) *lphCall = callHandle;
    });
  });
  PostLocked(app->second, [=] { ConnectCall(callHandle); });
  return LONG(request);
}

QV_TAPI_EXPORT LONG lineGetID(HLINE hLine, DWORD dwAddressID, HCALL hCall, DWORD dwSelect,
                              VARSTRING* lpDeviceID, const char* lpszDeviceClass) {
  Service& s = S();
  std::lock_guard guard(s.lock);
  Call* call = nullptr;
  const Line* line = nullptr;
  switch (dwSelect) {
    case LINECALLSELECT_LINE:
    case LINECALLSELECT_ADDRESS: {
      auto it = s.lines.find(hLine);
      if (it == s.lines.end()) return LINEERR_INVALLINEHANDLE;
      if (dwAddressID != 0) return LINEERR_INVALADDRESSID;
      line = &it->second;
      break;
    }
    case LINECALLSELECT_CALL: {
      auto it = s.calls.find(hCall);
      if (it == s.calls.end()) return LINEERR_INVALCALLHANDLE;
      call = &it->second;
      auto owner = s.lines.find(call->line);
      if (owner == s.lines.end()) return LINEERR_INVALCALLHANDLE;
      line = &owner->second;
      break;
    }
    default: return LINEERR_INVALCALLSELECT;
  }
  if (lpDeviceID == nullptr || lpszDeviceClass == nullptr) return LINEERR_INVALPOINTER;
  const LineDevice& device = s.devices[line->deviceId];
  if (!device.present) return LINEERR_NODEVICE;

  if (::strcasecmp(lpszDeviceClass, "comm/datamodem/portname") == 0 ||
      ::strcasecmp(lpszDeviceClass, "comm") == 0)
    return FillVarString(lpDeviceID, STRINGFORMAT_ASCII, TextBytes(device.port), nullptr);

  if (::strcasecmp(lpszDeviceClass, "comm/datamodem") == 0) {
    // Only a connected call has a port.
    if (call == nullptr || call->state != LINECALLSTATE_CONNECTED ||
        call->port == INVALID_HANDLE_VALUE)
      return LINEERR_OPERATIONUNAVAIL;
    const auto value = static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(call->port));
    std::vector<char> answer(sizeof value);
    std::memcpy(answer.data(), &value, sizeof value);
    const std::vector<char> name = TextBytes(device.port);
    answer.insert(answer.end(), name.begin(), name.end());
    bool filled = false;
    const LONG result = FillVarString(lpDeviceID, STRINGFORMAT_BINARY, answer, &filled);
    if (filled) call->portGiven = true;
    return result;
  }
  return LINEERR_INVALDEVICECLASS;
}
