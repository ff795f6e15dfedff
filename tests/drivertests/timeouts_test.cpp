// The non-overlapped I/O and timeouts test, run from the panel against echoing far ends (the
// virtual loop-back plug, a recording echo device, socat with cat behind a pty), a far end that
// never echoes, a port held by someone else and a driver that ignores its read timeouts.
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <mutex>

#include "drivertests/timeouts.h"
#include "platform/sync/kernel_object.h"
#include "sim/device.h"
#include "tests/common/pty_pair.h"
#include "tests/common/socat_cat.h"
#include "tests/drivertests/io_fixture.h"

namespace qv::test {
namespace {

// An echoing device that records what the host sent.
struct Recording {
  std::mutex lock;
  std::string bytes;
  std::string Get() {
    std::lock_guard guard(lock);
    return bytes;
  }
};

class RecordingEcho : public qv::sim::Device {
 public:
  explicit RecordingEcho(std::shared_ptr<Recording> record) : record_(std::move(record)) {}
  void Attach(qv::sim::LineEnd* line) override { line_ = line; }
  void OnHostBytes(const std::uint8_t* data, std::size_t count) override {
    {
      std::lock_guard guard(record_->lock);
      record_->bytes.append(reinterpret_cast<const char*>(data), count);
    }
    if (line_) line_->SendToHost(data, count);
  }
  void OnHostLines(bool, bool) override {}
  void OnBreak(bool) override {}
  qv::sim::DeviceDescription Describe() const override { return {}; }

