// quor_vix-cli as a CI job runs it: the built executable on the virtual loop-back plug and on a
// pseudo-terminal with `cat` as the far end, its exit status, its lines and its JUnit file.
#include <gtest/gtest.h>

#include <QFile>
#include <QXmlStreamReader>
#include <array>
#include <cstdio>
#include <map>

#include "tests/cli/cli_process.h"
#include "tests/common/socat_cat.h"

namespace {

using qv::test::CliRun;
using qv::test::LastLine;
using qv::test::RunCli;

const std::vector<std::string> kAllTests = {
    "open-close", "timeouts",    "echo",          "setconfig",     "baud-scan",   "write-close",
    "write-baud", "write-flush", "write-txabort", "write-txclear", "write-cancel"};

struct JUnitCase {
  bool failed = false;
  std::string failure;
  std::map<std::string, std::string> properties;
};

// The testcases of a JUnit file; error holds the parser's complaint when it is no valid XML.
struct JUnitFile {
  std::map<std::string, JUnitCase> cases;
  std::string error;
};

JUnitFile ReadJUnit(const std::filesystem::path& path) {
  JUnitFile file;
  QFile input(QString::fromStdString(path.string()));
  if (!input.open(QIODevice::ReadOnly)) {
    file.error = "cannot open " + path.string();
    return file;
  }
  QXmlStreamReader xml(&input);
  JUnitCase* current = nullptr;
  while (!xml.atEnd()) {
    xml.readNext();
    if (xml.isStartElement() && xml.name() == u"testcase") {
      current = &file.cases[xml.attributes().value("name").toString().toStdString()];
    } else if (xml.isStartElement() && xml.name() == u"property" && current != nullptr) {
      current->properties[xml.attributes().value("name").toString().toStdString()] =
          xml.attributes().value("value").toString().toStdString();
    } else if (xml.isStartElement() && xml.name() == u"failure" && current != nullptr) {
      current->failed = true;
      current->failure = xml.readElementText().toStdString();
    } else if (xml.isEndElement() && xml.name() == u"testcase") {
      current = nullptr;
    }
  }
  if (xml.hasError()) file.error = xml.errorString().toStdString();
  return file;
}

std::vector<std::string> With(std::vector<std::string> tests, std::vector<std::string> options) {
  tests.insert(tests.end(), options.begin(), options.end());
  return tests;
}

std::vector<std::string> RunArgs(std::vector<std::string> rest) {
  rest.insert(rest.begin(), "run");
  return rest;
}

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(folder_.path().empty()); }
  std::filesystem::path Junit() const { return folder_.path() / "junit.xml"; }
  CliRun Cli(const std::vector<std::string>& args,
             std::chrono::seconds bound = std::chrono::seconds(150)) {
    CliRun run = RunCli(args, folder_.path(), bound);
    EXPECT_FALSE(run.timedOut) << "still running after " << bound.count() << " s:\n" << run.out;
    return run;
  }
  qv::test::TempFolder folder_;
};

