// The telephony line service, bound at run time: the program never links it. "TAPI32.DLL" is
// loaded on the first call of any entry point (libtapi32.so, from the program's folder first), and
// each function is looked up by name on its own first call. The answer is remembered: a library
// that cannot be loaded, or a function it lacks, makes that entry point return
// LINEERR_OPERATIONUNAVAIL from then on without another look-up.
//
// The entry points have the service's names, parameters and results; call them from the thread
// that registered with lineInitialize.
#pragma once

#include "platform/sync/library.h"
#include "telephony/line_types.h"

LONG lineClose(HLINE hLine);
LONG lineDeallocateCall(HCALL hCall);
LONG lineGetDevCaps(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, DWORD dwExtVersion,
                    LINEDEVCAPS* lpLineDevCaps);
LONG lineGetID(HLINE hLine, DWORD dwAddressID, HCALL hCall, DWORD dwSelect, VARSTRING* lpDeviceID,
               const char* lpszDeviceClass);
LONG lineInitialize(HLINEAPP* lphLineApp, HINSTANCE hInstance, LINECALLBACK lpfnCallback,
                    const char* lpszAppName, DWORD* lpdwNumDevs);
LONG lineMakeCall(HLINE hLine, HCALL* lphCall, const char* lpszDestAddress, DWORD dwCountryCode,
                  const LINECALLPARAMS* lpCallParams);
LONG lineNegotiateAPIVersion(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPILowVersion,
                             DWORD dwAPIHighVersion, DWORD* lpdwAPIVersion,
                             LINEEXTENSIONID* lpExtensionID);
LONG lineOpen(HLINEAPP hLineApp, DWORD dwDeviceID, HLINE* lphLine, DWORD dwAPIVersion,
              DWORD dwExtVersion, DWORD dwCallbackInstance, DWORD dwPrivileges, DWORD dwMediaModes,
              const LINECALLPARAMS* lpCallParams);
LONG lineShutdown(HLINEAPP hLineApp);

namespace qv::telephony {

// The library's Win32 name.
inline constexpr const char* kTelephonyLibrary = "TAPI32.DLL";

// How the loader reaches the library: the platform's LoadLibraryA and GetProcAddress.
class LibraryBinder {
 public:
  virtual ~LibraryBinder() = default;
  virtual HMODULE Load(const char* name) { return LoadLibraryA(name); }
  virtual FARPROC Lookup(HMODULE module, const char* name) { return GetProcAddress(module, name); }
};

// The shared resolver of the entry points: loads the library when that was not tried yet, then
// looks `name` up and stores what it found (possibly nothing) in *slot. Returns 0 when an
// address was found, else LINEERR_OPERATIONUNAVAIL (*slot untouched when there is no library).
LONG ResolveTelephonyFunction(const char* name, FARPROC* slot);

// Tests only: binds through `binder` (null: the platform again) and puts the library slot and
// every function slot back to "not tried". The program itself never resets them.
void UseLibraryBinderForTests(LibraryBinder* binder);

}  // namespace qv::telephony
