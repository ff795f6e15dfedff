// A scripted line service behind the loader: the nine functions record their calls and answer
// from a table of devices, and a binder hands them out (or a missing library, or missing names).
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "telephony/line_types.h"
#include "telephony/telephony_loader.h"

namespace qv::test {

struct FakeDevice {
  LONG negotiate = 0;       // result of lineNegotiateAPIVersion
  LONG portNameResult = 0;  // result of lineGetID "comm/datamodem/portname"
  std::string port{};       // its port name
  std::string lineName{};
  bool portNameOutside = false;  // the answer's offset points beyond the record
  DWORD portNameNeeded = 0;      // a needed size of its own (0: the real one)
};

struct FakeLineService {
  std::vector<FakeDevice> devices;
  LONG initializeResult = 0;
  LONG openResult = 0;
  LONG makeCallResult = 0;               // a failure of lineMakeCall (0: the request goes out)
  std::optional<DWORD> initializeCount;  // the count lineInitialize gives (else the devices')
  HLINEAPP nextApp = 0x100;
  HLINE nextLine = 0x200;
  LONG callIdResult = 0;  // lineGetID "comm/datamodem" on the call
  DWORD callPortHandle = 0x1234;
  std::vector<std::string> calls;  // "lineOpen 2", "lineClose 0x201", ...
  LINECALLPARAMS lastCallParams{};
  LINECALLBACK callback = nullptr;
  HCALL* callTarget = nullptr;

  static FakeLineService*& Current() {
    static FakeLineService* current = nullptr;
    return current;
  }
  int Count(const std::string& prefix) const {
    int n = 0;
    for (const auto& c : calls) n += c.rfind(prefix, 0) == 0;
    return n;
  }
};

namespace fake {

inline std::string Hex(DWORD v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", unsigned(v));
  return text;
}

inline LONG Fill(VARSTRING* vs, const std::string& bytes, DWORD format, bool outside = false,
                 DWORD needed = 0) {
  const DWORD need = needed ? needed : DWORD(sizeof(VARSTRING) + bytes.size());
  vs->dwNeededSize = need;
  vs->dwStringFormat = format;
  if (vs->dwTotalSize >= sizeof(VARSTRING) + bytes.size()) {
    std::memcpy(reinterpret_cast<char*>(vs) + sizeof(VARSTRING), bytes.data(), bytes.size());
    vs->dwStringOffset = outside ? 0x7FFFFFF0u : DWORD(sizeof(VARSTRING));
    vs->dwStringSize = DWORD(bytes.size());
    vs->dwUsedSize = need;
  } else {
    vs->dwUsedSize = sizeof(VARSTRING);
  }
  return 0;
}

inline LONG Close(HLINE h) {
  FakeLineService::Current()->calls.push_back("lineClose " + Hex(h));
  return 0;
}
inline LONG Deallocate(HCALL h) {
  FakeLineService::Current()->calls.push_back("lineDeallocateCall " + Hex(h));
  return 0;
}
inline LONG DevCaps(HLINEAPP, DWORD id, DWORD, DWORD, LINEDEVCAPS* caps) {
  auto& s = *FakeLineService::Current();
  s.calls.push_back("lineGetDevCaps " + std::to_string(id));
  const std::string name = s.devices.at(id).lineName + '\0';
  caps->dwNeededSize = DWORD(sizeof(LINEDEVCAPS) + name.size());
  if (caps->dwTotalSize >= caps->dwNeededSize) {
    std::memcpy(reinterpret_cast<char*>(caps) + sizeof(LINEDEVCAPS), name.data(), name.size());
    caps->dwLineNameOffset = sizeof(LINEDEVCAPS);
    caps->dwLineNameSize = DWORD(name.size());
  }
  return 0;
}
inline LONG GetId(HLINE line, DWORD, HCALL call, DWORD select, VARSTRING* vs, const char* cls) {
  auto& s = *FakeLineService::Current();
  s.calls.push_back(std::string("lineGetID ") + cls + " " +
                    Hex(select == LINECALLSELECT_CALL ? call : line));
  if (select == LINECALLSELECT_CALL) {
    if (s.callIdResult != 0) return s.callIdResult;
    std::string bytes(4, '\0');
    std::memcpy(bytes.data(), &s.callPortHandle, 4);
    return Fill(vs, bytes + "COM5" + '\0', STRINGFORMAT_BINARY);
  }
  const FakeDevice& d = s.devices.at(line - 0x200 - 1);
  if (d.portNameResult != 0) return d.portNameResult;
  return Fill(vs, d.port + '\0', STRINGFORMAT_ASCII, d.portNameOutside, d.portNameNeeded);
}
inline LONG Initialize(HLINEAPP* app, HINSTANCE, LINECALLBACK cb, const char*, DWORD* count) {
  auto& s = *FakeLineService::Current();
  s.calls.push_back("lineInitialize");
  if (s.initializeResult != 0) return s.initializeResult;
  *app = ++s.nextApp;
  *count = s.initializeCount.value_or(DWORD(s.devices.size()));
  s.callback = cb;
  return 0;
}
inline LONG MakeCall(HLINE line, HCALL* call, const char*, DWORD, const LINECALLPARAMS* params) {
  auto& s = *FakeLineService::Current();
  s.calls.push_back("lineMakeCall " + Hex(line));
  if (s.makeCallResult != 0) return s.makeCallResult;
  s.lastCallParams = *params;
  s.callTarget = call;
  return 7;  // a request identifier
}
inline LONG Negotiate(HLINEAPP, DWORD id, DWORD, DWORD, DWORD* version, LINEEXTENSIONID*) {
  auto& s = *FakeLineService::Current();
  s.calls.push_back("lineNegotiateAPIVersion " + std::to_string(id));
  if (id >= s.devices.size()) return LINEERR_BADDEVICEID;
  if (s.devices[id].negotiate != 0) return s.devices[id].negotiate;
  *version = TAPI_VERSION_1_4;
  return 0;
}
inline LONG Open(HLINEAPP, DWORD id, HLINE* line, DWORD, DWORD, DWORD, DWORD privileges,
                 DWORD media, const LINECALLPARAMS*) {
  auto& s = *FakeLineService::Current();
  s.calls.push_back("lineOpen " + std::to_string(id));
  if (s.openResult != 0) return s.openResult;
  EXPECT_EQ(privileges, LINECALLPRIVILEGE_NONE);
  EXPECT_EQ(media, LINEMEDIAMODE_DATAMODEM);
  *line = 0x200 + id + 1;  // lines name their device
  return 0;
}
inline LONG Shutdown(HLINEAPP app) {
  FakeLineService::Current()->calls.push_back("lineShutdown " + Hex(app));
  return 0;
}

}  // namespace fake

// Hands out the fake functions; counts loads and look-ups.
class FakeBinder : public qv::telephony::LibraryBinder {
 public:
  bool libraryPresent = true;
  std::set<std::string> missing;
  int loads = 0;
  std::map<std::string, int> lookups;

