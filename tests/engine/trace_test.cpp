#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <thread>

#include "engine/comm.h"
#include "platform/sync/debug_output.h"

namespace {

// The read and write threads trace at the same moments (start, shutdown): every line must come
// out whole, with its tick-count prefix.
TEST(EngineTrace, LinesFromTwoThreadsStayWhole) {
  qv::sync::SetDebugOutputToStderr(false);
  qv::sync::ClearDebugOutputCapture();
  auto trace = [](const char* text) {
    for (int i = 0; i < 300; ++i) TraceMsg(text);
  };
  std::thread a(trace, "Read thread shutting down");
  std::thread b(trace, "Write thread shutting down");
  a.join();
  b.join();
  TraceFmt("EvtMask = '%lx'\n", 0xaul);
  qv::sync::SetDebugOutputToStderr(true);

  std::istringstream lines(qv::sync::DebugOutputCaptured());
  const std::regex whole("\\d{4,} (Read|Write) thread shutting down");
  std::string line;
  int count = 0;
  while (count < 600 && std::getline(lines, line)) {
    EXPECT_TRUE(std::regex_match(line, whole)) << line;
    ++count;
  }
  EXPECT_EQ(count, 600);
  ASSERT_TRUE(std::getline(lines, line));
  EXPECT_TRUE(std::regex_match(line, std::regex("\\d{4,} EvtMask = 'a'"))) << line;
}

}  // namespace
