// The verdicts of a run as a JUnit XML file: one testcase per test, its failure text, its
// figures as properties.
#pragma once

#include <string>
#include <vector>

#include "cli/test_result.h"

namespace qv::cli {

struct RunDescription {
  std::string port;
  unsigned long speed = 0;
  std::string timestamp;  // ISO 8601, UTC
};

std::string JUnitXml(const RunDescription& run, const std::vector<TestResult>& results);

// Text made safe for XML 1.0 content and attribute values: markup characters escaped, control
// characters other than tab, LF and CR dropped, bytes that are no UTF-8 replaced by U+FFFD.
std::string XmlEscape(const std::string& text);

}  // namespace qv::cli
