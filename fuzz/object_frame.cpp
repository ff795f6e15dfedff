// The simulated phone's object frame checker: any bytes as a frame. A frame it accepts, with a
// title the console could have sent (units below 256), must come back byte for byte when built
// again from the fields it read.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/fuzz_trace.h"
#include "sim/object_frame.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const qv::fuzz::QuietTrace trace;
  const qv::sim::ObjectFrameInfo info = qv::sim::CheckObjectFrame(data, size);
  (void)qv::sim::FrameFaultName(info.fault);
  if (info.fault != qv::sim::FrameFault::kNone) return 0;
  if (info.contentOffset > size || info.contentSize != size - info.contentOffset) std::abort();
  std::string title;
  for (char16_t unit : info.title) {
    if (unit > 0xFF) return 0;
    title.push_back(static_cast<char>(unit));
  }
  const std::vector<std::uint8_t> content(data + info.contentOffset, data + size);
  const std::vector<std::uint8_t> again = qv::sim::BuildObjectFrame(title, info.format, content);
  if (again != std::vector<std::uint8_t>(data, data + size)) std::abort();
  return 0;
}
