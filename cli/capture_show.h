// "quor_vix-cli capture show FILE": a capture as a person reads it, each event's bytes in rows of
// 16 with their offset in the direction's stream and a character column.
#pragma once

#include <cstdint>
#include <istream>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "capture/capture_event.h"

namespace qv::cli {

struct ShowOptions {
  std::string file;
  std::uint64_t sinceMicros = 0;      // events before this time are left out
  std::set<qv::capture::Kind> kinds;  // empty: every kind
};

// The arguments after "capture show". False with the reason in *error.
bool ParseShowOptions(const std::vector<std::string>& args, ShowOptions* options,
                      std::string* error);

enum class ShowEnd {
  kComplete,    // every line read
  kIncomplete,  // the last line ends without a line feed: a capture cut short (*error says so)
  kBad,         // a line that is not the format's: *error names it; what came before is shown
};

// Reads the capture from in and writes the events chosen to out. Offsets count every byte of
// the direction from the capture's start, the events left out by --since or --kind included.
ShowEnd ShowCapture(std::istream& in, const ShowOptions& options, std::ostream& out,
                    std::string* error);

}  // namespace qv::cli