  HMODULE Load(const char* name) override {
    ++loads;
    EXPECT_STREQ(name, "TAPI32.DLL");
    return libraryPresent ? reinterpret_cast<HMODULE>(this) : nullptr;
  }
  FARPROC Lookup(HMODULE, const char* name) override {
    ++lookups[name];
    if (missing.count(name)) return nullptr;
    static const std::map<std::string, FARPROC> functions = {
        {"lineClose", reinterpret_cast<FARPROC>(&fake::Close)},
        {"lineDeallocateCall", reinterpret_cast<FARPROC>(&fake::Deallocate)},
        {"lineGetDevCaps", reinterpret_cast<FARPROC>(&fake::DevCaps)},
        {"lineGetID", reinterpret_cast<FARPROC>(&fake::GetId)},
        {"lineInitialize", reinterpret_cast<FARPROC>(&fake::Initialize)},
        {"lineMakeCall", reinterpret_cast<FARPROC>(&fake::MakeCall)},
        {"lineNegotiateAPIVersion", reinterpret_cast<FARPROC>(&fake::Negotiate)},
        {"lineOpen", reinterpret_cast<FARPROC>(&fake::Open)},
        {"lineShutdown", reinterpret_cast<FARPROC>(&fake::Shutdown)},
    };
    auto it = functions.find(name);
    return it == functions.end() ? nullptr : it->second;
  }
};

// Installs a fake service and its binder for a test's lifetime.
class ScopedFakeService {
 public:
  ScopedFakeService() {
    FakeLineService::Current() = &service;
    qv::telephony::UseLibraryBinderForTests(&binder);
  }
  ~ScopedFakeService() {
    qv::telephony::UseLibraryBinderForTests(nullptr);
    FakeLineService::Current() = nullptr;
  }
  FakeLineService service;
  FakeBinder binder;
};

}  // namespace qv::test
