// The states panel on a pseudo-terminal (a line without modem lines) and its counters: the
// signals group gives way, queues and counters go on working, received bytes are counted on the
// read thread without loss, and the poll leaves line errors to the engine that reports them.
#include <thread>
#include <vector>

#include "tests/common/pty_pair.h"
#include "tests/engine/engine_fixture.h"
#include "tests/tools/states/states_fixture.h"

namespace qv::test {
namespace {

TEST_F(StatesTest, PtyDisablesTheSignalsAndCountsWhatTheFarEndSends) {
  // After a port with modem lines, so that a left-over display would show.
  OpenPort("vloop0");
  ASSERT_TRUE(PollUntil([&] { return State(IDC_CTS) == BST_CHECKED; }));
  ClickOpenClose();

  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  OpenPort(QString::fromStdString(pty.path()));
  ASSERT_TRUE(WaitPolls(2));
  for (const int id : {IDC_SIGNALS_IN, IDC_CTS, IDC_DSR, IDC_RING, IDC_RLSD})
    EXPECT_FALSE(Enabled(id)) << id;
  for (const int id : {IDC_CTS, IDC_DSR, IDC_RLSD}) EXPECT_EQ(State(id), BST_UNCHECKED) << id;
  for (const int id : {IDC_QUEUE_LABELS, IDC_OUT_QUEUE, IDC_IN_QUEUE, IDC_WRITE_COUNTS,
                       IDC_READ_COUNT, IDC_PURGE_ALL, IDC_IN_QUEUE_SIZE})
    EXPECT_TRUE(Enabled(id)) << id;

  ASSERT_TRUE(pty.Write(std::string(300, 'x')));
  EXPECT_TRUE(PollUntil([&] { return Text(IDC_READ_COUNT) == "300"; }))
      << Text(IDC_READ_COUNT).toStdString();
  EXPECT_EQ(Panel().ReceivedBytes(), 300);

  SendLine("AT");
  EXPECT_EQ(pty.Receive(4), "AT\r\n");
  EXPECT_TRUE(PollUntil([&] { return Text(IDC_WRITE_COUNTS) == "4/4"; }));
  // Without a modem status nothing is said about CTS, even with CTS flow control checked.
  EXPECT_FALSE(Red(IDC_CTS));
  EXPECT_FALSE(Red(IDC_CTS_FLOW));
  EXPECT_EQ(boxes_.Count(), 0u);
  ClickOpenClose();  // before the far end goes
}

TEST_F(StatesTest, BurstOfReceivedCountsFromOtherThreadsLosesNothing) {
  // The UI thread is busy (it runs this test) while the counts arrive.
  const long before = Panel().ReceivedBytes();
  constexpr int kThreads = 4;
  constexpr int kChunks = 20000;
  std::vector<std::thread> readers;
  for (int t = 0; t < kThreads; ++t) {
    readers.emplace_back([this] {
      for (int i = 0; i < kChunks; ++i) Panel().AddReceivedBytes(3);
    });
  }
  for (auto& r : readers) r.join();
  const long total = before + long(kThreads) * kChunks * 3;
  EXPECT_EQ(Panel().ReceivedBytes(), total);
  EXPECT_TRUE(WaitUntil([&] { return Text(IDC_READ_COUNT) == QString::number(total); }))
      << Text(IDC_READ_COUNT).toStdString();
}

TEST_F(StatesTest, PollLeavesLineErrorsToTheirReader) {
  // A port without the engine: whatever error word is left after the polls, the panel left it.
  HANDLE port = OpenOverlapped8N1("vloop0", 115200);
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  hPort = port;
  Panel().SetConnectionState(1);
  ASSERT_TRUE(qv::comm::InjectLineErrors("vloop0", CE_FRAME | CE_OVERRUN));
  EXPECT_TRUE(WaitPolls(3));
  DWORD errors = 0;
  EXPECT_TRUE(ClearCommError(port, &errors, nullptr));
  EXPECT_EQ(errors, DWORD(CE_FRAME | CE_OVERRUN));
  Panel().SetConnectionState(0);
  hPort = INVALID_HANDLE_VALUE;
  CloseHandle(port);
}

}  // namespace
}  // namespace qv::test
