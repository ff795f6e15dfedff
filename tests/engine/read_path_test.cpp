// The read path: delivery, the received-data record, line-event decoding, purges, pty peers.
#include <gtest/gtest.h>

#include <atomic>

#include "platform/sync/event.h"
#include "tests/engine/engine_fixture.h"

namespace qv::test {
namespace {

using ReadPathTest = EngineTest;

TEST_F(ReadPathTest, IdlePortDeliversNothingAndRecordsNothing) {
  ASSERT_NE(Open("vloop0"), INVALID_HANDLE_VALUE);
  CommConnection.LogData = 1;
  ASSERT_TRUE(Start());
  // Long enough for two read time-outs (1000 ms each) with nothing on the line.
  std::this_thread::sleep_for(std::chrono::milliseconds(2300));
  EXPECT_TRUE(console.Chunks().empty());
  EXPECT_EQ(FileBytes("data_recv.log").size(), 0u);
  EXPECT_FALSE(TraceHas("Data waiting for ReadFile."));
  EXPECT_EQ(console.CloseRequests(), 0);
  StopComm(0);
}

// The two trace lines of one line event, one right after the other.
bool TraceShowsEvent(const std::string& text, const std::string& word) {
  const std::string trace = qv::sync::DebugOutputCaptured();
  const auto first = trace.find("Comm Event: '" + text + "'\n");
  if (first == std::string::npos) return false;
  // The second line follows with its own tick-count prefix.
  const auto second = trace.find(" EvtMask = '" + word + "'\n", first);
  const auto nextEvent = trace.find("Comm Event: ", first + 1);
  return second != std::string::npos && second < nextEvent;
}

// The event traced and the next event wait outstanding (an error that happens before that
// completes the next wait at once, which the thread reports with a box).
bool TraceShowsEventAndRearm(const std::string& text, const std::string& word) {
  if (!TraceShowsEvent(text, word)) return false;
  const std::string trace = qv::sync::DebugOutputCaptured();
  const auto event = trace.find("Comm Event: '" + text + "'\n");
  return trace.find("Waiting for a CommEvent (Error) to occur.", event) != std::string::npos;
}

TEST_F(ReadPathTest, LineErrorsAreNamedInTheTraceOnly) {
  ASSERT_NE(Open("vloop0"), INVALID_HANDLE_VALUE);
  ASSERT_TRUE(Start());
  ASSERT_TRUE(WaitUntil([] { return TraceHas("Waiting for a CommEvent (Error) to occur."); }));

  struct Case {
    DWORD inject;
    const char* text;
    const char* word;
  };
  for (const Case& c : {Case{CE_FRAME | CE_OVERRUN, "CE_FRAME and CE_OVERRUN", "a"},
                        Case{CE_RXOVER, "CE_RXOVER", "1"},
                        Case{CE_RXPARITY | CE_RXOVER | CE_OVERRUN | CE_FRAME,
                             "CE_FRAME and CE_OVERRUN and CE_RXOVER and CE_RXPARITY", "f"},
                        Case{CE_RXPARITY, "CE_RXPARITY", "4"}}) {
    qv::sync::ClearDebugOutputCapture();
    ASSERT_TRUE(qv::comm::InjectLineErrors("vloop0", c.inject));
    ASSERT_TRUE(WaitUntil([&] { return TraceShowsEventAndRearm(c.text, c.word); })) << Trace();
    EXPECT_FALSE(TraceHas("EV_ERR Unknown EvtMask"));
  }
  // Nothing reached the console log or a box, and nobody asked to close.
  EXPECT_EQ(console.Log().size(), 2u);
  EXPECT_EQ(boxes.Count(), 0u);
  EXPECT_EQ(console.CloseRequests(), 0);
  StopComm(0);
}

// Holds the read thread inside the console while line events happen.
class HeldReadThreadTest : public ReadPathTest {
 protected:
  void HoldReadThreadInConsole() {
    release_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    console.onData = [this](const BYTE* data, DWORD count) {
      inside_ = true;
      WaitForSingleObject(release_, 20000);
      return console.Keep(data, count);
    };
    ASSERT_TRUE(Start());
    ASSERT_TRUE(WaitUntil([] { return TraceHas("Waiting for a CommEvent (Error) to occur."); }));
    WriteCommString("x");
    ASSERT_TRUE(WaitUntil([&] { return inside_.load(); }));
  }
  void Release() { SetEvent(release_); }
  void TearDown() override {
    if (release_ != nullptr) {
      SetEvent(release_);
      EngineTest::TearDown();
      CloseHandle(release_);
    } else {
      EngineTest::TearDown();
    }
  }

