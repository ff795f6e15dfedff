// The write-then-interrupt tests from the panel, on a running connection whose output is held:
// vloop0 with CTS output flow and RTS off, a pty pair whose far end sent XOFF, and a serial tty
// (a pty behind a kernel-like output queue) with CTS output flow and CTS off, where the writes'
// bytes sit in the kernel. Each test must
// find its writes pending without a box; what the interrupting step did is then checked on the
// writes' results, on the console and on the far end.
#include <QComboBox>
#include <atomic>
#include <memory>
#include <thread>

#include "drivertests/write_interrupt.h"
#include "engine/comm.h"
#include "tests/common/fake_serial_tty.h"
#include "tests/common/pty_pair.h"
#include "tests/drivertests/io_fixture.h"

namespace qv::test {
namespace {

using qv::drivertests::WriteInterruptTests;
using namespace std::chrono_literals;

enum class Hold { kCtsOnVloop, kXoffOnPty, kCtsOnSerialTty };

std::string HoldName(const ::testing::TestParamInfo<Hold>& info) {
  switch (info.param) {
    case Hold::kCtsOnVloop: return "CtsOnVloop0";
    case Hold::kXoffOnPty: return "XoffOnPty";
    case Hold::kCtsOnSerialTty: return "CtsOnSerialTty";
  }
  return "?";
}

DWORD OutQueue() {
  DWORD errors = 0;
  COMSTAT status{};
  ClearCommError(hPort, &errors, &status);
  return status.cbOutQue;
}

class WriteInterruptTest : public IoPanelTest {
 protected:
  // A running connection on the port; output not held yet.
  void Connect(Hold hold, int speed = 115200) {
    hold_ = hold;
    if (hold == Hold::kXoffOnPty) {
      ownPty_ = std::make_unique<PtyPair>();
      pty_ = ownPty_.get();
      ASSERT_TRUE(pty_->ok());
      UsePort(pty_->path(), speed);
    } else if (hold == Hold::kCtsOnSerialTty) {
      tty_ = std::make_unique<FakeSerialTty>(/*echo=*/false);
      ASSERT_TRUE(tty_->ok());
      pty_ = &tty_->pty();
      UsePort(tty_->path(), speed);
    } else {
      UsePort("vloop0", speed);
    }
    OpenClose();
    ASSERT_NE(hPort.Load(), INVALID_HANDLE_VALUE);
    ASSERT_TRUE(Panel().ConnectionControlsEnabled());
  }
  void HoldOutput() {
    DCB dcb{};
    ASSERT_TRUE(GetCommState(hPort, &dcb));
    if (hold_ != Hold::kXoffOnPty) {
      dcb.fOutxCtsFlow = 1;
      ASSERT_TRUE(SetCommState(hPort, &dcb));
      if (tty_) {
        tty_->SetCts(false);
      } else {
        ASSERT_TRUE(EscapeCommFunction(hPort, CLRRTS));
      }
      ASSERT_TRUE(WaitUntil([] {
        DWORD status = 0;
        return GetCommModemStatus(hPort, &status) && !(status & MS_CTS_ON);
      }));
    } else {
      dcb.fOutX = 1;
      ASSERT_TRUE(SetCommState(hPort, &dcb));
      ASSERT_TRUE(pty_->Write("\x13"));
      // The XOFF crosses the tty layer in a kernel worker, which a loaded machine runs late.
      WaitUntil([] { return false; }, 300);
    }
  }
  void ReleaseOutput() {
    if (tty_) {
      tty_->SetCts(true);
    } else if (hold_ == Hold::kCtsOnVloop) {
      EscapeCommFunction(hPort, SETRTS);
    } else {
      pty_->Write("\x11");
    }
  }
  void Connected(Hold hold) {
    Connect(hold);
    HoldOutput();
  }

  WriteInterruptTests& Writes() { return *Panel().WriteTests(); }
  std::vector<DWORD> EndedErrors() {
    std::vector<DWORD> errors;
    for (const auto& e : Writes().EndedWrites()) errors.push_back(e.error);
    return errors;
  }

  void Disconnect() {
    pty_ = nullptr;
    ownPty_.reset();
    tty_.reset();
  }

