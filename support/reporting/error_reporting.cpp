#include "support/reporting/error_reporting.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/sync/last_error.h"
#include "platform/sync/library.h"
#include "platform/ui/message_box.h"
#include "support/tapiui/tapiui_messages.h"

namespace {

constexpr DWORD kMaxPath = 260;

// Whatever follows the last path separator.
const char* FinalPathComponent(const char* path) {
  const char* name = path;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p == '\\' || *p == '/') name = p + 1;
  }
  return name;
}

// The running executable's file name without folder and extension ("quor_vix").
std::string ApplicationName() {
  char path[kMaxPath] = {};
  if (GetModuleFileNameA(nullptr, path, kMaxPath) == 0) return "<unknown application>";
  std::string name = FinalPathComponent(path);
  const auto dot = name.find_last_of('.');
  if (dot != std::string::npos) name.erase(dot);
  return name;
}

std::string Hex(DWORD value) {
  char text[16];
  std::snprintf(text, sizeof text, "%X", value);
  return text;
}

// The system's text for a code, or the code itself as "0x%.8X" when the system has none.
std::string ReasonForCode(DWORD code) {
  std::string text = qv::sync::SystemErrorText(code);
  if (text.empty()) {
    char hex[11];
    std::snprintf(hex, sizeof hex, "0x%.8X", code);
    text = hex;
  }
  return text;
}

}  // namespace

bool ReportUnexpectedError(const char* sourceFile, int line, const char* reason, int value) {
  const std::string location = sourceFile == nullptr ? "source" : FinalPathComponent(sourceFile);
  const std::string why = reason == nullptr ? "An unexpected error has occured !" : reason;
  const std::string caption = ApplicationName() + " - Unexpected error";
  // The third line of the text is always empty.
  const std::string text = why + "\nIn: " + location + " line " + std::to_string(line) + "\n" + "" +
                           "\nValue: " + std::to_string(value) + " (0x" +
                           Hex(static_cast<DWORD>(value)) +
                           ")\n\nPlease contact the author with this information\n"
                           "(Press Ctrl-C to copy this text)";
  const HWND owner = qv::ui::FirstVisibleUnownedWindowOfThisThread();
  const int answer =
      MessageBoxA(owner, text.c_str(), caption.c_str(),
                  MB_ABORTRETRYIGNORE | MB_ICONERROR | MB_TASKMODAL | MB_SETFOREGROUND);
  if (answer == IDABORT) {
    // Ends at once: no window closed, no setting saved, no port closed by the program.
    std::_Exit(-1);
  }
  return answer == IDRETRY;
}

bool RetryOnLastError(const char* sourceFile, int line) {
  const DWORD code = GetLastError();
  const std::string reason = ReasonForCode(code);
  const bool retry =
      ReportUnexpectedError(sourceFile, line, reason.c_str(), static_cast<int>(code));
  SetLastError(code);
  return retry;
}

bool RetryOnErrorCode(const char* sourceFile, int line, DWORD code) {
  const std::string reason = ReasonForCode(code);
  return ReportUnexpectedError(sourceFile, line, reason.c_str(), static_cast<int>(code));
}

bool RetryOnTapiError(const char* sourceFile, int line, LONG result) {
  char reason[256] = "TAPI Error";
  if (HMODULE library = LoadLibraryA("TAPIUI.DLL")) {
    const auto value = static_cast<DWORD>(result);
    DWORD messageId;
    if (value >= 0xFFFF0001u) {
      messageId = value & 0xFFFFu;  // the small negative results
    } else if (value & 0x10000000u) {
      messageId = value + 0x7000F000u;  // phone errors
    } else {
      messageId = value - 0x7FFF2000u;  // line errors
    }
    const auto lookup =
        reinterpret_cast<TapiUiFormatMessageFn>(GetProcAddress(library, kTapiUiFormatMessageName));
    if (lookup != nullptr && lookup(messageId, reason + 12, 244) != 0) {
      reason[10] = ':';
      reason[11] = ' ';
    }
    FreeLibrary(library);
  }
  return ReportUnexpectedError(sourceFile, line, reason, result);
}
