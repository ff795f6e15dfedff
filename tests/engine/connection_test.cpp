// Starting and stopping the port connection: configuration, dumps, threads, refusals, forced end.
#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <atomic>

#include "engine/comm_internal.h"
#include "platform/sync/event.h"
#include "platform/ui/ui_thread.h"
#include "tests/engine/engine_fixture.h"

namespace qv::test {
namespace {

using ConnectionTest = EngineTest;

TEST_F(ConnectionTest, StartConfiguresThePortDumpsItAndStopLeavesTheHandleOpen) {
  ASSERT_NE(Open("vloop0"), INVALID_HANDLE_VALUE);
  DCB before{};
  ASSERT_TRUE(GetCommState(port, &before));
  ASSERT_TRUE(Start());

  EXPECT_EQ(static_cast<HANDLE>(CommConnection.hPort), port);
  EXPECT_NE(static_cast<HANDLE>(CommConnection.hReadThread), nullptr);
  EXPECT_NE(static_cast<HANDLE>(CommConnection.hWriteThread), nullptr);
  EXPECT_NE(static_cast<DWORD>(CommConnection.dwWriteThreadId), 0u);
  EXPECT_EQ(GetThreadPriority(CommConnection.hReadThread), THREAD_PRIORITY_HIGHEST);
  EXPECT_EQ(GetThreadPriority(CommConnection.hWriteThread), THREAD_PRIORITY_ABOVE_NORMAL);

  COMMTIMEOUTS timeouts{};
  ASSERT_TRUE(GetCommTimeouts(port, &timeouts));
  EXPECT_EQ(timeouts.ReadIntervalTimeout, 250u);
  EXPECT_EQ(timeouts.ReadTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 1000u);
  EXPECT_EQ(timeouts.WriteTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(timeouts.WriteTotalTimeoutConstant, 0u);
  DCB after{};
  ASSERT_TRUE(GetCommState(port, &after));
  EXPECT_EQ(after.fAbortOnError, 0u);
  EXPECT_EQ(after.BaudRate, before.BaudRate);

  const auto log = console.Log();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[0].rfind("COMMCONFIG ", 0), 0u) << log[0];
  EXPECT_EQ(log[0].find("MODEMSETTINGS"), std::string::npos);
  EXPECT_EQ(log.back().rfind("COMMPROP ", 0), 0u) << log.back();
  // The two line-state queries agree on a healthy driver.
  for (const auto& line : log)
    EXPECT_NE(line, "DCB from GetCommState & GetCommConfig don't match!");

  // The read thread has its wait outstanding before the stop.
  ASSERT_TRUE(WaitUntil([] { return TraceHas("Waiting for a CommEvent (Error) to occur."); }));
  ASSERT_TRUE(WaitUntil([] { return TraceHas("Write Thread ready"); }));
  StopComm(0);
  EXPECT_EQ(static_cast<HANDLE>(CommConnection.hPort), nullptr);
  EXPECT_EQ(static_cast<HANDLE>(CommConnection.hReadThread), nullptr);
  EXPECT_EQ(static_cast<HANDLE>(CommConnection.hWriteThread), nullptr);
  EXPECT_EQ(static_cast<DWORD>(CommConnection.dwReadThreadId), 0u);
  EXPECT_EQ(static_cast<DWORD>(CommConnection.dwWriteThreadId), 0u);
  EXPECT_EQ(static_cast<HANDLE>(CommConnection.hCloseEvent), nullptr);
  EXPECT_EQ(console.CloseRequests(), 0);
  EXPECT_EQ(boxes.Count(), 0u);

  // The trace tells the story in order. Both threads watch the one stop event, so the write
  // thread may already be ending while the read thread is being stopped.
  std::size_t at = 0;
  for (const char* step : {"Starting the Comm", "Creating Close Event ", "Creating Read thread",
                           "Creating Write thread", "Stopping the Comm", "Closing Read Thread",
                           "Read thread shutting down", "Closing Close Event "}) {
    const auto found = TraceFind(step, at);
    ASSERT_NE(found, std::string::npos) << step << "\n" << Trace();
    at = found;
  }
  const auto stopping = TraceFind("Stopping the Comm");
  const auto writeEnd = TraceFind("Write thread shutting down");
  EXPECT_GT(writeEnd, stopping);
  EXPECT_LT(writeEnd, TraceFind("Closing Close Event "));
  // Every trace line carries the tick-count prefix.
  EXPECT_NE(Trace().find(" Starting the Comm\n"), std::string::npos);

  // The handle is still the caller's and still open.
  EXPECT_TRUE(GetCommState(port, &after));
  // A second stop finds nothing to do and says nothing.
  qv::sync::ClearDebugOutputCapture();
  StopComm(0);
  EXPECT_EQ(Trace(), "");
}

TEST_F(ConnectionTest, StopWithCloseHandleClosesThePort) {
  ASSERT_NE(Open("vloop0"), INVALID_HANDLE_VALUE);
  ASSERT_TRUE(Start());
  StopComm(1);
  DCB dcb{};
  EXPECT_FALSE(GetCommState(port, &dcb));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  port = INVALID_HANDLE_VALUE;
}

TEST_F(ConnectionTest, PhoneShowsItsModemSettingsAndCapabilities) {
  ASSERT_NE(Open("vphone0", 115200), INVALID_HANDLE_VALUE);
  ASSERT_TRUE(Start());
  const auto log = console.Log();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[0].rfind("COMMCONFIG ", 0), 0u);
  EXPECT_NE(log[0].find(" 6\r\nMODEMSETTINGS "), std::string::npos) << log[0];
  EXPECT_EQ(log.back().rfind("COMMPROP ", 0), 0u);
  EXPECT_NE(log.back().find("\r\nMODEMDEVCAPS "), std::string::npos) << log.back();
  StopComm(0);
}

TEST_F(ConnectionTest, SecondStartIsRefusedAndTheRunningConnectionGoesOn) {
  ASSERT_NE(Open("vloop0"), INVALID_HANDLE_VALUE);
  ASSERT_TRUE(Start());
  const HANDLE readThread = CommConnection.hReadThread;
  const HANDLE writeThread = CommConnection.hWriteThread;
  const HANDLE closeEvent = CommConnection.hCloseEvent;

  const HANDLE other = CreateFileA("vphone0", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  boxes.Answer(IDOK);
  EXPECT_EQ(StartComm(other, console.Callback()), 0);
  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Already have a comm file open"});
  EXPECT_EQ(static_cast<HANDLE>(CommConnection.hPort), port);
  EXPECT_EQ(static_cast<HANDLE>(CommConnection.hReadThread), readThread);
  EXPECT_EQ(static_cast<HANDLE>(CommConnection.hWriteThread), writeThread);
  EXPECT_EQ(static_cast<HANDLE>(CommConnection.hCloseEvent), closeEvent);
  CloseHandle(other);

  // Still running: bytes go round the loop-back plug.
  WriteCommString("still here");
  ASSERT_TRUE(WaitUntil([&] { return console.Received().size() == 10; }));
  StopComm(0);
}

TEST_F(ConnectionTest, PlainFileAsksFirstNoRefusesAndYesStarts) {
  { std::ofstream("plain.bin") << "not a port"; }
  const std::string path = (std::filesystem::current_path() / "plain.bin").string();
  port = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                     FILE_FLAG_OVERLAPPED, nullptr);
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  const std::string question =
      "File handle has an unexpected GetFileType !\n(1 instead of FILE_TYPE_CHAR)\n"
      "Do you still want to try to communicate over this port ?";

  boxes.Answer(IDNO);
  EXPECT_EQ(StartComm(port, console.Callback()), 0);
  ASSERT_EQ(boxes.Count(), 1u);
  EXPECT_EQ(boxes.Boxes()[0].text, question);
  EXPECT_EQ(boxes.Boxes()[0].flags, MB_YESNO | MB_ICONEXCLAMATION);
  EXPECT_EQ(static_cast<HANDLE>(CommConnection.hPort), nullptr);
  EXPECT_FALSE(TraceHas("Starting the Comm"));

  // Yes: the connection starts; a file has no line events, which the read thread reports.
  boxes.Clear();
  boxes.Answer(IDYES);
  boxes.Answer(IDOK);
  EXPECT_EQ(StartComm(port, console.Callback()), 1);
  EXPECT_EQ(static_cast<HANDLE>(CommConnection.hPort), port);
  ASSERT_TRUE(WaitUntil([&] { return console.CloseRequests() == 1; }));
  const auto texts = boxes.Texts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0], question);
  EXPECT_EQ(texts[1].rfind("Unable to SetCommMask:  (err ", 0), 0u) << texts[1];
  // The read thread that ended on its own has cleared its slot: the stop skips it.
  ASSERT_TRUE(WaitUntil([] { return CommConnection.hReadThread == nullptr; }));
  StopComm(0);
  EXPECT_FALSE(TraceHas("Closing Read Thread"));
  EXPECT_TRUE(TraceHas("Closing Write Thread"));
}

