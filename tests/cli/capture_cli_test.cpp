// "run --capture" records the whole run, and "capture show" prints a capture in rows of 16 with
// stream offsets, filtered by time and kind, and refuses what is not a capture plainly.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/cli/cli_process.h"

namespace qv::test {
namespace {

constexpr const char* kSample =
    "quor_vix-capture 1 start=2026-12-09T20:00:00.000000Z port=vloop0 settings=115200 8N1 "
    "flow=none\n"
    "0.000010 OPEN 0 || vloop0\n"
    "0.500000 TX 4 41 54 0D 0A |AT..| line\n"
    "0.600000 RX 20 41 54 0D 0A 4F 4B 0D 0A 30 31 32 33 34 35 36 37 38 39 7C 00 "
    "|AT..OK..0123456789|.|\n"
    "1.000000 MODEM 0 || CTS=1 DSR=1 RING=0 DCD=0\n"
    "2.000000 RX 2 61 62 |ab|\n"
    "2.500000 CONFIG 0 || 9600 8N1 flow=none\n"
    "3.000000 STOP 0 || events=6 dropped=0\n";

constexpr const char* kShown[] = {
    "capture of vloop0 started 2026-12-09T20:00:00.000000Z, 115200 8N1 flow=none\n",
    "0.000010 OPEN vloop0\n",
    "0.500000 TX 4 bytes (line)\n"
    "    00000000  41 54 0D 0A                                       |AT..|\n",
    "0.600000 RX 20 bytes\n"
    "    00000000  41 54 0D 0A 4F 4B 0D 0A  30 31 32 33 34 35 36 37  |AT..OK..01234567|\n"
    "    00000010  38 39 7C 00                                       |89|.|\n",
    "1.000000 MODEM CTS=1 DSR=1 RING=0 DCD=0\n",
    // Offsets run on through the direction's stream.
    "2.000000 RX 2 bytes\n"
    "    00000014  61 62                                             |ab|\n",
    "2.500000 CONFIG 9600 8N1 flow=none\n",
    "3.000000 STOP events=6 dropped=0\n",
};

class CaptureCliTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(folder_.path().empty()); }
  std::string Write(const std::string& name, const std::string& text) {
    std::ofstream(folder_.path() / name, std::ios::binary) << text;
    return (folder_.path() / name).string();
  }
  CliRun Cli(const std::vector<std::string>& args) {
    CliRun run = RunCli(args, folder_.path(), std::chrono::seconds(120));
    EXPECT_FALSE(run.timedOut);
    return run;
  }
  TempFolder folder_;
};

TEST_F(CaptureCliTest, ShowPrintsTheChosenEventsInRowsOfSixteenWithStreamOffsets) {
  const std::string file = Write("c.txt", kSample);
  // Which of kShown each filter keeps (the header always, DROPPED and STOP whatever the filter).
  const struct {
    std::vector<std::string> filter;
    std::vector<int> shown;
  } cases[] = {
      {{}, {0, 1, 2, 3, 4, 5, 6, 7}},           {{"--kind", "rx"}, {0, 3, 5, 7}},
      {{"--kind=tx,lines"}, {0, 2, 4, 7}},      {{"--kind", "port,config"}, {0, 1, 6, 7}},
      {{"--since", "0.6"}, {0, 3, 4, 5, 6, 7}}, {{"--since", "2", "--kind", "rx"}, {0, 5, 7}},
      {{"--since=2.500001"}, {0, 7}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args{"capture", "show", file};
    args.insert(args.end(), c.filter.begin(), c.filter.end());
    SCOPED_TRACE(::testing::PrintToString(c.filter));
    std::string expected;
    for (const int i : c.shown) expected += kShown[i];
    const CliRun run = Cli(args);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, expected);
  }
}

