// The console's line open against a line service that answers anything: each call's result, the
// counts and handles it gives, and the bytes of every record it fills in (sizes, offsets and
// strings included) come from the input, then a run of messages as the service would send them.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/fuzz_input.h"
#include "fuzz/fuzz_trace.h"
#include "platform/ui/message_box.h"
#include "telephony/line_open.h"
#include "telephony/telephony_loader.h"

namespace {

qv::fuzz::Input* service = nullptr;  // the input of the run in progress

// A result: mostly success, else one of the service's errors or any number.
LONG Result() {
  const std::uint8_t pick = service->Byte();
  if (pick < 160) return 0;
  if (pick < 240) return LONG(0x80000000u | (pick - 159));
  return LONG(service->U32());
}

// What a service writes into a record the caller sized: any bytes after dwTotalSize, within it.
LONG FillRecord(void* record) {
  const LONG result = Result();
  DWORD total = 0;
  std::memcpy(&total, record, 4);
  const std::size_t room = total > 4 ? total - 4 : 0;
  const std::vector<std::uint8_t> bytes = service->Bytes(std::min<std::size_t>(room, 96));
  if (!bytes.empty())
    std::memcpy(static_cast<std::uint8_t*>(record) + 4, bytes.data(), bytes.size());
  return result;
}

LONG Close(HLINE) { return Result(); }
LONG Deallocate(HCALL) { return Result(); }
LONG DevCaps(HLINEAPP, DWORD, DWORD, DWORD, LINEDEVCAPS* caps) { return FillRecord(caps); }
LONG GetId(HLINE, DWORD, HCALL, DWORD, VARSTRING* id, const char*) { return FillRecord(id); }
LONG Initialize(HLINEAPP* app, HINSTANCE, LINECALLBACK, const char*, DWORD* count) {
  *app = service->U32();
  *count = service->U32();
  return Result();
}
LONG MakeCall(HLINE, HCALL* call, const char*, DWORD, const LINECALLPARAMS*) {
  *call = service->U32();
  return Result();
}
LONG Negotiate(HLINEAPP, DWORD, DWORD, DWORD, DWORD* version, LINEEXTENSIONID*) {
  *version = service->U32();
  return Result();
}
LONG Open(HLINEAPP, DWORD, HLINE* line, DWORD, DWORD, DWORD, DWORD, DWORD, const LINECALLPARAMS*) {
  *line = service->U32();
  return Result();
}
LONG Shutdown(HLINEAPP) { return Result(); }

class Binder : public qv::telephony::LibraryBinder {
 public:
  HMODULE Load(const char*) override { return reinterpret_cast<HMODULE>(this); }
  FARPROC Lookup(HMODULE, const char* name) override {
    static const struct {
      const char* name;
      FARPROC function;
    } kFunctions[] = {
        {"lineClose", reinterpret_cast<FARPROC>(&Close)},
        {"lineDeallocateCall", reinterpret_cast<FARPROC>(&Deallocate)},
        {"lineGetDevCaps", reinterpret_cast<FARPROC>(&DevCaps)},
        {"lineGetID", reinterpret_cast<FARPROC>(&GetId)},
        {"lineInitialize", reinterpret_cast<FARPROC>(&Initialize)},
        {"lineMakeCall", reinterpret_cast<FARPROC>(&MakeCall)},
        {"lineNegotiateAPIVersion", reinterpret_cast<FARPROC>(&Negotiate)},
        {"lineOpen", reinterpret_cast<FARPROC>(&Open)},
        {"lineShutdown", reinterpret_cast<FARPROC>(&Shutdown)},
    };
    for (const auto& f : kFunctions)
      if (std::strcmp(f.name, name) == 0) return f.function;
    return nullptr;
  }
};

// Every box is answered Cancel at once: a retry never repeats a call without end.
class Boxes : public qv::ui::MessageBoxProvider {
 public:
  int Show(HWND, const std::string&, const std::string&, UINT) override { return IDCANCEL; }
};

class Host : public qv::telephony::LineOpenHost {
 public:
  std::string PortNameFromCombo() override { return port; }
  void LogText(const char* text) override { logged += std::strlen(text); }
  HWND BoxOwner() override { return nullptr; }
  bool PortIsOpen() override { return open; }
  void OpenCallPort(HANDLE) override { open = true; }
  void ClearPort() override { open = false; }
  std::string port;
  bool open = false;
  std::size_t logged = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const qv::fuzz::QuietTrace trace;
  static Binder binder;
  static Boxes boxes;
  qv::telephony::UseLibraryBinderForTests(&binder);
  qv::ui::SetMessageBoxProvider(&boxes);
  qv::fuzz::Input in(data, size);
  service = &in;

  Host host;
  host.port = in.ShortText();
  host.open = in.Bool();
  {
    qv::telephony::TelephonyLineOpen line(host);
    line.Initialize();
    static constexpr DWORD kMessages[] = {LINE_CALLSTATE, LINE_CLOSE, LINE_LINEDEVSTATE, LINE_REPLY,
                                          LINE_CREATE};
    for (int step = 0; step < 32 && !in.Empty(); ++step) {
      const std::uint8_t what = in.Byte();
      if (what < 40) {
        line.OpenWithTapi();
      } else if (what < 50) {
        line.ReleaseCall();
      } else {
        const DWORD message = what < 250 ? kMessages[what % 5] : in.U32();
        const DWORD device = in.Bool() ? DWORD(line.hCall) : in.U32();
        const DWORD p1 = in.U32(), p2 = in.U32(), p3 = in.U32();
        qv::telephony::TelephonyLineOpen::OnLineCallback(device, message, 0, p1, p2, p3);
      }
    }
    line.ReleaseCall();
    line.Shutdown();
  }
  service = nullptr;
  qv::ui::SetMessageBoxProvider(nullptr);
  qv::telephony::UseLibraryBinderForTests(nullptr);
  return 0;
}
