// A capture file of any bytes, as "capture show" reads it: the file as given, shown whole and
// with a filter. Every refusal must say why and name its line; every event read must come back
// the same when written again, so that what is shown is what the file holds.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "capture/capture_format.h"
#include "cli/capture_show.h"
#include "fuzz/fuzz_trace.h"

namespace {

void CheckRoundTrips(const std::string& text) {
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line)) return;
  while (std::getline(in, line)) {
    qv::capture::Event event;
    std::string error;
    if (line.size() > qv::capture::kMostLineLength) return;
    if (!qv::capture::ParseEvent(line, &event, &error)) {
      if (error.empty()) std::abort();
      continue;
    }
    std::string again;
    qv::capture::AppendEvent(event, &again);
    qv::capture::Event back;
    again.pop_back();
    if (!qv::capture::ParseEvent(again, &back, &error) || back.micros != event.micros ||
        back.kind != event.kind || back.bytes != event.bytes || back.detail != event.detail)
      std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const qv::fuzz::QuietTrace trace;
  const std::string text(reinterpret_cast<const char*>(data), size);
  const qv::cli::ShowOptions all{"f", 0, {}};
  const qv::cli::ShowOptions some{
      "f", 1500000, {qv::capture::Kind::kRx, qv::capture::Kind::kModem}};
  for (const qv::cli::ShowOptions& options : {all, some}) {
    std::istringstream in(text);
    std::ostringstream out;
    std::string error;
    const qv::cli::ShowEnd end = qv::cli::ShowCapture(in, options, out, &error);
    if (end != qv::cli::ShowEnd::kComplete && error.rfind("line ", 0) != 0) std::abort();
  }
  CheckRoundTrips(text);
  return 0;
}
