#include <fcntl.h>
#include <unistd.h>

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
  // The trace really goes to standard error (a system call per write, as in the program), but
  // into /dev/null for the length of the test.
  const int savedStderr = ::dup(STDERR_FILENO);
  const int devNull = ::open("/dev/null", O_WRONLY);
  ::dup2(devNull, STDERR_FILENO);
  qv::sync::ClearDebugOutputCapture();
  auto trace = [](const char* text) {
    for (int i = 0; i < 3000; ++i) TraceMsg(text);
  };
  std::thread a(trace, "Read thread shutting down");
  std::thread b(trace, "Write thread shutting down");
  a.join();
  b.join();
  TraceFmt("EvtMask = '%lx'\n", 0xaul);
  ::dup2(savedStderr, STDERR_FILENO);
  ::close(savedStderr);
  ::close(devNull);

  std::istringstream lines(qv::sync::DebugOutputCaptured());
  const std::regex whole("\\d{4,} (Read|Write) thread shutting down");
  std::string line;
  int count = 0;
  int broken = 0;
  std::string firstBroken;
  while (count < 6000 && std::getline(lines, line)) {
    if (!std::regex_match(line, whole) && broken++ == 0) firstBroken = line;
    ++count;
  }
  EXPECT_EQ(count, 6000);
  EXPECT_EQ(broken, 0) << "first broken line: " << firstBroken;
  ASSERT_TRUE(std::getline(lines, line));
  EXPECT_TRUE(std::regex_match(line, std::regex("\\d{4,} EvtMask = 'a'"))) << line;
}

}  // namespace
