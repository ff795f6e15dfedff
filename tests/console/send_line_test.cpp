// The console's send commands on a running connection: Send Line and Send with the history
// combo, the raw file's browse and send buttons, and the object sends the object panel asks for.
#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <filesystem>

#include "console/log_view.h"
#include "drivertests/port_handle.h"
#include "support/mru_combo_box.h"
#include "tests/common/key_input.h"
#include "tests/console/console_fixture.h"
#include "tests/console/send_fixture.h"

using qv::test::Bytes;
using qv::test::CapturedRequests;
using qv::test::ConsoleTest;
using qv::test::FileBytes;
using qv::test::WriteBytes;

namespace {

const QString kMru = QStringLiteral("SendMRU");

class SendConsoleTest : public ConsoleTest {
 protected:
  void SetUp() override {
    ConsoleTest::SetUp();
    previousDir_ = std::filesystem::current_path();
    scratch_ = std::filesystem::temp_directory_path() /
               ("qv_sendcon_" + std::to_string(::getpid()) + "_" + std::to_string(++counter_));
    std::filesystem::create_directories(scratch_);
    std::filesystem::current_path(scratch_);
    CommConnection.LogData = 0;
    CommConnection.WriteRequested = 0;
  }
  void TearDown() override {
    StopComm(0);
    if (hPort != INVALID_HANDLE_VALUE) CloseHandle(hPort);
    hPort = INVALID_HANDLE_VALUE;
    ConsoleTest::TearDown();
    qv::comm::ResetVirtualPort("vloop0");
    qv::comm::ResetVirtualPort("vphone0");
    CommConnection.LogData = 0;
    std::filesystem::current_path(previousDir_);
    std::filesystem::remove_all(scratch_);
  }

  // Opens the port into the console's handle and starts the engine with the console's receive
  // callback; the send buttons become usable as they do when the console opens a port.
  void OpenPort(const char* name, DWORD baud) {
    HANDLE h = qv::test::OpenOverlapped8N1(name, baud);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    hPort = h;
    ASSERT_EQ(StartComm(hPort, ConsoleReceive), 1);
    Dlg().EnableDlgItem(IDC_SENDLINE, true);
    Dlg().EnableDlgItem(IDC_SEND, true);
  }

  MruComboBox& Combo() { return *Dlg().SendLineCombo(); }
  void Type(const QString& text) { Combo().setEditText(text); }
  QStringList Listed() {
    QStringList items;
    for (int i = 0; i < Combo().count(); ++i) items << Combo().itemText(i);
    return items;
  }
  static QStringList Stored() {
    QStringList values;
    for (int i = 0; i < 12; ++i) {
      const QString key = QString::number(i);
      if (qv::store::HasProfileEntry(kMru, key)) values << qv::store::GetProfileString(kMru, key);
    }
    return values;
  }
  static Bytes SentLog(std::size_t count) {
    WaitUntil([&] { return FileBytes("data_sent.log").size() >= count; }, 20000);
    return FileBytes("data_sent.log");
  }
  static Bytes B(const char* text) { return Bytes(text, text + std::strlen(text)); }

 private:
  std::filesystem::path previousDir_;
  std::filesystem::path scratch_;
  static inline int counter_ = 0;
};

}  // namespace

