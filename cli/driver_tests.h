// The driver tests as the headless runner runs them: each on a connection of its own, at the
// speed of the run, with its verdict taken from the boxes it showed and its figures measured
// around the test's own code.
#pragma once

#include <string>
#include <vector>

#include "cli/cli_host.h"
#include "cli/test_result.h"

namespace qv::cli {

// The names a run takes, in the panel's order.
const std::vector<std::string>& DriverTestNames();
bool IsDriverTest(const std::string& name);

// UI thread. Runs one test; the port is closed again when it returns.
TestResult RunDriverTest(CliHost& host, const std::string& name);

}  // namespace qv::cli