TEST_F(CliTest, EveryTestPassesOnTheLoopBackPlugWithItsFiguresInTheJUnitFile) {
  const std::filesystem::path report = folder_.path() / "report.html";
  const CliRun run = Cli(RunArgs(With(kAllTests, {"--port", "vloop0", "--junit", Junit().string(),
                                                  "--report", report.string()})));
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(LastLine(run.out), "11 passed, 0 failed");
  EXPECT_NE(run.out.find("\nSuccess !\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\nDone !\n"), std::string::npos) << run.out;

  JUnitFile junit = ReadJUnit(Junit());
  ASSERT_EQ(junit.error, "");
  ASSERT_EQ(junit.cases.size(), kAllTests.size());
  for (const auto& [name, testcase] : junit.cases) EXPECT_FALSE(testcase.failed) << name;
  const auto figure = [&](const std::string& test, const std::string& key) {
    const auto& properties = junit.cases.at(test).properties;
    const auto it = properties.find(key);
    return it == properties.end() ? std::string("<missing>") : it->second;
  };
  EXPECT_EQ(figure("echo", "blocks"), "10");
  EXPECT_GT(std::atof(figure("echo", "throughput_bytes_per_second").c_str()), 0);
  EXPECT_GT(std::atof(figure("echo", "round_trip_ms_avg").c_str()), 0);
  // Phase 1 reads with nothing to read: about its 1000 ms bound, never far beyond it.
  EXPECT_EQ(figure("timeouts", "phase1_empty_read_bound_ms"), "1000");
  const double phase1 = std::atof(figure("timeouts", "phase1_empty_read_ms").c_str());
  EXPECT_GE(phase1, 900);
  EXPECT_LT(phase1, 1500);
  EXPECT_EQ(figure("timeouts", "phase3_echo_read_bound_ms"), "none");
  EXPECT_EQ(figure("open-close", "fds_before"), figure("open-close", "fds_after"));
  EXPECT_EQ(figure("baud-scan", "list"), "1-2000000");
  EXPECT_EQ(figure("setconfig", "verdict"), "Success");
  // The held writes as a driver ends them: aborted by the close, the purge and the cancel
  // with none of their bytes sent, kept by the buffer purge, going on at the new speed.
  const struct {
    const char* test;
    const char* key;
    const char* holds;
  } ends[] = {
      {"write-close", "write1", "ended with 995"},  {"write-txabort", "write2", "ended with 995"},
      {"write-txabort", "far_end_bytes", "0"},      {"write-cancel", "write2", "ended with 995"},
      {"write-cancel", "far_end_bytes", "0"},       {"write-txclear", "far_end_bytes", "256"},
      {"write-txclear", "write2", "ended with 0 "}, {"write-baud", "speed_after", "2400"},
      {"write-flush", "out_queue_at_return", "0"},  {"write-txabort", "hold", "cts: "},
  };
  for (const auto& end : ends)
    EXPECT_NE(figure(end.test, end.key).find(end.holds), std::string::npos)
        << end.test << " " << end.key << ": " << figure(end.test, end.key);

  // The report is well-formed and holds one chart for each test, all of which have figures.
  QFile page(QString::fromStdString(report.string()));
  ASSERT_TRUE(page.open(QIODevice::ReadOnly));
  QXmlStreamReader html(&page);
  std::vector<std::string> charted;
  while (!html.atEnd()) {
    if (html.readNext() == QXmlStreamReader::StartElement && html.name() == u"svg" &&
        html.attributes().value("class") == u"chart")
      charted.push_back(html.attributes().value("data-test").toString().toStdString());
    EXPECT_NE(html.name(), u"script");
  }
  EXPECT_FALSE(html.hasError()) << html.errorString().toStdString() << " at line "
                                << html.lineNumber();
  EXPECT_EQ(charted, kAllTests);
}

TEST_F(CliTest, AWriteTestWithNothingPendingOrAWriteNotAbortedFails) {
  const struct {
    std::vector<std::string> options;
    std::string failure;
  } cases[] = {
      {{"--hold", "none"}, "failure: nothing was pending at the interrupting step: write 1"},
      {{"--fault", "refuse-purge"},
       "failure: write 1 (128 bytes) was not aborted: it ended with 0"},
  };
  for (const auto& c : cases) {
    const CliRun run = Cli(RunArgs(With({"write-txabort", "--port", "vloop0"}, c.options)));
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_NE(run.out.find(c.failure), std::string::npos) << run.out;
  }
}