 private:
  HANDLE release_ = nullptr;
  std::atomic<bool> inside_{false};
};

// Waits until the driver has recorded the injected error, and clears its error word.
void WaitUntilDriverHas(HANDLE port, DWORD ceBit) {
  DWORD seen = 0;
  ASSERT_TRUE(WaitUntil([&] {
    DWORD word = 0;
    ClearCommError(port, &word, nullptr);
    seen |= word;
    return (seen & ceBit) != 0;
  }));
  EXPECT_EQ(seen, ceBit);
}

TEST_F(HeldReadThreadTest, EventsWhileTheThreadIsBusyAreHandledWithTheirErrorsAlreadyCleared) {
  ASSERT_NE(Open("vloop0"), INVALID_HANDLE_VALUE);
  HoldReadThreadInConsole();
  // The first error completes the outstanding wait; the second finds no wait outstanding and
  // completes the next one at once. The test clears the error word each time.
  ASSERT_TRUE(qv::comm::InjectLineErrors("vloop0", CE_FRAME));
  WaitUntilDriverHas(port, CE_FRAME);
  ASSERT_TRUE(qv::comm::InjectLineErrors("vloop0", CE_OVERRUN));
  WaitUntilDriverHas(port, CE_OVERRUN);
  boxes.Answer(IDOK);
  Release();
  ASSERT_TRUE(WaitUntil([&] { return boxes.Count() == 1; })) << Trace();
  EXPECT_EQ(boxes.Texts()[0], "Event (Error) waiting before WaitCommEvent.");
  // Both events read an error word of 0.
  ASSERT_TRUE(WaitUntil([] { return TraceShowsEventAndRearm("NULL Error", "0"); })) << Trace();
  const std::string trace = Trace();
  const auto first = trace.find("Comm Event: 'NULL Error'\n");
  EXPECT_NE(trace.find("Comm Event: 'NULL Error'\n", first + 1), std::string::npos) << trace;
  EXPECT_EQ(console.CloseRequests(), 0);
  // Reading went on throughout.
  WriteCommString("yz");
  ASSERT_TRUE(WaitUntil([&] { return console.Received().size() == 3; }));
  StopComm(0);
}

TEST_F(ReadPathTest, PurgeOfAPendingReadOnlyTracesAndReadingGoesOn) {
  ASSERT_NE(Open("vloop0"), INVALID_HANDLE_VALUE);
  ASSERT_TRUE(Start());
  ASSERT_TRUE(WaitUntil([] { return TraceHas("Waiting for a CommEvent (Error) to occur."); }));
  // A read is outstanding nearly all the time; a purge that falls between two requests is
  // simply repeated.
  bool traced = false;
  for (int attempt = 0; attempt < 5 && !traced; ++attempt) {
    ASSERT_TRUE(PurgeComm(port, PURGE_RXABORT));
    traced = WaitUntil(
        [] {
          return TraceHas("ERROR_OPERATION_ABORTED, Likely PurgeComm(RXABORT) has been used.");
        },
        std::chrono::milliseconds(1500));
  }
  ASSERT_TRUE(traced) << Trace();
  WriteCommString("after the purge");
  ASSERT_TRUE(WaitUntil([&] { return console.Received().size() == 15; }));
  EXPECT_EQ(boxes.Count(), 0u);
  EXPECT_EQ(console.CloseRequests(), 0);
  StopComm(0);
}

TEST_F(ReadPathTest, PtyPeerDataIsDeliveredInOrderAndRecordedExactly) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  ASSERT_NE(Open(pty.path(), 115200), INVALID_HANDLE_VALUE);
  CommConnection.LogData = 1;
  ASSERT_TRUE(Start());
  // Paced like a fast device (about 100 kB/s): the driver's input queue, not the kernel, holds
  // what arrives while the read thread is delivering.
  const Bytes data = Pattern(40000, 9);
  for (std::size_t at = 0; at < data.size(); at += 500) {
    pty.Write(Bytes(data.begin() + at, data.begin() + at + 500));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_TRUE(WaitUntil([&] { return console.Received().size() == data.size(); }))
      << console.Received().size();
  EXPECT_EQ(console.Received(), data);
  EXPECT_EQ(FileBytes("data_recv.log"), data);

  // And the other way round, through the write thread.
  const Bytes out = Pattern(30000, 10);
  ASSERT_TRUE(WriteCommBuffer(out.data(), static_cast<DWORD>(out.size())));
  EXPECT_EQ(pty.ReadBytes(out.size()), out);
  StopComm(0);
  EXPECT_EQ(boxes.Count(), 0u);
}

TEST_F(ReadPathTest, PtyPeerHangingUpEndsTheReadThreadWithACloseRequest) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  ASSERT_NE(Open(pty.path(), 115200), INVALID_HANDLE_VALUE);
  boxes.Answer(IDOK);
  ASSERT_TRUE(Start());
  ASSERT_TRUE(WaitUntil([] { return TraceHas("Waiting for a CommEvent (Error) to occur."); }));
  pty.CloseFarEnd();
  ASSERT_TRUE(WaitUntil([&] { return console.CloseRequests() >= 1; })) << Trace();
  ASSERT_TRUE(WaitUntil([] { return CommConnection.hReadThread == nullptr; }));
  // One report of the failed request (the event wait or the read, whichever completes first),
  // with the driver's error for a line that went away.
  const auto texts = boxes.Texts();
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].rfind("Unexpected ", 0), 0u) << texts[0];
  EXPECT_NE(texts[0].find(":  (err 31)"), std::string::npos) << texts[0];
  StopComm(0);
}

}  // namespace
}  // namespace qv::test
