// How COMMTIMEOUTS turn into a plan for one read or write request, as a Windows serial driver
// applies them.
#pragma once

#include <cstdint>

#include "platform/comm/comm_api.h"

namespace qv::comm {

struct ReadPlan {
  // Interval MAXDWORD, multiplier and constant 0: return at once with what is there.
  bool returnAtOnce = false;
  // Interval MAXDWORD with a total timeout: bytes already there are returned at once.
  bool returnIfAny = false;
  // ... and with multiplier MAXDWORD: otherwise the first byte to arrive ends the read.
  bool completeOnFirst = false;
  bool useTotal = false;
  std::uint64_t totalMs = 0;  // multiplier x count + constant, in 64 bits
  bool useInterval = false;   // the gap between two bytes, timed from the first byte on
  DWORD intervalMs = 0;
};

ReadPlan PlanRead(const COMMTIMEOUTS& t, DWORD count);

// A write's total timeout (0 = none): multiplier x count + constant.
std::uint64_t WriteTotalMs(const COMMTIMEOUTS& t, DWORD count);

}  // namespace qv::comm
