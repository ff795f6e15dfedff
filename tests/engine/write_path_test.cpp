// The write path: order, partial writes, the sent-data record, purge and stop during a write,
// requests without a write thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>

#include "platform/sync/message_queue.h"
#include "tests/engine/engine_fixture.h"

namespace qv::test {
namespace {

class WritePathTest : public EngineTest {
 protected:
  // Output flow control on CTS, with the loop-back plug's CTS held off by the test: a write
  // stays pending until the test lets it go.
  bool HoldOutput(bool held) {
    if (held) {
      DCB dcb{};
      GetCommState(port, &dcb);
      dcb.fOutxCtsFlow = 1;
      if (!SetCommState(port, &dcb)) return false;
    }
    qv::comm::FarEndLines lines;
    lines.cts = !held;
    return qv::comm::SetFarEndLines("vloop0", lines);
  }
};

// Output the driver still holds (what ClearCommError counts in cbOutQue).
DWORD OutQueue(HANDLE port) {
  COMSTAT status{};
  DWORD errors = 0;
  ClearCommError(port, &errors, &status);
  return status.cbOutQue;
}

// Blocks of 16 bytes: writer, sequence number, filler. The loop-back plug returns them.
Bytes Block(BYTE writer, std::uint32_t sequence) {
  Bytes block(16, static_cast<BYTE>(0xA0 + writer));
  block[0] = writer;
  std::memcpy(&block[1], &sequence, sizeof sequence);
  return block;
}

TEST_F(WritePathTest, RequestsFromTwoThreadsAreWrittenWholeInPostingOrderAndRecordedOnce) {
  ASSERT_NE(Open("vloop0"), INVALID_HANDLE_VALUE);
  CommConnection.LogData = 1;
  ASSERT_TRUE(Start());
  constexpr std::uint32_t kPerWriter = 300;
  auto writer = [](BYTE id) {
    for (std::uint32_t i = 0; i < kPerWriter; ++i) {
      const Bytes block = Block(id, i);
      ASSERT_EQ(WriteCommBuffer(block.data(), 16), 1);
    }
  };
  std::thread a(writer, 1), b(writer, 2);
  a.join();
  b.join();
  constexpr std::size_t kTotal = 2 * kPerWriter * 16;
  ASSERT_TRUE(WaitUntil([&] { return console.Received().size() == kTotal; }));
  ASSERT_TRUE(WaitUntil([] { return CommConnection.WriteCompleted == kTotal; }));
  EXPECT_EQ(static_cast<DWORD>(CommConnection.WriteRequested), kTotal);

  // Every block arrives whole (requests are never interleaved), each writer's in its order.
  const Bytes received = console.Received();
  std::map<BYTE, std::uint32_t> next;
  for (std::size_t at = 0; at < received.size(); at += 16) {
    const BYTE id = received[at];
    std::uint32_t sequence;
    std::memcpy(&sequence, &received[at + 1], sizeof sequence);
    ASSERT_EQ(Bytes(received.begin() + at, received.begin() + at + 16), Block(id, sequence));
    ASSERT_EQ(sequence, next[id]++) << "writer " << int(id);
  }
  EXPECT_EQ(next[1], kPerWriter);
  EXPECT_EQ(next[2], kPerWriter);
  // What was written, as written.
  EXPECT_EQ(FileBytes("data_sent.log"), received);
  StopComm(0);
}

TEST_F(WritePathTest, RequestWrittenInPartsIsRecordedExactlyOnceAndInOrder) {
  // 9600 bps: about one byte per millisecond; a 40 ms write time-out cuts a long request into
  // many partial writes.
  ASSERT_NE(Open("vloop0", 9600), INVALID_HANDLE_VALUE);
  CommConnection.LogData = 1;
  ASSERT_TRUE(Start());
  COMMTIMEOUTS timeouts{250, 0, 1000, 0, 40};
  ASSERT_TRUE(SetCommTimeouts(port, &timeouts));
  const Bytes data = Pattern(600, 7);
  ASSERT_TRUE(WriteCommBuffer(data.data(), 600));
  ASSERT_TRUE(WaitUntil([] { return CommConnection.WriteCompleted == 600; }));
  ASSERT_TRUE(WaitUntil([&] { return console.Received().size() == 600; }));
  EXPECT_EQ(FileBytes("data_sent.log"), data);
  EXPECT_EQ(console.Received(), data);
  EXPECT_EQ(boxes.Count(), 0u);
  StopComm(0);
}

TEST_F(WritePathTest, LineIsTwoRequestsAndEmptyRequestsRecordNothing) {
  ASSERT_NE(Open("vloop0"), INVALID_HANDLE_VALUE);
  CommConnection.LogData = 1;
  ASSERT_TRUE(Start());
  // Everything posted is in the write thread's queue: two requests for one line.
  ASSERT_EQ(WriteCommBuffer(nullptr, 0), 1);
  WriteCommLine("AT");
  ASSERT_TRUE(WaitUntil([] { return CommConnection.WriteCompleted == 4; }));
  ASSERT_TRUE(WaitUntil([&] { return console.Received().size() == 4; }));
  EXPECT_EQ(FileBytes("data_sent.log"), (Bytes{'A', 'T', '\r', '\n'}));
  EXPECT_EQ(static_cast<DWORD>(CommConnection.WriteRequested), 4u);
  ASSERT_EQ(WriteCommString(""), 1);
  WriteCommLine("AT");
  ASSERT_TRUE(WaitUntil([] { return CommConnection.WriteCompleted == 8; }));
  EXPECT_EQ(FileBytes("data_sent.log").size(), 8u);
  StopComm(0);
}

TEST_F(WritePathTest, LineTextAndItsCrLfAreSeparateRequests) {
  // A purge while the text is held drops only the text: CR LF is a request of its own.
  ASSERT_NE(Open("vloop0"), INVALID_HANDLE_VALUE);
  ASSERT_TRUE(HoldOutput(true));
  ASSERT_TRUE(Start());
  WriteCommLine("AT");
  ASSERT_TRUE(WaitUntil([] { return CommConnection.WriteRequested == 2; }));
  boxes.Answer(IDOK);
  ASSERT_TRUE(PurgeComm(port, PURGE_TXABORT));
  ASSERT_TRUE(WaitUntil([&] { return boxes.Count() == 1; }));
  ASSERT_TRUE(HoldOutput(false));
  ASSERT_TRUE(WaitUntil([&] { return console.Received().size() == 2; }));
  EXPECT_EQ(console.Received(), (Bytes{'\r', '\n'}));
  EXPECT_EQ(static_cast<DWORD>(CommConnection.WriteRequested), 4u);
  StopComm(0);
}

TEST_F(WritePathTest, PurgeDuringAHeldWriteDropsItsRestAndTheNextRequestIsStillWritten) {
  ASSERT_NE(Open("vloop0"), INVALID_HANDLE_VALUE);
  CommConnection.LogData = 1;
  ASSERT_TRUE(HoldOutput(true));
  ASSERT_TRUE(Start());
  const Bytes held = Pattern(64, 4);
  ASSERT_TRUE(WriteCommBuffer(held.data(), 64));
  ASSERT_TRUE(WriteCommString("next"));
  ASSERT_TRUE(WaitUntil([] { return CommConnection.WriteRequested == 64; }));

  boxes.Answer(IDOK);
  ASSERT_TRUE(PurgeComm(port, PURGE_TXABORT));
  ASSERT_TRUE(WaitUntil([&] { return boxes.Count() == 1; }));
  EXPECT_EQ(boxes.Texts()[0], "ERROR_OPERATION_ABORTED, Likely PurgeComm(TXABORT) has been used.");
  ASSERT_TRUE(HoldOutput(false));
  ASSERT_TRUE(WaitUntil([&] { return console.Received() == Bytes{'n', 'e', 'x', 't'}; }));
  EXPECT_EQ(static_cast<DWORD>(CommConnection.WriteRequested), 68u);
  EXPECT_EQ(static_cast<DWORD>(CommConnection.WriteCompleted), 4u);
  EXPECT_EQ(FileBytes("data_sent.log"), (Bytes{'n', 'e', 'x', 't'}));
  EXPECT_EQ(console.CloseRequests(), 0);
  StopComm(0);
}

TEST_F(WritePathTest, StopWhileAWriteIsPendingEndsWithoutAlertAndReleasesQueuedRequests) {
  ASSERT_NE(Open("vloop0"), INVALID_HANDLE_VALUE);
  ASSERT_TRUE(HoldOutput(true));
  ASSERT_TRUE(Start());
  const Bytes held = Pattern(4000, 5);
  ASSERT_TRUE(WriteCommBuffer(held.data(), 4000));
  // Queued behind the pending write: never written, released with the thread (the leak checker
  // of the sanitizer builds sees any that is not).
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(WriteCommString("queued"));
  ASSERT_TRUE(WaitUntil([] { return CommConnection.WriteRequested == 4000; }));
  StopComm(0);
  EXPECT_EQ(boxes.Count(), 0u);
  EXPECT_EQ(console.CloseRequests(), 0);
  EXPECT_EQ(static_cast<DWORD>(CommConnection.WriteCompleted), 0u);
  EXPECT_TRUE(TraceHas("Write thread shutting down"));
}

// Boxes answered at once, except the write thread's: each stays up until Release, as a box the
// user has not dismissed yet does.
struct HoldingBoxes : qv::ui::MessageBoxProvider {
  HoldingBoxes() { qv::ui::SetMessageBoxProvider(this); }
  ~HoldingBoxes() override {
    qv::ui::SetMessageBoxProvider(previous);
    released = 1000;  // a test that failed half-way lets go of the thread still in a box
    while (showing != 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  int Show(HWND, const std::string& text, const std::string&, UINT) override {
    if (text.rfind("Unexpected message", 0) == 0 || text.rfind("Write WAIT_FAILED", 0) == 0) {
      ++showing;
      for (const int box = ++held; released < box;)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      --showing;
    }
    return IDOK;
  }
  qv::ui::MessageBoxProvider* const previous = qv::ui::CurrentMessageBoxProvider();
  std::atomic<int> held{0}, released{0}, showing{0};
};

// A write whose wait failed is still pending. When the stop gives up on the thread while the
// failure's box is up, the thread, once the box is dismissed, must not release the request's
// record with the request still in the driver (which would complete it into freed memory).
TEST_F(WritePathTest, FailedWaitWhoseBoxOutlastsTheStopLeavesNoRequestWithTheDriver) {
  ASSERT_NE(Open("vloop0"), INVALID_HANDLE_VALUE);
  ASSERT_TRUE(HoldOutput(true));
  ASSERT_TRUE(Start());
  HoldingBoxes boxesUp;
  // The write thread waits in a box: meanwhile its stop event is closed, which makes every later
  // wait on it fail, and a request is queued. The read thread ends at its next failed wait.
  ASSERT_TRUE(PostThreadMessageA(CommConnection.dwWriteThreadId, WM_USER + 7, 0, 0));
  ASSERT_TRUE(WaitUntil([&] { return boxesUp.held.load() == 1; }));
  CloseHandle(CommConnection.hCloseEvent);
  ASSERT_TRUE(qv::comm::InjectFromFarEnd("vloop0", "r", 1));
  ASSERT_TRUE(WaitUntil([] { return CommConnection.hReadThread == nullptr; }));
  ASSERT_TRUE(WriteCommString("held"));
  ++boxesUp.released;
  ASSERT_TRUE(WaitUntil([&] { return boxesUp.held.load() == 2; }));
  ASSERT_EQ(OutQueue(port), 4u);
  // A purge by the stop would end the write: this driver ignores it.
  qv::comm::DriverFaults faults;
  faults.refusePurge = true;
  ASSERT_TRUE(qv::comm::SetDriverFaults("vloop0", faults));
  const int running = qv::sync::RunningThreadCount();
  StopComm(0);
  ++boxesUp.released;
  ASSERT_TRUE(WaitUntil([&] { return qv::sync::RunningThreadCount() < running; }));
  EXPECT_EQ(OutQueue(port), 0u);
}

TEST_F(WritePathTest, WithoutAWriteThreadTheBufferStaysTheCallers) {
  boxes.Answer(IDOK);
  auto* buffer = static_cast<BYTE*>(std::malloc(3));
  std::memcpy(buffer, "abc", 3);
  EXPECT_EQ(WriteComm(buffer, 3), 0);
  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Write thread not created"});
  EXPECT_EQ(std::memcmp(buffer, "abc", 3), 0);
  std::free(buffer);  // still ours: a double free would show in the sanitizer builds

  // After a connection ended, the same.
  ASSERT_NE(Open("vloop0"), INVALID_HANDLE_VALUE);
  ASSERT_TRUE(Start());
  StopComm(0);
  for (int i = 0; i < 3; ++i) boxes.Answer(IDOK);
  EXPECT_EQ(WriteCommBuffer(reinterpret_cast<const BYTE*>("abc"), 3), 0);
  WriteCommLine("AT");
  EXPECT_EQ(boxes.Count(), 4u);
}

TEST_F(WritePathTest, UnexpectedThreadMessageIsReportedAndIgnored) {
  ASSERT_NE(Open("vloop0"), INVALID_HANDLE_VALUE);
  ASSERT_TRUE(Start());
  boxes.Answer(IDOK);
  ASSERT_TRUE(PostThreadMessageA(CommConnection.dwWriteThreadId, WM_USER + 7, 0, 0));
  ASSERT_TRUE(WaitUntil([&] { return boxes.Count() == 1; }));
  EXPECT_EQ(boxes.Texts()[0], "Unexpected message posted to Write thread: 1031i");
  WriteCommString("ok");
  ASSERT_TRUE(WaitUntil([&] { return console.Received().size() == 2; }));
  StopComm(0);
}

}  // namespace
}  // namespace qv::test
