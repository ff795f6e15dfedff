#include "platform/comm/comm_timeouts.h"

namespace qv::comm {

ReadPlan PlanRead(const COMMTIMEOUTS& t, DWORD count) {
  ReadPlan p;
  const std::uint64_t mult = t.ReadTotalTimeoutMultiplier;
  const std::uint64_t constant = t.ReadTotalTimeoutConstant;
  if (t.ReadIntervalTimeout == MAXDWORD) {
    if (mult == 0 && constant == 0) {
      p.returnAtOnce = true;
    } else if (constant != MAXDWORD && mult != MAXDWORD) {
      p.returnIfAny = true;
      p.useTotal = true;
      p.totalMs = mult * count + constant;
    } else if (constant != MAXDWORD && mult == MAXDWORD) {
      p.returnIfAny = true;
      p.completeOnFirst = true;
      p.useTotal = true;
      p.totalMs = constant;
    }
    // Constant MAXDWORD with interval MAXDWORD: no timer at all, the read waits for its count.
    return p;
  }
  if (mult != 0 || constant != 0) {
    p.useTotal = true;
    p.totalMs = mult * count + constant;
  }
  if (t.ReadIntervalTimeout != 0) {
    p.useInterval = true;
    p.intervalMs = t.ReadIntervalTimeout;
  }
  return p;
}

std::uint64_t WriteTotalMs(const COMMTIMEOUTS& t, DWORD count) {
  return std::uint64_t{t.WriteTotalTimeoutMultiplier} * count + t.WriteTotalTimeoutConstant;
}

}  // namespace qv::comm
