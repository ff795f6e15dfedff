// The console's log: engine lines, received data as text or hexadecimal cells, verbosity, time
// stamps, clearing, the log font, and data arriving from a reader thread.
#include <QAbstractButton>
#include <QRegularExpression>
#include <atomic>
#include <thread>

#include "console/log_view.h"
#include "console/quorvix_dlg_port.h"
#include "tests/console/console_fixture.h"
#include "tools/tool_states.h"

using qv::test::ConsoleTest;

namespace {

QString LogOf(CQuorvixDlg& dlg) { return dlg.Log()->Text(); }

void Receive(CQuorvixDlg& dlg, std::initializer_list<BYTE> bytes) {
  std::vector<BYTE> data(bytes);
  EXPECT_EQ(dlg.OnCommData(data.data(), DWORD(data.size())), 1);
}

}  // namespace

TEST_F(ConsoleTest, VerboseOffDropsLinesButNotData) {
  CQuorvixDlg& dlg = Open();
  dlg.Log()->Clear();
  dlg.LogText("Starting the Comm");
  EXPECT_EQ(LogOf(dlg), "<Starting the Comm>\r\n");
  dlg.Item<QAbstractButton>(IDC_VERBOSE)->click();
  EXPECT_EQ(dlg.m_Verbose, 0) << "the click moves the controls into the members";
  dlg.LogText("dropped");
  Receive(dlg, {'O', 'K', '\r', '\n'});
  EXPECT_EQ(LogOf(dlg), "<Starting the Comm>\r\nOK\r\n");
  // A text with line breaks stays one entry inside one pair of brackets.
  dlg.Item<QAbstractButton>(IDC_VERBOSE)->click();
  dlg.LogText("COMMCONFIG 1 0\r\nMODEMSETTINGS");
  EXPECT_TRUE(LogOf(dlg).endsWith("<COMMCONFIG 1 0\r\nMODEMSETTINGS>\r\n"));
}

TEST_F(ConsoleTest, TimestampPrefixesEngineLinesOnly) {
  CQuorvixDlg& dlg = Open();
  dlg.Log()->Clear();
  dlg.Item<QAbstractButton>(IDC_TIMESTAMP)->click();
  dlg.LogText("Creating Read thread");
  Receive(dlg, {'A', 'T'});
  const QRegularExpression line(
      QStringLiteral("^<([01]\\d|2[0-3]):[0-5]\\d:[0-5]\\d\\.\\d{3} Creating Read thread>\r\nAT$"));
  EXPECT_TRUE(line.match(LogOf(dlg)).hasMatch()) << LogOf(dlg).toStdString();
}

TEST_F(ConsoleTest, HexModeShowsCells) {
  CQuorvixDlg& dlg = Open();
  dlg.Log()->Clear();
  dlg.Item<QAbstractButton>(IDC_HEXA)->click();
  Receive(dlg, {0x00, 0x41, 0x0D});
  Receive(dlg, {0xFF});
  EXPECT_EQ(LogOf(dlg), "<00>\t<41>\t<0D>\t<FF>\t");
}

TEST_F(ConsoleTest, TextModeShowsBytesAsReceived) {
  CQuorvixDlg& dlg = Open();
  dlg.Log()->Clear();
  Receive(dlg, {'A', 0x00, 'B', '\r', '\n', 'C', 0xE9});
  const QString log = LogOf(dlg);
  ASSERT_EQ(log.size(), 7);
  EXPECT_EQ(log[1].unicode(), 216) << "a zero byte shows as the character 216";
  EXPECT_EQ(log.mid(2, 3), "B\r\n");
  EXPECT_EQ(log[6].unicode(), 0xE9);
}

TEST_F(ConsoleTest, ReceivedChunksReachThePanels) {
  CQuorvixDlg& dlg = Open();
  const long before = dlg.StatesPanel()->ReceivedBytes();
  Receive(dlg, {1, 2, 3});
  Receive(dlg, {4});
  EXPECT_EQ(dlg.StatesPanel()->ReceivedBytes() - before, 4);
}

TEST_F(ConsoleTest, ClearLogEmptiesAndTheNextEntryStartsAtTheTop) {
  CQuorvixDlg& dlg = Open();
  for (int i = 0; i < 50; ++i) dlg.LogText("line");
  dlg.Item<QAbstractButton>(IDC_CLEARLOG)->click();
  EXPECT_TRUE(LogOf(dlg).isEmpty());
  dlg.LogText("first");
  EXPECT_EQ(LogOf(dlg), "<first>\r\n");
  EXPECT_EQ(dlg.Log()->FirstVisibleRow(), 0);
}

TEST_F(ConsoleTest, LogFontDialogCancelKeepsTheFont) {
  CQuorvixDlg& dlg = Open();
  const QFont before = dlg.Log()->font();
  dialogs_.CancelFont();
  dlg.Item<QAbstractButton>(IDC_LOGFONT)->click();
  ASSERT_EQ(dialogs_.Count(), 1u);
  EXPECT_EQ(dialogs_.Requests()[0].font.current, before) << "the dialog starts from the log font";
  EXPECT_EQ(dlg.Log()->font(), before);
  EXPECT_EQ(dlg.LogFont(), before);

  QFont other = before;
  other.setPointSize(before.pointSize() + 5);
  dialogs_.AcceptFont(other);
  dlg.Item<QAbstractButton>(IDC_LOGFONT)->click();
  EXPECT_EQ(dlg.Log()->font().pointSize(), before.pointSize() + 5);
}

TEST_F(ConsoleTest, DataFromAReaderThreadArrivesWholeAndInOrder) {
  CQuorvixDlg& dlg = Open();
  dlg.Log()->Clear();
  std::atomic<bool> done{false};
  QString expected;
  for (int chunk = 0; chunk < 200; ++chunk) expected += QStringLiteral("chunk %1;").arg(chunk);
  std::thread reader([&] {
    for (int chunk = 0; chunk < 200; ++chunk) {
      const QByteArray bytes = QStringLiteral("chunk %1;").arg(chunk).toLatin1();
      QByteArray copy = bytes;
      dlg.OnCommData(reinterpret_cast<const BYTE*>(copy.constData()), DWORD(copy.size()));
      // The console is done with the bytes when the call returns.
      copy.fill('X');
    }
    done = true;
  });
  const bool finished = WaitUntil([&] { return done.load(); }, 20000);
  reader.join();
  ASSERT_TRUE(finished);
  EXPECT_EQ(LogOf(dlg), expected);
}

TEST_F(ConsoleTest, RequestClosePostsACloseRequest) {
  CQuorvixDlg& dlg = Open();
  int requests = 0;
  dlg.OnMessage(qv::console::WM_CLOSE_REQUEST, [&](WPARAM, LPARAM) {
    ++requests;
    return LPARAM(0);
  });
  std::thread engineThread([&] { dlg.RequestClose(); });
  engineThread.join();
  EXPECT_EQ(requests, 0) << "posted, not sent";
  EXPECT_TRUE(WaitUntil([&] { return requests == 1; }));
}