  Hold hold_ = Hold::kCtsOnVloop;
  std::unique_ptr<PtyPair> ownPty_;
  std::unique_ptr<FakeSerialTty> tty_;
  PtyPair* pty_ = nullptr;  // the far end of the pty or of the serial tty
};

class HeldWriteTest : public WriteInterruptTest, public ::testing::WithParamInterface<Hold> {};

TEST_P(HeldWriteTest, PurgeTxAbortEndsBothWritesWith995) {
  Connected(GetParam());
  Click(IDC_WRITE_TXABORT);
  EXPECT_EQ(boxes_.Count(), 0u);
  EXPECT_EQ(Writes().PendingWrites(), 0u);
  EXPECT_EQ(EndedErrors(), (std::vector<DWORD>{ERROR_OPERATION_ABORTED, ERROR_OPERATION_ABORTED}));
  EXPECT_EQ(OutQueue(), 0u);
  ReleaseOutput();
  if (pty_) {
    EXPECT_EQ(pty_->Receive(1, 300ms), "");
  }
}

// The transmit side is cleared, the writes themselves stay pending (a serial driver keeps its
// write requests) and go out in order once the output is released.
TEST_P(HeldWriteTest, PurgeTxClearLeavesTheWritesPending) {
  Connected(GetParam());
  Click(IDC_WRITE_TXCLEAR);
  EXPECT_EQ(boxes_.Count(), 0u);
  EXPECT_EQ(Writes().PendingWrites(), 2u);
  EXPECT_EQ(OutQueue(), 256u);
  ReleaseOutput();
  if (pty_) {
    const std::string sent = pty_->Receive(256, 3000ms);
    ASSERT_EQ(sent.size(), 256u);
    EXPECT_EQ(sent.substr(0, 2), "AT");
    EXPECT_EQ(sent.substr(122, 6), "01234@");
    EXPECT_EQ(sent.substr(128, 2), "AT");
    EXPECT_EQ(sent.substr(252, 4), "STU@");
  }
  ASSERT_TRUE(WaitUntil([&] { return Writes().PendingWrites() == 0; }));
  EXPECT_EQ(EndedErrors(), (std::vector<DWORD>{ERROR_SUCCESS, ERROR_SUCCESS}));
}

// CancelIo ends the UI thread's two writes; the connection's own write, pending on its write
// thread, goes out once the output is released.
TEST_P(HeldWriteTest, CancelIoEndsOnlyTheUiThreadsWrites) {
  Connected(GetParam());
  const DWORD before = CommConnection.WriteCompleted;
  ASSERT_TRUE(WriteCommString("hello"));
  ASSERT_TRUE(WaitUntil([] { return OutQueue() == 5; }));
  Click(IDC_WRITE_CANCELIO);
  EXPECT_EQ(boxes_.Count(), 0u);
  EXPECT_EQ(Writes().PendingWrites(), 0u);
  EXPECT_EQ(EndedErrors(), (std::vector<DWORD>{ERROR_OPERATION_ABORTED, ERROR_OPERATION_ABORTED}));
  // A tty's kernel queue can only be discarded whole: with the connection's write in it too, the
  // cancelled writes' bytes stay there and go out behind it.
  const std::size_t left = tty_ ? 5 + 2 * 128 : 5;
  EXPECT_EQ(OutQueue(), left);
  ReleaseOutput();
  EXPECT_TRUE(WaitUntil([&] { return CommConnection.WriteCompleted == before + 5; }));
  if (pty_) {
    EXPECT_EQ(pty_->Receive(left + 1, 1000ms).substr(0, 6), left == 5 ? "hello" : "helloA");
  }
}

TEST_P(HeldWriteTest, CloseHandleLeavesTheConsoleClosedAndItOpensAgain) {
  Connected(GetParam());
  Click(IDC_WRITE_CLOSEHANDLE);
  EXPECT_EQ(boxes_.Count(), 0u);
  EXPECT_EQ(hPort.Load(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(ConsoleText(IDC_OPENCLOSE), "Open");
  EXPECT_FALSE(Panel().ConnectionControlsEnabled());
  EXPECT_EQ(Writes().PendingWrites(), 0u);
  EXPECT_EQ(EndedErrors(), std::vector<DWORD>{ERROR_OPERATION_ABORTED});
  OpenClose();
  EXPECT_NE(hPort.Load(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(ConsoleText(IDC_OPENCLOSE), "Close");
  EXPECT_TRUE(Panel().ConnectionControlsEnabled());
}

TEST_P(HeldWriteTest, BaudrateChangeLeavesPortAndComboAt2400) {
  Connected(GetParam());
  Click(IDC_WRITE_BAUDRATE);
  EXPECT_EQ(boxes_.Count(), 0u);
  EXPECT_EQ(ConsoleText(IDC_SPEED), "2400 bps");
  DCB dcb{};
  ASSERT_TRUE(GetCommState(hPort, &dcb));
  EXPECT_EQ(dcb.BaudRate, 2400u);
  EXPECT_NE(hPort.Load(), INVALID_HANDLE_VALUE);
  // Still held: the write is pending beyond the handler (ended by the close in tear-down).
  EXPECT_EQ(Writes().PendingWrites(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Held, HeldWriteTest,
                         ::testing::Values(Hold::kCtsOnVloop, Hold::kXoffOnPty,
                                           Hold::kCtsOnSerialTty),
                         HoldName);

// The flush returns only once the far end releases the output and has taken everything: the
// upload command (through the connection) and the object, sized for five seconds of data.
class FlushTest : public WriteInterruptTest, public ::testing::WithParamInterface<Hold> {};

TEST_P(FlushTest, FlushReturnsOnceTheFarEndReleasedTheUpload) {
  for (const int speed : {115200, 2400}) {
    SCOPED_TRACE(speed);
    Connect(GetParam(), speed);
    HoldOutput();
    const std::string length = speed == 115200 ? "57632" : "1232";
    const std::string command = "AT+KPSW=\"WAV\"," + length + "\r";
    const std::size_t total = command.size() + std::stoul(length);
    std::atomic<bool> released{false};
    std::string received;
    std::thread farEnd([&] {
      std::this_thread::sleep_for(700ms);  // after the command and into the flush
      released = true;
      ReleaseOutput();
      received = pty_->Receive(total, 20000ms);
    });
    Click(IDC_WRITE_FLUSH);
    const bool wasReleased = released.load();
    farEnd.join();
    EXPECT_TRUE(wasReleased);
    EXPECT_EQ(boxes_.Count(), 0u);
    EXPECT_TRUE(PanelEnabled(IDC_WRITE_FLUSH));
    ASSERT_EQ(received.size(), total);
    EXPECT_EQ(received.substr(0, command.size()), command);
    const std::string object = received.substr(command.size());
    const auto field = [&](std::size_t at) {
      return std::uint32_t(BYTE(object[at])) | std::uint32_t(BYTE(object[at + 1])) << 8 |
             std::uint32_t(BYTE(object[at + 2])) << 16 | std::uint32_t(BYTE(object[at + 3])) << 24;
    };
    EXPECT_EQ(field(0), std::stoul(length) - 4);
    EXPECT_EQ(field(28), std::stoul(length) - 32);
    EXPECT_EQ(object.substr(16, 8), std::string("T\0e\0s\0t\0", 8));
    EXPECT_EQ(Writes().PendingWrites(), 0u);
    EXPECT_EQ(EndedErrors().back(), ERROR_SUCCESS);
    OpenClose();
    Disconnect();
  }
}

INSTANTIATE_TEST_SUITE_P(Held, FlushTest,
                         ::testing::Values(Hold::kXoffOnPty, Hold::kCtsOnSerialTty), HoldName);

// Output not held (a pty takes the bytes at once): the write that completed is reported through
// the checked-call box, and Ignore still runs the interrupting step.
TEST_F(WriteInterruptTest, WriteDoneAtOnceIsReportedAndIgnoreGoesOn) {
  Connect(Hold::kXoffOnPty);
  boxes_.Answer(IDIGNORE);
  Click(IDC_WRITE_CLOSEHANDLE);
  ASSERT_EQ(boxes_.Count(), 1u);
  EXPECT_NE(boxes_.Texts()[0].find("In: ToolTests line "), std::string::npos) << boxes_.Texts()[0];
  EXPECT_EQ(boxes_.Boxes()[0].flags & MB_TYPEMASK, MB_ABORTRETRYIGNORE);
  EXPECT_EQ(hPort.Load(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(ConsoleText(IDC_OPENCLOSE), "Open");
  EXPECT_EQ(pty_->Receive(4096).size(), 4096u);
}

// A driver whose writes never complete and whose purge does nothing: the abort test still finds
// its writes pending, and after the purge they still are.
TEST_F(WriteInterruptTest, PurgeThatDoesNothingLeavesTheWritesPending) {
  Connect(Hold::kCtsOnVloop);
  qv::comm::DriverFaults faults;
  faults.neverCompleteWrites = true;
  faults.refusePurge = true;
  ASSERT_TRUE(qv::comm::SetDriverFaults("vloop0", faults));
  Click(IDC_WRITE_TXABORT);
  EXPECT_EQ(boxes_.Count(), 0u);
  EXPECT_EQ(Writes().PendingWrites(), 2u);
  EXPECT_EQ(OutQueue(), 256u);
  // A sound purge ends them.
  ASSERT_TRUE(qv::comm::SetDriverFaults("vloop0", {}));
  ASSERT_TRUE(PurgeComm(hPort, PURGE_TXABORT));
  EXPECT_EQ(Writes().PendingWrites(), 0u);
}

}  // namespace
}  // namespace qv::test
