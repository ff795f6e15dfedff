// Trace lines and alert boxes of the engine.
#include <cstdarg>
#include <cstdio>
#include <string>

#include "engine/comm.h"
#include "platform/sync/clock.h"
#include "platform/sync/debug_output.h"
#include "platform/ui/message_box.h"

namespace {
constexpr std::size_t kTraceSize = 512;
constexpr const char* kAlertCaption = "quor_vix";
}  // namespace

// One write per line: written in three pieces (prefix, text, line end), lines traced by the read
// and write threads at the same moment came out interleaved.
void TraceMsg(const char* text) {
  char prefix[kTraceSize];
  std::snprintf(prefix, sizeof prefix, "%.4d ", static_cast<int>(GetTickCount()));
  std::string line(prefix);
  line += text != nullptr ? text : "";
  line += '\n';
  OutputDebugStringA(line.c_str());
}

void TraceFmt(const char* format, ...) {
  char line[kTraceSize];
  const int prefix = std::snprintf(line, sizeof line, "%.4d ", static_cast<int>(GetTickCount()));
  va_list args;
  va_start(args, format);
  std::vsnprintf(line + prefix, sizeof line - static_cast<std::size_t>(prefix), format, args);
  va_end(args);
  OutputDebugStringA(line);
}

void AlertBox(const char* text) {
  MessageBoxA(nullptr, text, kAlertCaption, MB_OK | MB_ICONEXCLAMATION);
}

void ErrorBox(DWORD code, const char* text) {
  char message[kTraceSize];
  std::snprintf(message, sizeof message, "%s (err %d)", text, static_cast<int>(code));
  AlertBox(message);
}