TEST_F(CliTest, OnAPseudoTerminalWithCatTheTestsPassAndWritesTakenAtOnceFailPlainly) {
  qv::test::SocatCat farEnd;
  ASSERT_TRUE(farEnd.ok()) << "socat did not start";
  const std::vector<std::string> passing = {"open-close", "timeouts",  "echo",
                                            "setconfig",  "baud-scan", "write-flush"};
  CliRun run = Cli(RunArgs(With(passing, {"--port", farEnd.path(), "--junit", Junit().string()})));
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(LastLine(run.out), "6 passed, 0 failed");
  JUnitFile junit = ReadJUnit(Junit());
  ASSERT_EQ(junit.error, "");
  EXPECT_EQ(junit.cases.size(), passing.size());
  EXPECT_NE(junit.cases["echo"].properties["throughput_bytes_per_second"], "");

  // The terminal's buffer takes a short write whole before WriteFile returns: nothing is left
  // pending, so the step interrupts nothing and the test must not pass.
  run = Cli(RunArgs({"write-txabort", "write-cancel", "--port", farEnd.path()}));
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  EXPECT_EQ(LastLine(run.out), "0 passed, 2 failed");
  EXPECT_NE(run.out.find("failure: nothing was pending at the interrupting step: a write was "
                         "complete when WriteFile returned"),
            std::string::npos)
      << run.out;
}

TEST_F(CliTest, AReadThatIgnoresItsTimeoutFailsTimeoutsWithTheWatchdogTextAndDoesNotHang) {
  const CliRun run = Cli(RunArgs({"timeouts", "echo", "--port", "vloop0", "--fault",
                                  "ignore-read-timeouts", "--junit", Junit().string()}),
                         std::chrono::seconds(60));
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  EXPECT_EQ(LastLine(run.out), "1 passed, 1 failed");
  JUnitFile junit = ReadJUnit(Junit());
  ASSERT_EQ(junit.error, "");
  ASSERT_TRUE(junit.cases["timeouts"].failed);
  EXPECT_EQ(junit.cases["timeouts"].failure.rfind(
                "Error during timeouts test\n"
                "Stuck in ReadFile (no data received but should have timed out)\n",
                0),
            0u)
      << junit.cases["timeouts"].failure;
  EXPECT_NE(junit.cases["timeouts"].failure.find("Terminating test thread..."), std::string::npos);
  // The summary holds the whole text, its reason indented under the first line.
  EXPECT_NE(run.out.find("failure: Error during timeouts test\n           Stuck in ReadFile"),
            std::string::npos)
      << run.out;
  // The run went on after the abandoned thread: the next test had the port.
  EXPECT_FALSE(junit.cases["echo"].failed) << junit.cases["echo"].failure;
}