TEST_F(SendConsoleTest, SendLineSendsTheTextThenCrLfAndLeavesItSelected) {
  CQuorvixDlg& dlg = Open();
  EXPECT_EQ(Combo().currentText(), "ATE1V1&K3+CMEE=1");
  {
    CapturedRequests capture;
    Type("AT+CGMI");
    dlg.SendCommand(IDC_SENDLINE);
    Type("");
    dlg.SendCommand(IDC_SENDLINE);
    // Two requests each: the text (empty the second time), then the line end.
    EXPECT_EQ(capture.Take(), (std::vector<Bytes>{B("AT+CGMI"), B("\r\n"), B(""), B("\r\n")}));
  }
  // The empty text is listed at the top during the run, the sent one below it.
  EXPECT_EQ(Listed(), (QStringList{"", "AT+CGMI"}));
  EXPECT_EQ(Combo().FixedCount(), 0) << "the console's template gives the combo no entries";

  // On the wire and in the record file: the line end alone for the empty text.
  OpenPort("vloop0", 115200);
  CommConnection.LogData = 1;
  Type("");
  dlg.SendCommand(IDC_SENDLINE);
  EXPECT_EQ(SentLog(2), B("\r\n"));
  Type("ATI");
  dlg.SendCommand(IDC_SENDLINE);
  EXPECT_EQ(SentLog(7), B("\r\nATI\r\n"));
  EXPECT_EQ(Combo().lineEdit()->selectedText(), "ATI") << "the next typing replaces it";

  // Enter in the combo presses the default button, Send Line.
  Combo().lineEdit()->setText("AT+CGMM");
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QApplication::sendEvent(Combo().lineEdit(), &enter);
  EXPECT_EQ(SentLog(16), B("\r\nATI\r\nAT+CGMM\r\n"));

  Close();
  EXPECT_EQ(Stored(), (QStringList{"AT+CGMM", "ATI", "AT+CGMI"})) << "the empty text is not kept";
}

TEST_F(SendConsoleTest, SendPassesOneCharacterAtOnceAndLongerTextsThroughTheWriteThread) {
  CQuorvixDlg& dlg = Open();
  dlg.Item<QAbstractButton>(IDC_VERBOSE)->click();  // only received data in the log
  dlg.Log()->Clear();
  OpenPort("vloop0", 115200);
  CommConnection.LogData = 1;

  Type("A");
  dlg.SendCommand(IDC_SEND);
  // The character came back through the plug without passing the write thread.
  ASSERT_TRUE(WaitUntil([&] { return dlg.Log()->Text() == "A"; }, 20000))
      << dlg.Log()->Text().toStdString();
  EXPECT_EQ(CommConnection.WriteRequested.Load(), 0u);
  EXPECT_FALSE(std::filesystem::exists("data_sent.log"));
  EXPECT_EQ(Combo().lineEdit()->selectedText(), "A");

  Type("AT");
  dlg.SendCommand(IDC_SEND);
  EXPECT_EQ(SentLog(2), B("AT")) << "no line end";
  ASSERT_TRUE(WaitUntil([&] { return dlg.Log()->Text() == "AAT"; }, 20000));
  StopComm(0);

  // An empty text is an empty write request.
  CapturedRequests capture;
  Type("");
  dlg.SendCommand(IDC_SEND);
  EXPECT_EQ(capture.Take(), (std::vector<Bytes>{Bytes{}}));
  EXPECT_EQ(Listed(), (QStringList{"", "AT", "A"}));
}

TEST_F(SendConsoleTest, TheHistoryKeepsTheTenNewestAcrossARestart) {
  {
    CQuorvixDlg& dlg = Open();
    CapturedRequests capture;
    for (int i = 1; i <= 11; ++i) {
      Type(QStringLiteral("AT+N%1").arg(i));
      dlg.SendCommand(i % 2 ? IDC_SENDLINE : IDC_SEND);
    }
    EXPECT_EQ(Combo().count(), 11) << "all eleven during the run";
    Close();
  }
  QStringList newest;
  for (int i = 11; i >= 2; --i) newest << QStringLiteral("AT+N%1").arg(i);
  EXPECT_EQ(Stored(), newest);
  Open();
  EXPECT_EQ(Listed(), newest);
  EXPECT_EQ(Combo().currentText(), "ATE1V1&K3+CMEE=1") << "not the newest entry";
}

TEST_F(SendConsoleTest, AnOlderEntryChosenMovesUpAtOnceButIsSavedFirstOnlyOnceSent) {
  for (int i = 0; i < 3; ++i)
    qv::store::WriteProfileString(kMru, QString::number(i), QStringList{"c", "b", "a"}[i]);
  Open();
  qv::test::ChooseFromList(Combo(), 2);  // "a", chosen in the drop-down list
  EXPECT_TRUE(WaitUntil([&] { return Listed() == QStringList({"a", "c", "b"}); }));
  Close();
  EXPECT_EQ(Stored(), (QStringList{"c", "b", "a"}));

  CQuorvixDlg& dlg = Open();
  qv::test::ChooseFromList(Combo(), 2);
  EXPECT_TRUE(WaitUntil([&] { return Listed() == QStringList({"a", "c", "b"}); }));
  {
    CapturedRequests capture;
    dlg.SendCommand(IDC_SENDLINE);
    EXPECT_EQ(capture.Take().front(), B("a"));
  }
  Close();
  EXPECT_EQ(Stored(), (QStringList{"a", "c", "b"}));
}