TEST_F(ConnectionTest, ThreadThatEndedOnItsOwnIsSkippedByTheStop) {
  ASSERT_NE(Open("vloop0"), INVALID_HANDLE_VALUE);
  console.onData = [](const BYTE*, DWORD) { return 0; };
  ASSERT_TRUE(Start());
  WriteCommString("x");
  ASSERT_TRUE(WaitUntil([&] { return console.CloseRequests() == 1; }));
  ASSERT_TRUE(WaitUntil([] { return CommConnection.hReadThread == nullptr; }));
  EXPECT_EQ(static_cast<DWORD>(CommConnection.dwReadThreadId), 0u);
  EXPECT_EQ(static_cast<BYTE*>(CommConnection.ReadBuffer), nullptr);
  StopComm(0);
  EXPECT_FALSE(TraceHas("Closing Read Thread"));
  EXPECT_EQ(boxes.Count(), 0u);
}

// The console inserts received data on the UI thread and the read thread waits for it; closing
// while data flows must neither freeze nor force the read thread to an end.
TEST_F(ConnectionTest, StopWhileDataFlowsIntoTheUiEndsTheThreadsNormally) {
  ASSERT_NE(Open("vloop0"), INVALID_HANDLE_VALUE);
  qv::ui::SetUiThread();
  std::size_t shown = 0;  // touched on the UI thread only
  console.onData = [&](const BYTE* data, DWORD count) {
    qv::ui::RunOnUiThread([&] { shown += count; });
    return console.Keep(data, count);
  };
  ASSERT_TRUE(Start());
  const Bytes block = Pattern(2048, 1);
  for (int i = 0; i < 8; ++i) WriteCommBuffer(block.data(), 2048);
  // Serve the UI until data is arriving, then close in the middle of the flow.
  HANDLE never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (console.Received().size() < 2048 && std::chrono::steady_clock::now() < deadline)
    qv::ui::PumpingWait(1, &never, 5);
  ASSERT_GE(console.Received().size(), 2048u);
  StopComm(0);
  qv::ui::ClearUiThread();
  CloseHandle(never);
  EXPECT_FALSE(TraceHas("not exiting"));
  EXPECT_EQ(boxes.Count(), 0u);
  EXPECT_EQ(shown, console.Received().size());
  EXPECT_EQ(console.CloseRequests(), 0);
}