 private:
  std::shared_ptr<Recording> record_;
  qv::sim::LineEnd* line_ = nullptr;
};

std::shared_ptr<Recording> EchoRecord() {
  static auto record = std::make_shared<Recording>();
  static const bool added = qv::comm::AddVirtualPort("vecho13", "recording echo", [] {
    return std::make_unique<RecordingEcho>(record);
  });
  (void)added;
  return record;
}

class TimeoutsTest : public IoPanelTest {
 protected:
  // Runs the test and waits for its end ("Test done" or "Inactive"), bounded.
  void RunToEnd(int ms = 30000) {
    Panel().SetDlgItemText(IDC_PHASE, QString());  // not the end of an earlier run
    Click(IDC_RUN_TIMEOUTS);
    ASSERT_TRUE(WaitUntil(
        [&] {
          const std::string phase = PanelText(IDC_PHASE);
          return (phase == "Test done" || phase == "Inactive") && PanelEnabled(IDC_RUN_TIMEOUTS);
        },
        ms))
        << "phase " << PanelText(IDC_PHASE);
  }
  void ExpectIdleAndClosed() {
    EXPECT_EQ(hPort.Load(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(ConsoleText(IDC_OPENCLOSE), "Open");
    EXPECT_EQ(Panel().stepCounter.Load(), 0);
    EXPECT_TRUE(PanelEnabled(IDC_RUN_TIMEOUTS));
  }
};

TEST_F(TimeoutsTest, EchoingFarEndsCompleteAllPhasesWithOnlyDone) {
  SocatCat socat;
  std::vector<std::string> ports = {"vloop0"};
  if (socat.ok()) ports.push_back(socat.path());
  for (const std::string& port : ports) {
    SCOPED_TRACE(port);
    boxes_.Clear();
    UsePort(port);
    boxes_.Answer(IDOK);
    RunToEnd();
    EXPECT_EQ(boxes_.Texts(), std::vector<std::string>{"Done !"});
    EXPECT_EQ(PanelText(IDC_PHASE), "Test done");
    ExpectIdleAndClosed();
  }
  if (!socat.ok()) GTEST_SKIP() << "socat did not start; only vloop0 was run";
}

// "5" starts the first cycle at phase 5; with "Loop tests" checked the next cycle runs 1 to 7 and
// the character sent keeps counting from where it was.
TEST_F(TimeoutsTest, StartPhaseFromCommandLineAndLoopKeepsCounting) {
  const auto record = EchoRecord();
  {
    std::lock_guard guard(record->lock);
    record->bytes.clear();
  }
  UsePort("vecho13");
  Dlg().SetDlgItemText(IDC_SENDLINE_TEXT, QStringLiteral("5"));
  Panel().CheckDlgButton(IDC_LOOPTESTS, BST_CHECKED);
  boxes_.Answer(IDOK);
  Click(IDC_RUN_TIMEOUTS);
  // Phases 5, 6, 7 send B, C, D; the second cycle starts again at 1 with E.
  ASSERT_TRUE(WaitUntil([&] { return record->Get().size() >= 6; }, 15000)) << record->Get();
  // Unchecked during the second cycle: that cycle is the last.
  Panel().CheckDlgButton(IDC_LOOPTESTS, BST_UNCHECKED);
  ASSERT_TRUE(WaitUntil([&] { return PanelText(IDC_PHASE) == "Test done"; }, 20000));
  EXPECT_EQ(record->Get(), "ATBCDEFGHIJK");
  EXPECT_EQ(boxes_.Texts(), std::vector<std::string>{"Done !"});
  ExpectIdleAndClosed();
}

TEST_F(TimeoutsTest, StartPhaseIsTheLeadingNumberFromOneToSeven) {
  EXPECT_EQ(qv::drivertests::StartPhase("5"), 5);
  EXPECT_EQ(qv::drivertests::StartPhase("7 phases"), 7);
  EXPECT_EQ(qv::drivertests::StartPhase("0"), 1);
  EXPECT_EQ(qv::drivertests::StartPhase("9"), 1);
  EXPECT_EQ(qv::drivertests::StartPhase("AT+CGMI"), 1);
  EXPECT_EQ(qv::drivertests::StartPhase(""), 1);
  EXPECT_EQ(qv::drivertests::StartPhase("-3"), 1);
}

// A driver that ignores its read timeouts: the watchdog reports the stuck read with the phase's
// timeouts, ends the run and closes the port; the killed run leaves nothing behind and a new run
// works.
TEST_F(TimeoutsTest, WatchdogEndsAReadThatIgnoresItsTimeout) {
  UsePort("vloop0");
  qv::comm::DriverFaults faults;
  faults.ignoreReadTimeouts = true;
  ASSERT_TRUE(qv::comm::SetDriverFaults("vloop0", faults));

  boxes_.Answer(IDOK);
  RunToEnd();
  ASSERT_EQ(boxes_.Count(), 1u);
  EXPECT_EQ(boxes_.Texts()[0],
            "Error during timeouts test\n"
            "Stuck in ReadFile (no data received but should have timed out)\n"
            "\ncommtimeouts.ReadIntervalTimeout         = 250"
            "\ncommtimeouts.ReadTotalTimeoutMultiplier  = 0"
            "\ncommtimeouts.ReadTotalTimeoutConstant    = 1000"
            "\ncommtimeouts.WriteTotalTimeoutMultiplier = 0"
            "\ncommtimeouts.WriteTotalTimeoutConstant   = 0"
            "\n\nTerminating test thread...");
  EXPECT_EQ(PanelText(IDC_PHASE), "Inactive");
  ExpectIdleAndClosed();

  // Phase 4's dump.
  Dlg().SetDlgItemText(IDC_SENDLINE_TEXT, QStringLiteral("4"));
  boxes_.Answer(IDOK);
  RunToEnd();
  ASSERT_EQ(boxes_.Count(), 2u);
  EXPECT_EQ(boxes_.Texts()[1],
            "Error during timeouts test\n"
            "Stuck in ReadFile (no data received but should have timed out)\n"
            "\ncommtimeouts.ReadIntervalTimeout         = MAXDWORD"
            "\ncommtimeouts.ReadTotalTimeoutMultiplier  = MAXDWORD"
            "\ncommtimeouts.ReadTotalTimeoutConstant    = 200"
            "\ncommtimeouts.WriteTotalTimeoutMultiplier = MAXDWORD"
            "\ncommtimeouts.WriteTotalTimeoutConstant   = 200"
            "\n\nTerminating test thread...");
  ExpectIdleAndClosed();

  // The killed runs stay quiet; a sound driver passes again (phase 7 only, to be quick).
  ASSERT_TRUE(qv::comm::SetDriverFaults("vloop0", {}));
  Dlg().SetDlgItemText(IDC_SENDLINE_TEXT, QStringLiteral("7"));
  boxes_.Answer(IDOK);
  RunToEnd();
  ASSERT_EQ(boxes_.Count(), 3u);
  EXPECT_EQ(boxes_.Texts()[2], "Done !");
  EXPECT_EQ(PanelText(IDC_PHASE), "Test done");
  ExpectIdleAndClosed();
}

// A far end that never echoes keeps the probe waiting, with no box and no watchdog; the program's
// end closes the port and the waiting thread ends with it, quietly.
TEST_F(TimeoutsTest, ProbeWithoutEchoWaitsAndEndsWithTheProgram) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  UsePort(pty.path());
  Click(IDC_RUN_TIMEOUTS);
  std::string probe;  // read while the UI keeps serving the test thread
  EXPECT_TRUE(WaitUntil([&] {
    probe += pty.Receive(2 - probe.size(), std::chrono::milliseconds(5));
    return probe.size() >= 2;
  }));
  EXPECT_EQ(probe, "AT");
  // Well past the watchdog's time: still probing.
  WaitUntil([] { return false; }, 2000);
  EXPECT_EQ(boxes_.Count(), 0u);
  EXPECT_EQ(Panel().stepCounter.Load(), 1);
  EXPECT_NE(hPort.Load(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(ConsoleText(IDC_OPENCLOSE), "Close");
  EXPECT_FALSE(PanelEnabled(IDC_RUN_TIMEOUTS));
  Close();
  EXPECT_EQ(boxes_.Count(), 0u);
  EXPECT_EQ(hPort.Load(), INVALID_HANDLE_VALUE);
}

// A port held by someone else: the system's code in the box, no thread, the console closed.
TEST_F(TimeoutsTest, PortThatCannotBeOpenedGivesTheSystemCode) {
  const HANDLE holder = CreateFileA("vloop0", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  UsePort("vloop0");
  const int threads = qv::sync::RunningThreadCount();
  boxes_.Answer(IDOK);
  Click(IDC_RUN_TIMEOUTS);
  EXPECT_EQ(boxes_.Texts(), std::vector<std::string>{"Error 5 while opening port"});
  EXPECT_EQ(qv::sync::RunningThreadCount(), threads);
  ExpectIdleAndClosed();
  EXPECT_EQ(PanelText(IDC_PHASE), "");
  CloseHandle(holder);
}

}  // namespace
}  // namespace qv::test
