// quor_vix-cli run soak on the virtual loop-back plug: a short clean run, the far end's damage
// found frame by frame, a write that never ends, and a seed that replays its operations.
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>

#include "tests/cli/cli_process.h"

namespace {

using qv::test::CliRun;
using qv::test::RunCli;

// The value of "  key = value" in the run's output; empty when there is none.
std::string Figure(const std::string& out, const std::string& key) {
  const std::string prefix = "\n  " + key + " = ";
  const std::size_t at = out.find(prefix);
  if (at == std::string::npos) return {};
  const std::size_t from = at + prefix.size();
  return out.substr(from, out.find('\n', from) - from);
}

// The "op" lines of one thread ("T0", "R"), in order.
std::vector<std::string> Operations(const std::string& out, const std::string& thread) {
  std::vector<std::string> ops;
  std::istringstream lines(out);
  const std::string prefix = "op " + thread + " #";
  for (std::string line; std::getline(lines, line);)
    if (line.rfind(prefix, 0) == 0) ops.push_back(line);
  return ops;
}

class SoakTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(folder_.path().empty()); }
  // The clean runs at a rate that makes many operations in a few seconds; the damaged-byte runs
  // slower, so that a reader under a sanitizer keeps up and no overflow excuses the damage.
  CliRun Soak(std::vector<std::string> options, const char* speed = "921600") {
    std::vector<std::string> args = {"run", "soak", "--port", "vloop0", "--speed", speed};
    args.insert(args.end(), options.begin(), options.end());
    CliRun run = RunCli(args, folder_.path(), std::chrono::seconds(90));
    EXPECT_FALSE(run.timedOut) << run.out;
    return run;
  }
  qv::test::TempFolder folder_;
};

TEST_F(SoakTest, AShortRunOnTheLoopBackPlugPassesWithEveryFrameAccountedFor) {
  const CliRun run = Soak({"--seconds", "3", "--seed", "11"});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("soak seed 11, 3 writing threads"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("PASS soak"), std::string::npos);
  for (const char* zero : {"lost", "corrupted", "duplicated", "out_of_order", "hangs"})
    EXPECT_EQ(Figure(run.out, zero), "0") << zero;
  EXPECT_GT(std::stoll("0" + Figure(run.out, "frames_delivered")), 0);
  EXPECT_EQ(Figure(run.out, "fds_after"), Figure(run.out, "fds_before"));
  EXPECT_EQ(Figure(run.out, "threads_after"), Figure(run.out, "threads_before"));
}

TEST_F(SoakTest, EachDamagedByteOfTheFarEndFailsTheRunWithExactlyOneFrame) {
  // With one writer and this seed, the far end's byte 3000 is in frame 2 of the first long write.
  const struct {
    const char* fault;
    const char* figure;
    const char* text;
  } cases[] = {
      {"alter-byte=3000", "corrupted", "1 frame corrupted (T0 seq 2)"},
      {"drop-byte=3000", "lost", "1 frame lost (T0 seq 2)"},
      {"duplicate-byte=3000", "duplicated", "1 frame duplicated (T0 seq 2)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    const CliRun run =
        Soak({"--seconds", "2", "--seed", "7", "--threads", "1", "--fault", c.fault}, "115200");
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_NE(run.out.find("  failure: " + std::string(c.text) + "\n"), std::string::npos)
        << run.out;
    EXPECT_EQ(Figure(run.out, "overflow_reports"), "0");
    for (const char* kind : {"lost", "corrupted", "duplicated", "out_of_order"})
      EXPECT_EQ(Figure(run.out, kind), kind == std::string(c.figure) ? "1" : "0") << kind;
  }
}

TEST_F(SoakTest, AWriteThatNeverCompletesIsAHangNamedWithItsSeedWithinItsBoundAndFiveSeconds) {
  const auto start = std::chrono::steady_clock::now();
  const CliRun run = Soak(
      {"--seconds", "60", "--seed", "7", "--threads", "1", "--fault", "never-complete-writes"});
  const double took =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(run.status, 1) << run.out;
  const std::size_t at = run.out.find("  failure: hang: T0 write-");
  ASSERT_NE(at, std::string::npos) << run.out;
  const std::string line = run.out.substr(at, run.out.find('\n', at) - at);
  EXPECT_NE(line.find("seed 7"), std::string::npos) << line;
  const std::size_t bound = line.find("its bound ");
  ASSERT_NE(bound, std::string::npos) << line;
  // From the run's start: the operations before the hung write take well under a second.
  EXPECT_LT(took, std::stod(line.substr(bound + 10)) + 5 + 1) << line;
  EXPECT_EQ(Figure(run.out, "hangs"), "1");
}

TEST_F(SoakTest, TheSameSeedWithOneThreadReplaysTheSameOperations) {
  const std::vector<std::string> options = {"--seconds", "2", "--seed",   "99",
                                            "--threads", "1", "--verbose"};
  const CliRun first = Soak(options);
  const CliRun second = Soak(options);
  ASSERT_EQ(first.status, 0) << first.out;
  ASSERT_EQ(second.status, 0) << second.out;
  for (const char* thread : {"T0", "R"}) {
    SCOPED_TRACE(thread);
    std::vector<std::string> a = Operations(first.out, thread);
    std::vector<std::string> b = Operations(second.out, thread);
    // A run ends on the clock, so one may have gone further than the other.
    const std::size_t common = std::min(a.size(), b.size());
    EXPECT_GT(common, 20u);
    a.resize(common);
    b.resize(common);
    EXPECT_EQ(a, b);
  }
}

}  // namespace
