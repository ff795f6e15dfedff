#include "telephony/telephony_loader.h"

#include <cstdint>

#include "platform/comm/comm_api.h"
#include "platform/comm/virtual_port_control.h"
#include "platform/devices/device_watch.h"
#include "platform/devices/port_source.h"
#include "platform/sync/kernel_object.h"

namespace qv::telephony {
namespace {

// A slot is 0 (not tried), all ones (unavailable) or the library's handle / the function's address.
const HMODULE kModuleUnavailable = reinterpret_cast<HMODULE>(~std::uintptr_t{0});
const FARPROC kFunctionUnavailable = reinterpret_cast<FARPROC>(~std::uintptr_t{0});

LibraryBinder g_platformBinder;
LibraryBinder* g_binder = &g_platformBinder;
HMODULE g_library = nullptr;

struct FunctionSlots {
  FARPROC close = nullptr;
  FARPROC deallocateCall = nullptr;
  FARPROC getDevCaps = nullptr;
  FARPROC getId = nullptr;
  FARPROC initialize = nullptr;
  FARPROC makeCall = nullptr;
  FARPROC negotiateApiVersion = nullptr;
  FARPROC open = nullptr;
  FARPROC shutdown = nullptr;
};
FunctionSlots g_slots;

// The entry point's steps: resolve on first use, remember a failure, else call through the slot.
template <class Fn, class... Args>
LONG Forward(const char* name, FARPROC& slot, Args... args) {
  if (slot == nullptr) {
    const LONG result = ResolveTelephonyFunction(name, &slot);
    if (result != 0) {
      slot = kFunctionUnavailable;
      return result;
    }
  }
  if (slot == kFunctionUnavailable) return LINEERR_OPERATIONUNAVAIL;
  return reinterpret_cast<Fn>(slot)(args...);
}

// The line service runs inside the program and works on the program's own port layer (its
// handles are the program's handles): when it is loaded, it takes these functions from the
// program. Naming them here keeps them in every program that can load the service, since a
// static library contributes only what something refers to.
[[gnu::used]] const void* const kServiceImports[] = {
    reinterpret_cast<const void*>(&CreateFileA),
    reinterpret_cast<const void*>(&CloseHandle),
    reinterpret_cast<const void*>(&GetDefaultCommConfigA),
    reinterpret_cast<const void*>(&qv::comm::ListVirtualPorts),
    reinterpret_cast<const void*>(&qv::devices::CurrentPortSource),
    // The device-change listener is defined beside this function.
    reinterpret_cast<const void*>(&RegisterDeviceNotificationA),
};

}  // namespace

LONG ResolveTelephonyFunction(const char* name, FARPROC* slot) {
  if (g_library == nullptr) {
    HMODULE module = g_binder->Load(kTelephonyLibrary);
    g_library = module != nullptr ? module : kModuleUnavailable;
  }
  if (g_library == kModuleUnavailable) return LINEERR_OPERATIONUNAVAIL;
  *slot = g_binder->Lookup(g_library, name);
  return *slot != nullptr ? 0 : LINEERR_OPERATIONUNAVAIL;
}

void UseLibraryBinderForTests(LibraryBinder* binder) {
  g_binder = binder != nullptr ? binder : &g_platformBinder;
  g_library = nullptr;
  g_slots = FunctionSlots{};
}

}  // namespace qv::telephony

using qv::telephony::Forward;
using qv::telephony::g_slots;

LONG lineClose(HLINE hLine) { return Forward<LONG (*)(HLINE)>("lineClose", g_slots.close, hLine); }

LONG lineDeallocateCall(HCALL hCall) {
  return Forward<LONG (*)(HCALL)>("lineDeallocateCall", g_slots.deallocateCall, hCall);
}

LONG lineGetDevCaps(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, DWORD dwExtVersion,
                    LINEDEVCAPS* lpLineDevCaps) {
  return Forward<LONG (*)(HLINEAPP, DWORD, DWORD, DWORD, LINEDEVCAPS*)>(
      "lineGetDevCaps", g_slots.getDevCaps, hLineApp, dwDeviceID, dwAPIVersion, dwExtVersion,
      lpLineDevCaps);
}

LONG lineGetID(HLINE hLine, DWORD dwAddressID, HCALL hCall, DWORD dwSelect, VARSTRING* lpDeviceID,
               const char* lpszDeviceClass) {
  return Forward<LONG (*)(HLINE, DWORD, HCALL, DWORD, VARSTRING*, const char*)>(
      "lineGetID", g_slots.getId, hLine, dwAddressID, hCall, dwSelect, lpDeviceID, lpszDeviceClass);
}

LONG lineInitialize(HLINEAPP* lphLineApp, HINSTANCE hInstance, LINECALLBACK lpfnCallback,
                    const char* lpszAppName, DWORD* lpdwNumDevs) {
  return Forward<LONG (*)(HLINEAPP*, HINSTANCE, LINECALLBACK, const char*, DWORD*)>(
      "lineInitialize", g_slots.initialize, lphLineApp, hInstance, lpfnCallback, lpszAppName,
      lpdwNumDevs);
}

LONG lineMakeCall(HLINE hLine, HCALL* lphCall, const char* lpszDestAddress, DWORD dwCountryCode,
                  const LINECALLPARAMS* lpCallParams) {
  return Forward<LONG (*)(HLINE, HCALL*, const char*, DWORD, const LINECALLPARAMS*)>(
      "lineMakeCall", g_slots.makeCall, hLine, lphCall, lpszDestAddress, dwCountryCode,
      lpCallParams);
}

LONG lineNegotiateAPIVersion(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPILowVersion,
                             DWORD dwAPIHighVersion, DWORD* lpdwAPIVersion,
                             LINEEXTENSIONID* lpExtensionID) {
  return Forward<LONG (*)(HLINEAPP, DWORD, DWORD, DWORD, DWORD*, LINEEXTENSIONID*)>(
      "lineNegotiateAPIVersion", g_slots.negotiateApiVersion, hLineApp, dwDeviceID, dwAPILowVersion,
      dwAPIHighVersion, lpdwAPIVersion, lpExtensionID);
}

LONG lineOpen(HLINEAPP hLineApp, DWORD dwDeviceID, HLINE* lphLine, DWORD dwAPIVersion,
              DWORD dwExtVersion, DWORD dwCallbackInstance, DWORD dwPrivileges, DWORD dwMediaModes,
              const LINECALLPARAMS* lpCallParams) {
  return Forward<LONG (*)(HLINEAPP, DWORD, HLINE*, DWORD, DWORD, DWORD, DWORD, DWORD,
                          const LINECALLPARAMS*)>(
      "lineOpen", g_slots.open, hLineApp, dwDeviceID, lphLine, dwAPIVersion, dwExtVersion,
      dwCallbackInstance, dwPrivileges, dwMediaModes, lpCallParams);
}

LONG lineShutdown(HLINEAPP hLineApp) {
  return Forward<LONG (*)(HLINEAPP)>("lineShutdown", g_slots.shutdown, hLineApp);
}
