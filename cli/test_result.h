// What one driver test of a run gave: its verdict, the text that failed it, and its figures.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace qv::cli {

struct TestResult {
  std::string name;  // as given on the command line ("echo")
  bool passed = false;
  std::string failure;  // the first text that failed the test
  double seconds = 0;
  // Measured values, in the order measured: ("cycles_per_second", "812.4").
  std::vector<std::pair<std::string, std::string>> figures;
  // Samples behind the figures, for the report's charts only: ("round_trip_ms", {359.3, ...}).
  std::vector<std::pair<std::string, std::vector<double>>> series;

  void Figure(const std::string& key, const std::string& value) {
    figures.emplace_back(key, value);
  }
  void Fail(const std::string& text) {
    if (passed || failure.empty()) failure = text;
    passed = false;
  }
};

}  // namespace qv::cli