TEST_F(SendConsoleTest, TypedTextIsSentAsTypedWhateverTheHistoryHolds) {
  for (int i = 0; i < 2; ++i)
    qv::store::WriteProfileString(kMru, QString::number(i), QStringList{"ATI", "AT+CGMI"}[i]);
  CQuorvixDlg& dlg = Open();
  dlg.EnableDlgItem(IDC_SENDLINE, true);  // as an open port leaves it: Return presses it
  QWidget* keys = qv::test::FocusForTyping(&Combo());
  ASSERT_TRUE(keys == &Combo() || keys == Combo().lineEdit());
  CapturedRequests capture;
  // Typing replaces the selected text; Return presses Send Line.
  Combo().lineEdit()->selectAll();
  qv::test::TypeKeys(keys, "AT");
  qv::test::PressKey(keys, Qt::Key_Return);
  qv::test::TypeKeys(keys, "at+c");
  dlg.SendCommand(IDC_SENDLINE);
  qv::test::TypeKeys(keys, "at+cgmi");
  qv::test::PressKey(keys, Qt::Key_Return);
  EXPECT_EQ(capture.Take(), (std::vector<Bytes>{B("AT"), B("\r\n"), B("at+c"), B("\r\n"),
                                                B("at+cgmi"), B("\r\n")}));
  EXPECT_EQ(Listed(), (QStringList{"at+cgmi", "at+c", "AT", "ATI", "AT+CGMI"}));
}

TEST_F(SendConsoleTest, ClosingTheListWithoutAChoiceLeavesTheTypedLine) {
  for (int i = 0; i < 3; ++i)
    qv::store::WriteProfileString(kMru, QString::number(i), QStringList{"c", "b", "a"}[i]);
  CQuorvixDlg& dlg = Open();
  qv::test::EscapeFromList(Combo(), 2);
  qv::test::ClickBesideList(Combo(), 1);
  EXPECT_EQ(Combo().currentText().toStdString(), "ATE1V1&K3+CMEE=1");
  EXPECT_EQ(Listed(), (QStringList{"c", "b", "a"}));
  CapturedRequests capture;
  dlg.SendCommand(IDC_SENDLINE);
  EXPECT_EQ(capture.Take().front(), B("ATE1V1&K3+CMEE=1"));
}

TEST_F(SendConsoleTest, BrowseRemembersTheFolderOnlyForABareInitialName) {
  const QString key = QStringLiteral("6aa5bf08");  // the console's filter "All files|*.*||"
  const QString dirs = QStringLiteral("FileDialogEx dirs");
  CQuorvixDlg& dlg = Open();
  EXPECT_EQ(dlg.m_FileName, "test.wav");

  dialogs_.AcceptFile("/srv/tones/ring.wav");
  dlg.SendCommand(IDC_BROWSE);
  auto requests = dialogs_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_TRUE(requests[0].file.open);
  EXPECT_EQ(requests[0].file.filter, "All files|*.*||");
  EXPECT_TRUE(requests[0].file.fileMustExist);
  EXPECT_EQ(requests[0].file.initialName, "test.wav");
  EXPECT_EQ(requests[0].file.initialFolder, "") << "nothing remembered yet";
  EXPECT_EQ(dlg.GetDlgItemText(IDC_FILENAME), "/srv/tones/ring.wav");
  EXPECT_EQ(qv::store::GetProfileString(dirs, key), "/srv/tones");

  // A full path as initial name opens in its folder and remembers nothing.
  dialogs_.AcceptFile("/other/place/x.wav");
  dlg.SendCommand(IDC_BROWSE);
  EXPECT_EQ(dialogs_.Requests()[1].file.initialFolder, "/srv/tones");
  EXPECT_EQ(dlg.m_FileName, "/other/place/x.wav");
  EXPECT_EQ(qv::store::GetProfileString(dirs, key), "/srv/tones");

  // A bare name again: the remembered folder; Cancel keeps both the name and the store.
  dlg.m_FileName = "b.wav";
  dialogs_.CancelFile();
  dlg.SendCommand(IDC_BROWSE);
  EXPECT_EQ(dialogs_.Requests()[2].file.initialFolder, "/srv/tones");
  EXPECT_EQ(dlg.GetDlgItemText(IDC_FILENAME), "b.wav") << "the member goes back into the edit";
  EXPECT_EQ(qv::store::GetProfileString(dirs, key), "/srv/tones");

  // A file in the root folder stores the root.
  dialogs_.AcceptFile("/root.wav");
  dlg.SendCommand(IDC_BROWSE);
  EXPECT_EQ(qv::store::GetProfileString(dirs, key), "/");
}