TEST_F(CliTest, AFarEndThatNeverEchoesFailsTimeoutsInsteadOfHoldingTheRun) {
  qv::test::SocatCat farEnd("cat >/dev/null");
  ASSERT_TRUE(farEnd.ok()) << "socat did not start";
  const CliRun run = Cli(RunArgs({"timeouts", "--port", farEnd.path()}), std::chrono::seconds(40));
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  EXPECT_NE(run.out.find("failure: No echo of \"AT\" from the device within 10 s"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(LastLine(run.out), "0 passed, 1 failed");
}

TEST_F(CliTest, AFarEndThatAltersAByteFailsEchoWithTheDifference) {
  const CliRun run = Cli(RunArgs({"echo", "--port", "vloop0", "--fault", "alter-byte=100"}));
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  EXPECT_NE(run.out.find("\nDifference found in block at offset 100 !\n"), std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("FAIL echo"), std::string::npos);
  EXPECT_EQ(LastLine(run.out), "0 passed, 1 failed");
}

TEST_F(CliTest, TenThousandOpenCloseCyclesLeaveTheDescriptorsAndThreadsAsTheyWere) {
  const CliRun run = Cli(RunArgs({"open-close", "--cycles", "10000", "--interval", "0", "--port",
                                  "vloop0", "--junit", Junit().string()}));
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  JUnitFile junit = ReadJUnit(Junit());
  ASSERT_EQ(junit.error, "");
  auto& figures = junit.cases["open-close"].properties;
  EXPECT_EQ(figures["cycles"], "10000");
  EXPECT_EQ(figures["fds_before"], figures["fds_after"]);
  EXPECT_EQ(figures["threads_before"], figures["threads_after"]);
  EXPECT_NE(figures["handles_before"], "");
  EXPECT_EQ(figures["handles_before"], figures["handles_after"]);
  EXPECT_GT(std::atof(figures["cycles_per_second"].c_str()), 0);
}

TEST_F(CliTest, RefusedOpensAreCountedTheLoopRunsToItsLastCycleAndTheTestFails) {
  const CliRun run = Cli(RunArgs({"open-close", "--port", "vloop0", "--cycles", "30", "--fault",
                                  "refuse-open=10", "--junit", Junit().string()}));
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  // Opens 10, 20 and 30: a cycle whose open was refused opens with its second command.
  EXPECT_NE(run.out.find("  failure: 3 of 32 opens refused\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\nAn error 5 occured on CreateFile:"), std::string::npos) << run.out;
  JUnitFile junit = ReadJUnit(Junit());
  ASSERT_EQ(junit.error, "");
  auto& figures = junit.cases["open-close"].properties;
  EXPECT_EQ(figures["cycles"], "30");
  EXPECT_EQ(figures["opens_refused"], "3");
  EXPECT_EQ(figures["handles_before"], figures["handles_after"]);
  EXPECT_EQ(figures["fds_before"], figures["fds_after"]);
}

TEST_F(CliTest, TheJUnitFileStaysValidXmlWhateverBytesAFailureHolds) {
  // A data file whose name is no UTF-8 and holds a control character and markup.
  const std::string source = std::string("in\xff<&\x01\"data\".bin");
  const CliRun run =
      Cli(RunArgs({"echo", "--port", "vloop0", "--source", source, "--junit", Junit().string()}));
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  JUnitFile junit = ReadJUnit(Junit());
  ASSERT_EQ(junit.error, "");
  ASSERT_TRUE(junit.cases["echo"].failed);
  EXPECT_NE(junit.cases["echo"].failure.find(
                "Cannot open the data file \"in\xEF\xBF\xBD<&\"data\".bin\""),
            std::string::npos)
      << junit.cases["echo"].failure;
}

TEST_F(CliTest, BlockSizeRecordAndStartPhaseReachTheTests) {
  const CliRun run = Cli(RunArgs({"echo", "timeouts", "--port", "vloop0", "--block-size", "512",
                                  "--record", "--start-phase", "6", "--junit", Junit().string()}));
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  JUnitFile junit = ReadJUnit(Junit());
  ASSERT_EQ(junit.error, "");
  EXPECT_EQ(junit.cases["echo"].properties["block_size"], "512");
  EXPECT_EQ(junit.cases["echo"].properties["bytes"], "5120");
  // The record files hold the echo's ten blocks each way (and the timeouts test's bytes after
  // them: that test opens its own handle, outside the engine, and records nothing).
  EXPECT_EQ(std::filesystem::file_size(folder_.path() / "data_sent.log"), 5120u);
  EXPECT_EQ(std::filesystem::file_size(folder_.path() / "data_recv.log"), 5120u);
  // One cycle from phase 6: phases 6 and 7 only.
  const auto& timeouts = junit.cases["timeouts"].properties;
  EXPECT_EQ(timeouts.count("phase1_empty_read_ms"), 0u);
  EXPECT_EQ(timeouts.count("phase5_empty_read_ms"), 0u);
  EXPECT_EQ(timeouts.count("phase6_echo_read_ms"), 1u);
  EXPECT_EQ(timeouts.count("phase7_empty_read_ms"), 1u);
}

TEST_F(CliTest, UsageErrorsAndAPortThatCannotOpenEndWithStatus2) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{}, "a command is needed"},
      {{"frobnicate"}, "unknown command"},
      {RunArgs({"echo"}), "no port given"},
      {RunArgs({"--port", "vloop0"}), "no test given"},
      {RunArgs({"echo", "loopback", "--port", "vloop0"}), "unknown test \"loopback\""},
      {RunArgs({"timeouts", "--port", "vloop0", "--start-phase", "8"}), "--start-phase takes"},
      {RunArgs({"open-close", "--port", "vloop0", "--cycles", "0"}), "--cycles takes"},
      {RunArgs({"open-close", "--port", "vloop0", "--interval", "70000"}), "--interval takes"},
      {RunArgs({"echo", "--port", "vloop0", "--fault", "melt"}), "unknown fault"},
      {RunArgs({"open-close", "--port", "vloop0", "--fault", "refuse-open=0"}), "unknown fault"},
      {RunArgs({"write-close", "--port", "vloop0", "--hold", "rts"}), "--hold takes cts or none"},
      {RunArgs({"soak", "--port", "vloop0", "--threads", "0"}), "--threads takes"},
      {RunArgs({"soak", "--port", "vloop0", "--seed", "-1"}), "--seed takes a whole number"},
      {RunArgs({"soak", "--port", "vloop0", "--seed", "18446744073709551616"}),
       "--seed takes a number below 2^64"},
      {RunArgs({"soak", "--port", "/dev/null", "--fault", "drop-byte=5"}), "virtual ports only"},
      {RunArgs({"write-flush", "--port", "vloop0", "--speed", "4294967294"}), "--speed takes"},
      {RunArgs({"echo", "--port", "/etc/passwd"}),
       "/etc/passwd is not a serial port: Incorrect function. (error 1)"},
      {RunArgs({"echo", "--port", "/dev/null", "--fault", "refuse-purge"}), "virtual ports only"},
      {RunArgs({"echo", "--port", "vloop0", "--junit", "/nonexistent-dir/j.xml"}),
       "cannot write the JUnit file"},
      {RunArgs({"echo", "--port", "vloop0", "--report", "/nonexistent-dir/r.html"}),
       "cannot write the report"},
  };
  for (const Case& c : cases) {
    const CliRun run = Cli(c.args, std::chrono::seconds(20));
    EXPECT_EQ(run.status, 2) << c.message;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "") << c.message;
  }
  // A port that is not there: which port, and the system's reason.
  const CliRun missing = Cli(RunArgs({"echo", "--port", "vnothere7"}), std::chrono::seconds(20));
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find("cannot open port \"vnothere7\": The system cannot find the file "
                             "specified. (error 2)"),
            std::string::npos)
      << missing.err;
}

