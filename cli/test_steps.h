// Steps that the runner's tests share: a fresh connection, the verdict of a test whose success
// shows no box, and the formatting of figures.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

#include "cli/cli_host.h"
#include "cli/test_result.h"

namespace qv::cli {

inline double MsBetween(CliHost::Clock::time_point from, CliHost::Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

inline std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

// A fresh connection at the run's speed; false (and the failure) when the port does not open.
bool Reconnect(CliHost& host, TestResult& result);

// Passed when no box was shown (tests whose verdict is not a box).
void JudgeNoBoxes(CliHost& host, TestResult& result);

}  // namespace qv::cli