TEST_F(SendConsoleTest, RawFileSendSendsTheFileNamedInTheEditField) {
  CQuorvixDlg& dlg = Open();
  const Bytes content = qv::test::Pattern(3000, 4);
  WriteBytes("typed.bin", content);
  OpenPort("vloop0", 921600);
  CommConnection.LogData = 1;
  dlg.SetDlgItemText(IDC_FILENAME, "typed.bin");  // typed, not yet in the member
  dlg.Item<QAbstractButton>(IDC_SENDFILE)->click();
  EXPECT_EQ(SentLog(content.size()), content);
  EXPECT_EQ(dlg.m_FileName, "typed.bin");
  EXPECT_EQ(CommConnection.WriteRequested.Load(), content.size());

  // A missing file: the box, nothing sent.
  dlg.SetDlgItemText(IDC_FILENAME, "gone.bin");
  boxes_.Answer(IDOK);
  dlg.Item<QAbstractButton>(IDC_SENDFILE)->click();
  ASSERT_EQ(boxes_.Texts(), (std::vector<std::string>{"Unable to open file"}));
  EXPECT_EQ(CommConnection.WriteRequested.Load(), content.size());
}

TEST_F(SendConsoleTest, ObjectSendsFollowThePanelsCategoryAndType) {
  const Bytes content{'B', 'E', 'G', 'I', 'N', ':', 'V', 'C', 'A', 'R', 'D'};
  WriteBytes("card.vcf", content);
  auto sendWith = [&](const char* category, int type) {
    qv::store::WriteProfileString("Settings", "KPSL_Category", category);
    qv::store::WriteProfileInt("Settings", "KDOBJ_Type", type);
    CQuorvixDlg& dlg = Open();
    CapturedRequests capture;
    dlg.SendObjectFile("card.vcf");
    const auto requests = capture.Take();
    Close();
    return requests;
  };
  EXPECT_EQ(sendWith("VCARDS", 220), (std::vector<Bytes>{content})) << "the raw entry only";
  const auto framed = sendWith("vcards", 220);
  ASSERT_EQ(framed.size(), 5u) << "lower case is not a raw category";
  EXPECT_EQ(framed[2], (Bytes{'c', 0, 'a', 0, 'r', 0, 'd', 0}));
  EXPECT_EQ(framed[3], (Bytes{220, 0, 1, 0, 11, 0, 0, 0}));
  EXPECT_EQ(framed[4], content);
}

TEST_F(SendConsoleTest, ThePhoneAnswersOkToAnAnnouncedObject) {
  CQuorvixDlg& dlg = Open();
  dlg.Item<QAbstractButton>(IDC_VERBOSE)->click();  // only the phone's answers in the log
  OpenPort("vphone0", 115200);
  dlg.Log()->Clear();
  const Bytes content = qv::test::Pattern(1500, 8);
  WriteBytes("song.remix.wav", content);
  // The count the object panel announces for this file: 24 + 2n + S with the title "song".
  const QString command = QStringLiteral("AT+KPSW=\"WAV\",%1").arg(24 + 2 * 4 + 1500);
  Type(command);
  dlg.SendCommand(IDC_SENDLINE);
  dlg.SendObjectFile((std::filesystem::current_path() / "song.remix.wav").c_str());
  const QString expected = command + "\r\r\nOK\r\n";
  EXPECT_TRUE(WaitUntil([&] { return dlg.Log()->Length() >= expected.size(); }, 20000));
  EXPECT_EQ(dlg.Log()->Text(), expected);
}