TEST_F(CliTest, VersionPrintsTheProgramsVersion) {
  const CliRun run = Cli({"--version"}, std::chrono::seconds(20));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out.rfind("quor_vix-cli 1.", 0), 0u) << run.out;
}

TEST_F(CliTest, PortsListsTheOfferedPortsWithTheirSources) {
  const CliRun run = Cli({"ports"}, std::chrono::seconds(20));
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("vloop0\tvirtual loop-back plug\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("vphone0\tvirtual phone\n"), std::string::npos) << run.out;
}

TEST(CliLinks, TheExecutableNeedsNoWidgetOrDisplayLibrary) {
  const std::string command = "ldd '" + qv::test::CliPath().string() + "' 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string libraries;
  std::array<char, 512> buffer{};
  while (std::fgets(buffer.data(), int(buffer.size()), pipe) != nullptr) libraries += buffer.data();
  ASSERT_EQ(::pclose(pipe), 0) << libraries;
  ASSERT_NE(libraries.find("libc.so"), std::string::npos) << libraries;
  for (const char* library : {"libQt6Widgets", "libQt6Gui", "libX11", "libxcb", "libEGL", "libGL"})
    EXPECT_EQ(libraries.find(library), std::string::npos) << library << " in\n" << libraries;
}

}  // namespace
