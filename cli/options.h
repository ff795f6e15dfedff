// The command line of quor_vix-cli.
#pragma once

#include <string>
#include <vector>

#include "cli/cli_host.h"

namespace qv::cli {

// The fastest speed a run takes: above what any UART or USB-serial adapter carries, and what
// the flush test's object of speed / 2 bytes keeps to a sane size.
inline constexpr long long kMaxSpeed = 16000000;

struct RunOptions {
  std::vector<std::string> tests;
  HostSettings host;
  DWORD blockSize = 0;  // 0: the engine's own
  bool record = false;  // the record files data_sent.log and data_recv.log
  std::string junit;    // empty: no JUnit file
  std::string report;   // empty: no HTML report
  std::string capture;  // empty: no capture of the line
  // Virtual ports only: a driver that breaks its contract, so that failing verdicts can be seen.
  bool ignoreReadTimeouts = false;
  bool neverCompleteWrites = false;
  bool refusePurge = false;
  DWORD refuseOpenEvery = 0;  // every Nth open is refused (0: none)
};

// The options of "run" (argv after "run"). False with the reason in *error.
bool ParseRunOptions(const std::vector<std::string>& args, RunOptions* options, std::string* error);

// The usage text.
std::string UsageText();

}  // namespace qv::cli
