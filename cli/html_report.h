// The verdicts and figures of a run as one self-contained HTML page: inline SVG charts, no
// script, no style sheet or font from elsewhere, so that it opens offline in any browser and a
// CI system can keep it as an artifact beside the JUnit file. The page is well-formed XML too.
//
// One chart per test that has figures: the echo round trips as a histogram, each timeouts
// phase's read time against its bound, the open/close rate over the run, the scan's accepted
// rates on a number line, each write's end on a time line; the other tests' numeric figures as
// bars.
#pragma once

#include <string>
#include <vector>

#include "cli/junit.h"
#include "cli/test_result.h"

namespace qv::cli {

std::string HtmlReport(const RunDescription& run, const std::vector<TestResult>& results);

}  // namespace qv::cli
