// The program's trace while fuzzing: kept off standard error (a run would spend its time
// printing), and its in-process copy emptied after each input so that it never grows.
#pragma once

#include "platform/sync/debug_output.h"

namespace qv::fuzz {

class QuietTrace {
 public:
  QuietTrace() { qv::sync::SetDebugOutputToStderr(false); }
  ~QuietTrace() { qv::sync::ClearDebugOutputCapture(); }
  QuietTrace(const QuietTrace&) = delete;
  QuietTrace& operator=(const QuietTrace&) = delete;
};

}  // namespace qv::fuzz
