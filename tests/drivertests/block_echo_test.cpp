// The overlapped block echo test through the panel and the console: on the loop-back plug and
// on a pty whose far end (socat with cat) echoes, with each data source, looping, recording,
// a corrupted byte on the way back and a port closed during the run.
#include <QFile>
#include <set>
#include <string>
#include <vector>

#include "console/log_view.h"
#include "platform/comm/comm_api.h"
#include "platform/store/profile_store.h"
#include "platform/sync/clock.h"
#include "platform/sync/event.h"
#include "platform/sync/kernel_object.h"
#include "platform/sync/thread.h"
#include "support/mru_combo_box.h"
#include "tests/drivertests/tests_panel_fixture.h"

namespace qv::test {
namespace {


class BlockEchoTest : public TestsPanelTest {
 protected:
  // Opens the port at the fastest speed of the list (the loop-back plug paces its bytes), or at
  // one where each block takes long enough to be seen on the counter.
  void OpenFast(const std::string& port, int speed = 806400) {
    Open();
    ASSERT_TRUE(Dlg().SelectSpeed(speed));
    OpenPort(port);
  }
  void Start(const QString& source, DWORD blockSize = 4096) {
    Type(1031, QString::number(blockSize));
    Panel().SetDlgItemText(IDC_OVERLAP_FROM, source);
    seen_.clear();
    Click(IDC_RUN_OVERLAP);
  }
  // Serves the UI until the run has ended (its button back, the counter cleared) and collects
  // the counter values shown on the way.
  bool WaitForEnd(int ms = 60000) {
    bool started = false;
    return WaitUntil(
        [&] {
          const QString n = Panel().GetDlgItemText(IDC_BLOCKNUMBER);
          if (!n.isEmpty()) seen_.insert(n.toInt());
          started = started || !Enabled(IDC_RUN_OVERLAP);
          return started && Panel().Echo().overlapRunning == 0 && n.isEmpty() &&
                 (Enabled(IDC_RUN_OVERLAP) || !IsOpen());
        },
        ms);
  }
  bool WaitForCounter(int value, int ms = 30000) {
    return WaitUntil(
        [&] {
          const int n = Panel().GetDlgItemText(IDC_BLOCKNUMBER).toInt();
          if (n) seen_.insert(n);
          return n >= value;
        },
        ms);
  }
  static QByteArray FileBytes(const QString& name) {
    QFile f(name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }

  std::set<int> seen_;
};

TEST_F(BlockEchoTest, LoopbackRandomSucceedsAfterTenBlocksAndRestoresTheEngine) {
  OpenFast("vloop0", 115200);
  boxes_.Answer(IDOK);
  Start("Random");
  ASSERT_TRUE(WaitForEnd());
  EXPECT_EQ(boxes_.Texts(), std::vector<std::string>{"Success !"});
  EXPECT_EQ(seen_, (std::set<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
  EXPECT_TRUE(Enabled(IDC_RUN_OVERLAP));
  EXPECT_EQ(Panel().GetDlgItemText(IDC_BLOCKNUMBER), "");
  // The engine's timeouts are back.
  COMMTIMEOUTS t{};
  ASSERT_TRUE(GetCommTimeouts(hPort, &t));
  EXPECT_EQ(t.ReadIntervalTimeout, 250u);
  EXPECT_EQ(t.ReadTotalTimeoutConstant, 1000u);
  EXPECT_EQ(t.ReadTotalTimeoutMultiplier + t.WriteTotalTimeoutMultiplier +
                t.WriteTotalTimeoutConstant,
            0u);
}

TEST_F(BlockEchoTest, LoopTestsKeepsTheCounterRisingUntilUnchecked) {
  OpenFast("vloop0", 115200);
  Panel().CheckDlgButton(1030, BST_CHECKED);
  Start("Random");
  ASSERT_TRUE(WaitForCounter(12));
  boxes_.Answer(IDOK);
  Panel().CheckDlgButton(1030, BST_UNCHECKED);
  ASSERT_TRUE(WaitForEnd());
  EXPECT_EQ(boxes_.Texts(), std::vector<std::string>{"Success !"});
  EXPECT_TRUE(seen_.count(11) && seen_.count(12)) << seen_.size();
  EXPECT_EQ(*seen_.rbegin() % 10, 0);  // whole cycles only
}

TEST_F(BlockEchoTest, EchoingPtyAtTwoBlockSizesWithEverySource) {
  SocatCat echo;
  ASSERT_TRUE(echo.ok()) << "socat did not start";
  // A data file with ten blocks of the larger size.
  const QString file = workDir_.filePath("source.bin");
  {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    QByteArray bytes(10 * 65536, '\0');
    for (int i = 0; i < bytes.size(); ++i) bytes[i] = char((unsigned(i) * 7919u) >> 3);
    f.write(bytes);
  }
  Open();
  OpenPort(echo.path());
  for (DWORD size : {4096u, 65536u}) {
    for (const QString& source : {QStringLiteral("Random"), QStringLiteral("quor_vix.exe"), file}) {
      SCOPED_TRACE(source.toStdString() + " " + std::to_string(size));
      boxes_.Clear();
      boxes_.Answer(IDOK);
      Start(source, size);
      ASSERT_TRUE(WaitForEnd());
      EXPECT_EQ(boxes_.Texts(), std::vector<std::string>{"Success !"});
    }
  }
  ClosePort();  // before the far end goes: its end would be a hang-up
}

TEST_F(BlockEchoTest, RecordFilesHoldExactlyThisRunsBytes) {
  const QString file = workDir_.filePath("source.bin");
  QByteArray bytes(10 * 4096, '\0');
  for (int i = 0; i < bytes.size(); ++i) bytes[i] = char(i * 13 + i / 4096);
  {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
  }
  // What an earlier session left.
  for (const char* name : {"data_sent.log", "data_recv.log"}) {
    QFile f(QString::fromLatin1(name));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("left over");
  }
  OpenFast("vloop0");
  Check(1033, true);
  boxes_.Answer(IDOK);
  Start(file);
  ASSERT_TRUE(WaitForEnd());
  EXPECT_EQ(boxes_.Texts(), std::vector<std::string>{"Success !"});
  EXPECT_TRUE(FileBytes("data_sent.log") == bytes);
  EXPECT_TRUE(FileBytes("data_recv.log") == bytes);
}

TEST_F(BlockEchoTest, ACorruptedByteIsReportedThenTheRunTimesOutAndTheLineStillWorks) {
  OpenFast("vloop0");
  // Offset 100 of the fourth block that comes back.
  ASSERT_TRUE(qv::comm::AlterFarEndByte("vloop0", 3 * 4096 + 100));
  boxes_.Answer(IDOK);
  boxes_.Answer(IDOK);
  Start("Random");
  ASSERT_TRUE(WaitForEnd(30000));
  EXPECT_EQ(boxes_.Texts(),
            (std::vector<std::string>{"Difference found in block at offset 100 !", "Timeout !"}));
  // The read thread was not left waiting: what comes in now reaches the log.
  ASSERT_EQ(WriteCommString("still echoing"), 1);
  EXPECT_TRUE(WaitUntil([&] { return Dlg().Log()->Text().contains("still echoing"); }));
  ClosePort();  // no "Read thread not exiting" alert
  EXPECT_FALSE(IsOpen());
}

TEST_F(BlockEchoTest, ClosingThePortDuringARunEndsItWithoutAVerdict) {
  Open();
  ASSERT_TRUE(Dlg().SelectSpeed(115200));  // a run takes seconds
  OpenPort("vloop0");
  Start("Random");
  ASSERT_TRUE(WaitForCounter(3));
  ClosePort();  // an alert about a held read thread would fail the test
  ASSERT_TRUE(WaitForEnd());
  EXPECT_TRUE(boxes_.Texts().empty());
  // The run's button stays as the close left it, with the rest of its group.
  EXPECT_FALSE(Enabled(IDC_RUN_OVERLAP));
  EXPECT_FALSE(Enabled(1031));
  // The next connection runs the test again.
  OpenFast("vloop0");
  EXPECT_TRUE(Enabled(IDC_RUN_OVERLAP));
}

TEST_F(BlockEchoTest, TheProgramsEndDuringARunWaitsForEveryWorkerWithoutAVerdict) {
  Open();
  ASSERT_TRUE(Dlg().SelectSpeed(115200));
  OpenPort("vloop0");
  Start("Random");
  ASSERT_TRUE(WaitForCounter(2));
  // A second worker that has ended by the time the program ends: the panel's end must not take
  // it for the running one.
  HANDLE ended = Panel().StartWorker([](qv::drivertests::TestHost&) {});
  ASSERT_TRUE(WaitUntil([&] { return WaitForSingleObject(ended, 0) == WAIT_OBJECT_0; }));
  Close();  // the port closes first, then the panel ends and waits for its threads
  // The echo worker has finished its last step with the panel, not after it (it would then
  // wait here for the UI thread, which this plain wait does not serve).
  for (int i = 0; i < 100 && qv::sync::RunningThreadCount() != 0; ++i) Sleep(2);
  EXPECT_EQ(qv::sync::RunningThreadCount(), 0);
  EXPECT_TRUE(boxes_.Texts().empty());
}

TEST_F(BlockEchoTest, AShortSourceIsRefusedBeforeAnythingIsSent) {
  OpenFast("vloop0");
  const QString file = workDir_.filePath("short.bin");
  {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(1000, 'x'));
  }
  const DWORD before = CommConnection.WriteRequested;
  boxes_.Answer(IDOK);
  Start(file);
  ASSERT_TRUE(WaitUntil([&] { return boxes_.Count() == 1 && Enabled(IDC_RUN_OVERLAP); }));
  EXPECT_NE(boxes_.Texts()[0].find("gives 1000 bytes, the test needs 40960"), std::string::npos);
  EXPECT_EQ(CommConnection.WriteRequested.Load(), before);
  EXPECT_EQ(Panel().Echo().overlapRunning.Load(), 0);
}

TEST_F(BlockEchoTest, StoredRecordFlagRecordsASendLineOnAFreshStart) {
  qv::store::WriteProfileInt("Settings", "LogData", 1);
  OpenFast("vloop0");
  Dlg().SendLineCombo()->setEditText("AT");
  Dlg().SendCommand(IDC_SENDLINE);
  EXPECT_TRUE(WaitUntil([&] { return FileBytes("data_sent.log").size() >= 4; }));
  EXPECT_EQ(FileBytes("data_sent.log"), QByteArray("AT\r\n"));
}

}  // namespace
}  // namespace qv::test