// A thread really stuck (here: inside the console for longer than the stop allows) is abandoned
// after 10 s; when it wakes it touches nothing.
TEST_F(ConnectionTest, StuckReadThreadIsAbandonedAfterTenSecondsAndStaysQuiet) {
  ASSERT_NE(Open("vloop0"), INVALID_HANDLE_VALUE);
  HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::atomic<bool> inside{false};
  std::atomic<bool> returned{false};
  std::atomic<bool> stickNext{true};
  console.onData = [&](const BYTE* data, DWORD count) {
    if (!stickNext.exchange(false)) return console.Keep(data, count);
    inside = true;
    WaitForSingleObject(release, 60000);
    returned = true;
    return 0;  // would end the thread with a close request, were it not abandoned
  };
  CommConnection.LogData = 1;
  ASSERT_TRUE(Start());
  WriteCommString("stuck");
  ASSERT_TRUE(WaitUntil([&] { return inside.load(); }));

  boxes.Answer(IDOK);
  StopComm(0);
  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Read thread not exiting.  Terminating it."});
  EXPECT_EQ(static_cast<HANDLE>(CommConnection.hReadThread), nullptr);
  EXPECT_EQ(static_cast<DWORD>(CommConnection.dwReadThreadId), 0u);
  EXPECT_EQ(static_cast<HANDLE>(CommConnection.hPort), nullptr);
  EXPECT_TRUE(TraceHas("Write thread shutting down"));

  // The program goes on: a new connection on the same port runs while the old thread sleeps.
  const auto sentBefore = FileBytes("data_sent.log").size();
  ASSERT_TRUE(Start());
  WriteCommString("again");
  ASSERT_TRUE(WaitUntil([&] { return console.Received().size() == 5; }));

  qv::sync::ClearDebugOutputCapture();
  SetEvent(release);
  ASSERT_TRUE(WaitUntil([&] { return returned.load(); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  // The abandoned thread neither traced, asked to close, showed a box nor cleared the new
  // connection's read thread.
  EXPECT_FALSE(TraceHas("Read thread shutting down"));
  EXPECT_EQ(console.CloseRequests(), 0);
  EXPECT_EQ(boxes.Count(), 1u);
  EXPECT_NE(static_cast<HANDLE>(CommConnection.hReadThread), nullptr);
  EXPECT_EQ(FileBytes("data_sent.log").size(), sentBefore + 5);
  StopComm(0);
  CloseHandle(release);
}

// A read thread that ended on its own but is held in the console's close request past the
// stop's limit is abandoned there; when it goes on, the next connection's thread keeps its slot.
TEST_F(ConnectionTest, ThreadAbandonedInItsCloseRequestLeavesTheNextConnectionsSlotAlone) {
  ASSERT_NE(Open("vloop0"), INVALID_HANDLE_VALUE);
  HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::atomic<bool> inside{false};
  std::atomic<bool> endFirst{true};
  console.onData = [&](const BYTE* data, DWORD count) {
    return endFirst.exchange(false) ? 0 : console.Keep(data, count);
  };
  console.onRequestClose = [&] {
    inside = true;
    WaitForSingleObject(release, 60000);
  };
  ASSERT_TRUE(Start());
  WriteCommString("x");
  ASSERT_TRUE(WaitUntil([&] { return inside.load(); }));
  boxes.Answer(IDOK);
  StopComm(0);
  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Read thread not exiting.  Terminating it."});

  qv::sync::ClearDebugOutputCapture();
  ASSERT_TRUE(Start());
  ASSERT_TRUE(WaitUntil([] { return TraceHas("StartReadThreadProc"); }));  // its buffer is shown
  const HANDLE readThread = CommConnection.hReadThread;
  const DWORD readThreadId = CommConnection.dwReadThreadId;
  BYTE* const readBuffer = CommConnection.ReadBuffer;
  const int running = qv::sync::RunningThreadCount();
  SetEvent(release);
  ASSERT_TRUE(WaitUntil([&] { return qv::sync::RunningThreadCount() < running; }));
  EXPECT_EQ(static_cast<HANDLE>(CommConnection.hReadThread), readThread);
  EXPECT_EQ(static_cast<DWORD>(CommConnection.dwReadThreadId), readThreadId);
  EXPECT_EQ(static_cast<BYTE*>(CommConnection.ReadBuffer), readBuffer);
  EXPECT_FALSE(TraceHas("Read thread shutting down"));
  // The new connection's stop finds its thread and ends it.
  StopComm(0);
  EXPECT_TRUE(TraceHas("Closing Read Thread"));
  EXPECT_EQ(boxes.Count(), 1u);
  CloseHandle(release);
}

TEST_F(ConnectionTest, BlockSizeAskedPerReadWhileTheBufferKeepsItsLargestSize) {
  ASSERT_NE(Open("vloop0"), INVALID_HANDLE_VALUE);
  SetCommBlockSize(8192);
  SetCommBlockSize(2048);
  EXPECT_EQ(static_cast<DWORD>(CommConnection.ReadBlockSize), 2048u);
  EXPECT_EQ(static_cast<DWORD>(CommConnection.ReadBufferSize), 8192u);
  std::atomic<std::size_t> usable{0};
  console.onData = [&](const BYTE* data, DWORD count) {
    // The chunk lies at the start of the read buffer.
    usable = ::malloc_usable_size(const_cast<BYTE*>(data));
    return console.Keep(data, count);
  };
  ASSERT_TRUE(Start());
  const Bytes data = Pattern(8192, 2);
  ASSERT_TRUE(WriteCommBuffer(data.data(), 8192));
  ASSERT_TRUE(WaitUntil([&] { return console.Received().size() == 8192; }));
  EXPECT_EQ(console.Received(), data);
  const auto chunks = console.Chunks();
  EXPECT_EQ(*std::max_element(chunks.begin(), chunks.end()), 2048u);
  EXPECT_GE(usable.load(), 8192u);

  // Enlarging while the thread runs takes effect from the next read request on.
  SetCommBlockSize(16384);
  const Bytes more = Pattern(16384 * 3, 3);
  ASSERT_TRUE(WriteCommBuffer(more.data(), static_cast<DWORD>(more.size())));
  ASSERT_TRUE(WaitUntil([&] { return console.Received().size() == 8192 + more.size(); }));
  const auto later = console.Chunks();
  EXPECT_GT(*std::max_element(later.begin(), later.end()), 8192u);
  EXPECT_GE(usable.load(), 16384u);
  EXPECT_EQ(static_cast<DWORD>(CommConnection.ReadBufferSize), 16384u);
  StopComm(0);
}

}  // namespace
}  // namespace qv::test
