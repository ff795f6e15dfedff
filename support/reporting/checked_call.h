// Checked calls: a platform call whose failure is unexpected is repeated for as long as it fails
// and the user answers Retry in the error box; Ignore hands the failed result back to the caller.
//
// The caller names its source module ("ToolTests", "quor_vixDlg", ...); the line is the caller's
// own, filled in by the compiler.
#pragma once

#include <source_location>
#include <type_traits>

#include "platform/types.h"
#include "support/reporting/error_reporting.h"

namespace qv::support {

// Win32 calls report failure by a zero/false result, or by a null or invalid handle.
template <class R>
bool CallSucceeded(const R& result) {
  if constexpr (std::is_pointer_v<R>) {
    return result != nullptr && result != INVALID_HANDLE_VALUE;
  } else {
    return result != 0;
  }
}

// For calls that fail with a false/invalid result and leave the thread's last error.
template <class Call>
auto CheckLastError(const char* module, Call&& call,
                    std::source_location where = std::source_location::current()) {
  for (;;) {
    auto result = call();
    if (CallSucceeded(result)) return result;
    if (!RetryOnLastError(module, static_cast<int>(where.line()))) return result;
  }
}

// For calls that return an error code, 0 meaning success (the registry functions).
template <class Call>
auto CheckErrorCode(const char* module, Call&& call,
                    std::source_location where = std::source_location::current()) {
  for (;;) {
    auto code = call();
    if (code == 0) return code;
    if (!RetryOnErrorCode(module, static_cast<int>(where.line()), static_cast<DWORD>(code)))
      return code;
  }
}

// For telephony line calls: a negative result is a failure.
template <class Call>
auto CheckTapiResult(const char* module, Call&& call,
                     std::source_location where = std::source_location::current()) {
  for (;;) {
    auto result = call();
    if (result >= 0) return result;
    if (!RetryOnTapiError(module, static_cast<int>(where.line()), static_cast<LONG>(result)))
      return result;
  }
}

}  // namespace qv::support