TEST_F(CaptureCliTest, WhatIsNotACaptureEndsWithStatus2AndTheLineAtFault) {
  const std::string header =
      "quor_vix-capture 1 start=2026-12-09T20:00:00.000000Z port=vloop0 settings=\n";
  const struct {
    std::string text;
    int status;
    std::string err;
  } cases[] = {
      {"", 2, "line 1: the file is empty"},
      {"PK\x03\x04 binary\n", 2, "line 1: not a capture"},
      {"quor_vix-capture 7 start=x port=y settings=\n", 2, "line 1: format version 7"},
      {header + "0.100000 RX 2 41 42 |AB|\n0.2 RX 0 ||\n", 2, "line 3: the time \"0.2\""},
      {header + "0.100000 RX 2 41 42 |AB|\n" + std::string(400000, 'x') + "\n", 2,
       "line 3: longer than any line"},
      // A capture cut off mid-line (the disk filled, the run was killed) shows what it holds.
      {header + "0.100000 RX 2 41 42 |AB|\n0.200000 RX 2 41", 0, "line 3 is cut short"},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].err);
    const std::string file = Write("bad" + std::to_string(i), cases[i].text);
    const CliRun run = Cli({"capture", "show", file});
    EXPECT_EQ(run.status, cases[i].status);
    EXPECT_NE(run.err.find(cases[i].err), std::string::npos) << run.err;
    // What came before the line at fault is shown.
    if (cases[i].text.find("|AB|") != std::string::npos) {
      EXPECT_NE(run.out.find("0.100000 RX 2 bytes"), std::string::npos) << run.out;
    }
  }

  const struct {
    std::vector<std::string> args;
    std::string err;
  } usage[] = {
      {{"capture"}, "capture takes show FILE"},
      {{"capture", "show"}, "capture show needs a file"},
      {{"capture", "show", "a", "b"}, "takes one file"},
      {{"capture", "show", "a", "--since", "-1"}, "--since takes seconds"},
      {{"capture", "show", "a", "--since", "1.1234567"}, "--since takes seconds"},
      {{"capture", "show", "a", "--kind", "rx,,tx"}, "--kind takes rx, tx, lines"},
      {{"capture", "show", "a", "--kind"}, "--kind needs a value"},
      {{"capture", "show", "missing.txt"}, "cannot read the capture \"missing.txt\""},
      {{"run", "echo", "--port", "vloop0", "--capture", "/no-such-folder/c.txt"},
       "cannot create the capture \"/no-such-folder/c.txt\""},
  };
  for (const auto& c : usage) {
    SCOPED_TRACE(c.err);
    const CliRun run = Cli(c.args);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
    EXPECT_EQ(run.out.find("--- echo"), std::string::npos) << "a test ran: " << run.out;
  }
}

TEST_F(CaptureCliTest, ARunsCaptureHoldsEveryTestsBytesInOrderWithTheirSourceAndVerdict) {
  const std::string file = (folder_.path() / "run.txt").string();
  const CliRun run = Cli(
      {"run", "echo", "setconfig", "--port", "vloop0", "--block-size", "300", "--capture", file});
  ASSERT_EQ(run.status, 0) << run.out << run.err;

  std::ifstream in(file);
  std::string line;
  ASSERT_TRUE(std::getline(in, line));
  EXPECT_EQ(line.rfind("quor_vix-capture 1 start=", 0), 0u) << line;
  EXPECT_NE(line.find(" port=vloop0 settings=speed=115200"), std::string::npos) << line;
  std::string sent;
  std::string received;
  std::vector<std::string> marks;  // everything but the bytes, in order
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string time, kind, count;
    words >> time >> kind >> count;
    if (kind == "RX" || kind == "TX") {
      // The character column holds the bytes as well; the hex is the exact record.
      std::string hex;
      for (int i = 0; i < std::stoi(count); ++i) {
        words >> hex;
        (kind == "TX" ? sent : received) += char(std::stoi(hex, nullptr, 16));
      }
      if (kind == "TX") {
        EXPECT_EQ(line.substr(line.size() - 5), " echo") << line.substr(0, 40);
      }
      continue;
    }
    std::string detail;
    std::getline(words, detail);
    const std::size_t bars = detail.find("|| ");
    marks.push_back(kind + ' ' + (bars == std::string::npos ? detail : detail.substr(bars + 3)));
  }
  EXPECT_EQ(sent.size(), 3000u);
  EXPECT_EQ(received, sent);  // the loop-back plug: every byte back, in order
  // The echo test's open, its line settings, its close and verdict; then the next test's.
  ASSERT_GE(marks.size(), 6u);
  EXPECT_EQ(marks[0], "OPEN vloop0");
  EXPECT_EQ(marks[1], "CONFIG 115200 8N1 flow=none");
  // The input lines of the port as it opened: the loop-back plug wires RTS to CTS, DTR to DSR
  // and DCD.
  EXPECT_NE(std::find(marks.begin(), marks.end(), "MODEM CTS=1 DSR=1 RING=0 DCD=1"), marks.end());
  EXPECT_NE(std::find(marks.begin(), marks.end(), "VERDICT echo PASS"), marks.end());
  EXPECT_NE(std::find(marks.begin(), marks.end(), "VERDICT setconfig PASS"), marks.end());
  EXPECT_EQ(marks.back().rfind("STOP events=", 0), 0u) << marks.back();
  EXPECT_NE(marks.back().find(" dropped=0"), std::string::npos) << marks.back();

  const CliRun show = Cli({"capture", "show", file, "--kind", "tests"});
  EXPECT_EQ(show.status, 0) << show.err;
  EXPECT_NE(show.out.find(" VERDICT echo PASS\n"), std::string::npos) << show.out;
  EXPECT_EQ(show.out.find(" RX "), std::string::npos) << show.out;
}

}  // namespace
}  // namespace qv::test
