// The runner's command line after "run": the input split at NUL bytes into arguments, as a
// script may pass anything. A refusal must say why; an acceptance must stay within the limits
// the runner promises.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/options.h"
#include "engine/comm.h"
#include "fuzz/fuzz_trace.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const qv::fuzz::QuietTrace trace;
  std::vector<std::string> args(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) args.emplace_back();
    else args.back().push_back(static_cast<char>(data[i]));
  }
  if (args.size() > 64) return 0;
  qv::cli::RunOptions options;
  std::string error;
  if (!qv::cli::ParseRunOptions(args, &options, &error)) {
    if (error.empty()) std::abort();
    return 0;
  }
  if (options.blockSize > kMaxBlockSize || options.host.speed > qv::cli::kMaxSpeed ||
      options.host.speed == 0 || options.host.cycles < 0)
    std::abort();
  return 0;
}
