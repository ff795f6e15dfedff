// The simulated phone's AT line parser, and the phone behind it: the input as the body of a
// command line, and the input as what the host sends the phone (lines, objects, anything).
#include <cstdint>
#include <memory>
#include <string_view>

#include "fuzz/fuzz_trace.h"
#include "sim/at_command_line.h"
#include "sim/phone.h"

namespace {

class Sink : public qv::sim::LineEnd {
 public:
  void SendToHost(const std::uint8_t*, std::size_t count) override { sent += count; }
  void SetDeviceLines(bool, bool, bool, bool) override {}
  std::size_t sent = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const qv::fuzz::QuietTrace trace;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (const auto commands = qv::sim::SplitAtCommands(text)) {
    for (const qv::sim::AtCommand& c : *commands) (void)qv::sim::ParseAtArgs(c.args);
  }
  (void)qv::sim::ParseAtArgs(text);

  // The same bytes reach a phone in pieces, as a line delivers them.
  Sink sink;
  std::unique_ptr<qv::sim::Device> phone = qv::sim::MakePhone();
  phone->Attach(&sink);
  phone->OnHostOpen(true);
  phone->OnHostLines(true, true);
  for (std::size_t at = 0; at < size;) {
    const std::size_t piece = 1 + (data[at] % 64);
    const std::size_t n = piece < size - at ? piece : size - at;
    phone->OnHostBytes(data + at, n);
    at += n;
  }
  phone->OnHostOpen(false);
  phone->Attach(nullptr);
  return 0;
}
