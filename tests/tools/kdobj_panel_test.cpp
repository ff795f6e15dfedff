// The object command panel: its lists, the captions it computes from the file, format, type
// and category, which buttons a port and a file allow, the format field's trimming, browsing,
// the stored values, and the bytes its object send puts out against the count it announces.
#include <QAbstractItemView>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>

#include "tests/tools/kdobj_fixture.h"
#include "tools/kdobj_lists.h"

using qv::test::Bytes;
using qv::test::CapturedRequests;
using qv::test::KdobjTest;
using qv::test::WriteBytes;

namespace {

const QString kSettings = QStringLiteral("Settings");
constexpr int kFileButtons[] = {IDC_KDOBJ_OBJECT_CMD, IDC_KPSW_CMD, IDC_KDOBJ_SEND, IDC_KPSW_SEND};
constexpr int kOtherButtons[] = {IDC_KDOBJ_QUERY, IDC_KDOBJ_OPEN,  IDC_KDOBJ_TITLE_CMD,
                                 IDC_KDOBJ_TITLE, IDC_KDOBJ_CLOSE, IDC_KPSL_CMD};

std::size_t TotalSize(const std::vector<Bytes>& requests) {
  std::size_t total = 0;
  for (const Bytes& r : requests) total += r.size();
  return total;
}

}  // namespace

TEST(KdobjLists, RowsInTheirOrderWithHeadingsBlanksAndAlignedColumns) {
  const QStringList& formats = qv::tools::ObjectFormatRows();
  ASSERT_EQ(formats.size(), 81);
  EXPECT_EQ(formats[0], "/* Formats audio */");
  EXPECT_EQ(formats[2], "1     = VRD_WAV_FORMAT          /* WAV           */");
  EXPECT_TRUE(formats[4].startsWith("3     = VRD_MP3_FORMAT"));
  EXPECT_EQ(formats[20], "");
  EXPECT_TRUE(formats[21].startsWith("99    = VRD_JFTA_FORMAT"));
  EXPECT_EQ(formats.indexOf("/* formats animation */"), 44);
  EXPECT_TRUE(formats[45].startsWith("200 = VRD_ANIM_FORMAT"));
  EXPECT_EQ(formats[71], "  ") << "two blanks after the video group";
  EXPECT_EQ(formats[75], "    ") << "four blanks after the interactive group";
  EXPECT_TRUE(formats[80].startsWith("1003 = VRD_JAM_FORMAT"));
  // Every data row's leading number, in increasing order, 65 of them.
  int last = -1, data = 0;
  for (const QString& row : formats) {
    if (row.isEmpty() || !row[0].isDigit()) continue;
    const int number = row.section(QLatin1Char(' '), 0, 0).toInt();
    EXPECT_GT(number, last) << row.toStdString();
    EXPECT_TRUE(row.contains(" = VRD_") && row.contains("_FORMAT") && row.endsWith("*/"))
        << row.toStdString();
    last = number;
    ++data;
  }
  EXPECT_EQ(data, 65);

  const QStringList& types = qv::tools::ObjectTypeRows();
  ASSERT_EQ(types.size(), 48);
  EXPECT_EQ(types.filter(QRegularExpression("^//")).size(), 7);
  EXPECT_EQ(types.first(), "// sounds");
  EXPECT_EQ(types[1], "WAV");
  EXPECT_EQ(types.last(), "MPG");
  EXPECT_EQ(qv::tools::ObjectCategoryRows(),
            (QStringList{"PICTURES", "ANIMATIONS", "SOUNDS", "VCARDS", "VEVENT", "VTODO", "PHOTO",
                         "ALL"}));
}

TEST_F(KdobjTest, DefaultsWithoutTheFileAnnounceSizeAndTheFileCommandsWaitForIt) {
  Open();
  EXPECT_EQ(Panel().windowTitle(), "DOBX commands");
  EXPECT_FALSE(Panel().isVisible());
  EXPECT_EQ(Panel().GetDlgItemText(IDC_KDOBJ_FILE), "test.wav");
  EXPECT_EQ(Caption(IDC_KDOBJ_OBJECT_CMD), "AT+KDOBJ=2,1,0,1,size");
  EXPECT_EQ(Caption(IDC_KPSL_CMD), "AT+CSCS=\"GSM\";+KPSL=\"SOUNDS\",1");
  EXPECT_EQ(Caption(IDC_KPSW_CMD), "AT+KPSW=\"WAV\",size");
  EXPECT_EQ(Combo(IDC_KPSW_TYPE)->view()->minimumWidth(), 100);
  EXPECT_EQ(Combo(IDC_KDOBJ_FORMAT)->view()->minimumWidth(), 400);

  // Closed: every command off, browse on.
  for (int id : kFileButtons) EXPECT_FALSE(Enabled(id)) << id;
  for (int id : kOtherButtons) EXPECT_FALSE(Enabled(id)) << id;
  EXPECT_TRUE(Enabled(IDC_KDOBJ_BROWSE));

  // Open: the file commands still wait for the file.
  OpenPort("vphone0");
  EXPECT_TRUE(Panel().CommandsEnabled());
  for (int id : kFileButtons) EXPECT_FALSE(Enabled(id)) << id;
  for (int id : kOtherButtons) EXPECT_TRUE(Enabled(id)) << id;
  EXPECT_TRUE(Enabled(IDC_KDOBJ_BROWSE));

  // The file appears: they follow it as soon as the inputs are looked at again.
  WriteBytes("test.wav", Bytes(10, 'x'));
  Type(IDC_KDOBJ_FILE, "./test.wav");
  for (int id : kFileButtons) EXPECT_TRUE(Enabled(id)) << id;
  EXPECT_EQ(Caption(IDC_KDOBJ_OBJECT_CMD), "AT+KDOBJ=2,1,0,1,10");

  // A folder of that name is not a file to send.
  std::filesystem::create_directories("folder.wav");
  Type(IDC_KDOBJ_FILE, "folder.wav");
  for (int id : kFileButtons) EXPECT_FALSE(Enabled(id)) << id;
  EXPECT_EQ(Caption(IDC_KDOBJ_OBJECT_CMD), "AT+KDOBJ=2,1,0,1,size");

  Type(IDC_KDOBJ_FILE, "./test.wav");
  ClosePort();
  EXPECT_FALSE(Panel().CommandsEnabled());
  for (int id : kFileButtons) EXPECT_FALSE(Enabled(id)) << id;
  for (int id : kOtherButtons) EXPECT_FALSE(Enabled(id)) << id;
  EXPECT_TRUE(Enabled(IDC_KDOBJ_BROWSE));
  // Typing while closed does not bring them back.
  Type(IDC_KPSL_CATEGORY, "PICTURES");
  for (int id : kFileButtons) EXPECT_FALSE(Enabled(id)) << id;
}

TEST_F(KdobjTest, CaptionsCountTheFileTheTitleAndTheFrame) {
  Open();
  WriteBytes("ring.tone.wav", Bytes(1000, 0x55));
  const QString ring = QString::fromStdString(Here("ring.tone.wav"));
  Type(IDC_KDOBJ_FILE, ring);
  EXPECT_EQ(Caption(IDC_KDOBJ_OBJECT_CMD), "AT+KDOBJ=2,1,0,1,1000");
  EXPECT_EQ(Caption(IDC_KPSW_CMD), "AT+KPSW=\"WAV\",1032") << "24 + 2 * 4 (\"ring\") + 1000";

  // The three raw categories, exactly as written, count the file alone.
  Type(IDC_KPSL_CATEGORY, "VCARDS");
  EXPECT_EQ(Caption(IDC_KPSW_CMD), "AT+KPSW=\"WAV\",1000");
  EXPECT_EQ(Caption(IDC_KPSL_CMD), "AT+CSCS=\"GSM\";+KPSL=\"VCARDS\",1");
  Type(IDC_KPSL_CATEGORY, "VTODO");
  EXPECT_EQ(Caption(IDC_KPSW_CMD), "AT+KPSW=\"WAV\",1000");
  Type(IDC_KPSL_CATEGORY, "vcards");
  EXPECT_EQ(Caption(IDC_KPSW_CMD), "AT+KPSW=\"WAV\",1032");
  // The list's "VEVENT" is not "VEVENTS".
  Choose(IDC_KPSL_CATEGORY, RowBeginning(IDC_KPSL_CATEGORY, "VEVENT"));
  EXPECT_EQ(Caption(IDC_KPSL_CMD), "AT+CSCS=\"GSM\";+KPSL=\"VEVENT\",1");
  EXPECT_EQ(Caption(IDC_KPSW_CMD), "AT+KPSW=\"WAV\",1032");

  // A group title of the type list, or no type, leaves the write command as it was.
  Choose(IDC_KPSW_TYPE, RowBeginning(IDC_KPSW_TYPE, "// pictures"));
  EXPECT_EQ(Caption(IDC_KPSW_CMD), "AT+KPSW=\"WAV\",1032");
  Type(IDC_KPSW_TYPE, "");
  EXPECT_EQ(Caption(IDC_KPSW_CMD), "AT+KPSW=\"WAV\",1032");
  Choose(IDC_KPSW_TYPE, RowBeginning(IDC_KPSW_TYPE, "JPEG"));
  EXPECT_EQ(Caption(IDC_KPSW_CMD), "AT+KPSW=\"JPEG\",1032");
  // A typed "%1" is text, not a placeholder.
  Type(IDC_KPSW_TYPE, "%1%2");
  EXPECT_EQ(Caption(IDC_KPSW_CMD), "AT+KPSW=\"%1%2\",1032");

  // No "." in the name: no title, the frame adds 24 bytes only.
  WriteBytes("README", Bytes(7, 'r'));
  Type(IDC_KDOBJ_FILE, "README");
  EXPECT_EQ(Caption(IDC_KPSW_CMD), "AT+KPSW=\"%1%2\",31");
  // A title outside ASCII counts its UTF-16 units: "été" is 3.
  WriteBytes("\xC3\xA9t\xC3\xA9.amr", Bytes(5, 'a'));
  Type(IDC_KDOBJ_FILE, QString::fromUtf8("\xC3\xA9t\xC3\xA9.amr"));
  EXPECT_EQ(Caption(IDC_KPSW_CMD), "AT+KPSW=\"%1%2\",35");
  EXPECT_EQ(Caption(IDC_KDOBJ_OBJECT_CMD), "AT+KDOBJ=2,1,0,1,5");

  // Beyond 4 GiB the whole size is shown, not what is left of it in 32 bits (a sparse file).
  WriteBytes("huge.wav", {});
  std::filesystem::resize_file("huge.wav", (std::uint64_t(1) << 32) + 10);
  Type(IDC_KDOBJ_FILE, "huge.wav");
  EXPECT_EQ(Caption(IDC_KDOBJ_OBJECT_CMD), "AT+KDOBJ=2,1,0,1,4294967306");
  EXPECT_EQ(Caption(IDC_KPSW_CMD), "AT+KPSW=\"%1%2\",4294967338");
}

TEST_F(KdobjTest, TypesAndCategoriesStopWhereTheirCommandWouldPass99Characters) {
  qv::store::WriteProfileString(kSettings, "KPSL_Category", QString(120, QLatin1Char('C')));
  Open();
  EXPECT_EQ(Panel().Category().size(), CToolKDOBJ::kCategoryMax) << "a long stored value is cut";
  EXPECT_EQ(Caption(IDC_KPSL_CMD).size(), CToolKDOBJ::kCaptionMax);
  WriteBytes("big.wav", Bytes(100, 1));
  Type(IDC_KDOBJ_FILE, "big.wav");
  Type(IDC_KPSW_TYPE, QString(150, QLatin1Char('T')));
  EXPECT_EQ(Panel().Type().size(), CToolKDOBJ::kTypeMax);
  EXPECT_LE(Caption(IDC_KPSW_CMD).size(), CToolKDOBJ::kCaptionMax);
  EXPECT_TRUE(Caption(IDC_KPSW_CMD).endsWith("\",130"));
}

TEST_F(KdobjTest, TheCaptionLimitCountsTheBytesSentNotTheCharacters) {
  const QString e(QChar(0xE9));                                // "é": two bytes on the wire
  const QString clef = QString::fromUtf8("\xF0\x9D\x84\x9E");  // four bytes, two UTF-16 units
  qv::store::WriteProfileString(kSettings, "KPSL_Category", e.repeated(120));
  qv::store::WriteProfileString(kSettings, "KPSW_Type", clef.repeated(40));
  Open();
  WriteBytes("big.wav", Bytes(100, 1));
  Type(IDC_KDOBJ_FILE, "big.wav");
  const struct {
    int field, command, room;
  } cases[] = {{IDC_KPSL_CATEGORY, IDC_KPSL_CMD, CToolKDOBJ::kCategoryMax},
               {IDC_KPSW_TYPE, IDC_KPSW_CMD, CToolKDOBJ::kTypeMax}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.field);
    QLineEdit* edit = Combo(c.field)->lineEdit();
    const auto bytes = [&] { return edit->text().toLocal8Bit().size(); };
    EXPECT_LE(bytes(), c.room) << "a long stored value is cut";
    EXPECT_FALSE(edit->text().back().isHighSurrogate());
    // Pasted and typed text beyond the room is cut where it goes in.
    edit->clear();
    edit->insert(QStringLiteral("AB") + e.repeated(100));
    EXPECT_EQ(bytes(), c.room - c.room % 2) << edit->text().toStdString();
    EXPECT_TRUE(edit->text().startsWith("AB"));
    edit->setCursorPosition(1);
    edit->insert(e);
    EXPECT_TRUE(edit->text().startsWith("AB")) << "a character that does not fit is refused";
    QCoreApplication::processEvents();
    EXPECT_LE(Caption(c.command).toLocal8Bit().size(), CToolKDOBJ::kCaptionMax);
  }
}

TEST_F(KdobjTest, AChosenFormatRowIsTrimmedToItsNumber) {
  Open();
  QCoreApplication::processEvents();
  EXPECT_EQ(Panel().ObjectTypeText(), "1") << "the stored 1 selects the WAV row, trimmed";

  Choose(IDC_KDOBJ_FORMAT, RowBeginning(IDC_KDOBJ_FORMAT, "3     = VRD_MP3_FORMAT"));
  EXPECT_EQ(Panel().GetDlgItemText(IDC_KDOBJ_FORMAT), "3");
  EXPECT_EQ(Combo(IDC_KDOBJ_FORMAT)->lineEdit()->selectedText(), "3");
  EXPECT_EQ(Caption(IDC_KDOBJ_OBJECT_CMD), "AT+KDOBJ=2,1,0,3,size");

  // A heading and a row of blanks empty the field; the format is then 0.
  Choose(IDC_KDOBJ_FORMAT, RowBeginning(IDC_KDOBJ_FORMAT, "/* formats image */"));
  EXPECT_EQ(Panel().GetDlgItemText(IDC_KDOBJ_FORMAT), "");
  EXPECT_EQ(Caption(IDC_KDOBJ_OBJECT_CMD), "AT+KDOBJ=2,1,0,0,size");
  Choose(IDC_KDOBJ_FORMAT, 75);
  EXPECT_EQ(Panel().GetDlgItemText(IDC_KDOBJ_FORMAT), "");

  // A typed number stays as typed, also after the list closes without a choice.
  Type(IDC_KDOBJ_FORMAT, "1002");
  Panel().SendCommand(IDC_KDOBJ_FORMAT, CBN_SELENDCANCEL);
  QCoreApplication::processEvents();
  EXPECT_EQ(Panel().GetDlgItemText(IDC_KDOBJ_FORMAT), "1002");
  EXPECT_EQ(Caption(IDC_KDOBJ_OBJECT_CMD), "AT+KDOBJ=2,1,0,1002,size");
  // Typing gets no completion from the list.
  Type(IDC_KDOBJ_FORMAT, "2");
  EXPECT_EQ(Panel().GetDlgItemText(IDC_KDOBJ_FORMAT), "2");
}

TEST_F(KdobjTest, TheFourValuesAreStoredAtTheEndAndComeBack) {
  qv::store::WriteProfileInt(kSettings, "KDOBJ_Type", 20);
  Open();
  QCoreApplication::processEvents();
  EXPECT_EQ(Panel().ObjectTypeText(), "20") << "no row has 20; 200's row is not it";
  EXPECT_EQ(Caption(IDC_KDOBJ_OBJECT_CMD), "AT+KDOBJ=2,1,0,20,size");

  Type(IDC_KDOBJ_FILE, "/srv/tones/x.mid");
  Type(IDC_KPSL_CATEGORY, "PHOTO");
  Type(IDC_KPSW_TYPE, "MIDI");
  Type(IDC_KDOBJ_FORMAT, "104abc");
  Close();
  EXPECT_EQ(qv::store::GetProfileString(kSettings, "KDOBJ_FileName", ""), "/srv/tones/x.mid");
  EXPECT_EQ(qv::store::GetProfileString(kSettings, "KPSL_Category", ""), "PHOTO");
  EXPECT_EQ(qv::store::GetProfileString(kSettings, "KPSW_Type", ""), "MIDI");
  EXPECT_EQ(qv::store::GetProfileInt(kSettings, "KDOBJ_Type", -1), 104);

  Open();
  QCoreApplication::processEvents();
  EXPECT_EQ(Panel().FileName(), "/srv/tones/x.mid");
  EXPECT_EQ(Panel().Category(), "PHOTO");
  EXPECT_EQ(Panel().Type(), "MIDI");
  EXPECT_EQ(Panel().ObjectTypeText(), "104");
  EXPECT_EQ(Caption(IDC_KPSW_CMD), "AT+KPSW=\"MIDI\",size");

  // An empty format field is stored as 0, which comes back as the AUDIO row's 0; a number that
  // begins no row is put in as it is.
  Type(IDC_KDOBJ_FORMAT, "");
  Close();
  EXPECT_EQ(qv::store::GetProfileInt(kSettings, "KDOBJ_Type", -1), 0);
  Open();
  QCoreApplication::processEvents();
  EXPECT_EQ(Panel().ObjectTypeText(), "0");
  Close();
  qv::store::WriteProfileInt(kSettings, "KDOBJ_Type", 5000);
  Open();
  QCoreApplication::processEvents();
  EXPECT_EQ(Panel().ObjectTypeText(), "5000");
}

// A stored or typed format selects the row of that very number, if any, and stays as it is: at
// the start and through a cancelled browse, which puts the fields back.
TEST_F(KdobjTest, TheFormatKeepsItsNumberWhetherARowHasItOrNot) {
  const std::pair<int, const char*> cases[] = {
      {20, nullptr}, {30, nullptr}, {98, nullptr}, {10, "10    = VRD_MP3P"}, {300, "300 = "}};
  for (const auto& [stored, row] : cases) {
    const QString number = QString::number(stored);
    qv::store::WriteProfileInt(kSettings, "KDOBJ_Type", stored);
    Open();
    for (bool browsed : {false, true}) {
      if (browsed) {
        Type(IDC_KDOBJ_FORMAT, number);
        dialogs_.CancelFile();
        Click(IDC_KDOBJ_BROWSE);
      }
      QCoreApplication::processEvents();
      EXPECT_EQ(Panel().GetDlgItemText(IDC_KDOBJ_FORMAT), number);
      EXPECT_EQ(Caption(IDC_KDOBJ_OBJECT_CMD), "AT+KDOBJ=2,1,0," + number + ",size");
      if (row) {
        EXPECT_EQ(Combo(IDC_KDOBJ_FORMAT)->currentIndex(), RowBeginning(IDC_KDOBJ_FORMAT, row));
      }
    }
    Close();
  }
}

TEST_F(KdobjTest, BrowsePicksTheFileAndRefreshesTheFields) {
  Open();
  WriteBytes("tune.d.mid", Bytes(40, 2));
  const QString chosen = QString::fromStdString(Here("tune.d.mid"));
  dialogs_.AcceptFile(chosen);
  Click(IDC_KDOBJ_BROWSE);
  ASSERT_EQ(dialogs_.Count(), 1u);
  const auto request = dialogs_.Requests()[0].file;
  EXPECT_TRUE(request.open);
  EXPECT_TRUE(request.fileMustExist);
  EXPECT_EQ(request.filter, "All files (*.*)|*.*||");
  EXPECT_EQ(request.initialName, "test.wav");
  EXPECT_EQ(request.defaultExtension, "");
  EXPECT_EQ(request.owner, qv::ui::ToHwnd(&Panel()));
  EXPECT_EQ(Panel().GetDlgItemText(IDC_KDOBJ_FILE), chosen);
  EXPECT_EQ(Caption(IDC_KDOBJ_OBJECT_CMD), "AT+KDOBJ=2,1,0,1,40");
  EXPECT_EQ(Caption(IDC_KPSW_CMD), "AT+KPSW=\"WAV\",72");

  // Cancelled: the name stays, the chosen format row is put back and trimmed.
  Choose(IDC_KDOBJ_FORMAT, RowBeginning(IDC_KDOBJ_FORMAT, "2     = VRD_MIDI"));
  dialogs_.CancelFile();
  Click(IDC_KDOBJ_BROWSE);
  EXPECT_EQ(dialogs_.Requests()[1].file.initialName, "tune.d.mid");
  EXPECT_EQ(Panel().GetDlgItemText(IDC_KDOBJ_FILE), chosen);
  EXPECT_EQ(Panel().GetDlgItemText(IDC_KDOBJ_FORMAT), "2");
}

TEST_F(KdobjTest, TheObjectSendPutsOutExactlyTheCountTheWriteCommandAnnounces) {
  Open();
  // Each name with its category: framed, framed without title, framed outside ASCII, raw.
  const struct {
    const char* name;
    const char* category;
  } cases[] = {{"ring.tone.wav", "SOUNDS"},
               {"NOTITLE", "PICTURES"},
               {"\xC3\xA9t\xC3\xA9 \xE2\x99\xAB.amr", "SOUNDS"},
               {"card.vcf", "VCARDS"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBytes(c.name, qv::test::Pattern(321, 5));
    Type(IDC_KDOBJ_FILE, QString::fromUtf8(c.name));
    Type(IDC_KPSL_CATEGORY, c.category);
    const QString caption = Caption(IDC_KPSW_CMD);
    const std::size_t announced = caption.section(QLatin1Char(','), -1).toULongLong();
    CapturedRequests capture;
    Panel().SendCommand(IDC_KPSW_SEND);
    const std::vector<Bytes> requests = capture.Take();
    EXPECT_EQ(requests.size(), std::string(c.category) == "VCARDS" ? 1u : 5u);
    EXPECT_EQ(TotalSize(requests), announced) << caption.toStdString();
  }
  // The title goes out in UTF-16: "été ♫" is five units.
  CapturedRequests capture;
  Type(IDC_KPSL_CATEGORY, "SOUNDS");
  Type(IDC_KDOBJ_FILE, QString::fromUtf8("\xC3\xA9t\xC3\xA9 \xE2\x99\xAB.amr"));
  Panel().SendCommand(IDC_KPSW_SEND);
  const std::vector<Bytes> requests = capture.Take();
  ASSERT_EQ(requests.size(), 5u);
  EXPECT_EQ(requests[2], (Bytes{0xE9, 0, 't', 0, 0xE9, 0, ' ', 0, 0x6B, 0x26}));
}

TEST_F(KdobjTest, TheCloseBoxHidesThePanelAndEnterOrEscapeLeaveIt) {
  CQuorvixDlg& dlg = Open();
  dlg.Item<QAbstractButton>(IDC_TOOL_KDOBJ)->click();
  QCoreApplication::processEvents();
  ASSERT_TRUE(Panel().isVisible());
  for (Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(Panel().GetDlgItem(IDC_KDOBJ_FILE), &press);
    QCoreApplication::processEvents();
    EXPECT_TRUE(Panel().isVisible()) << key;
  }
  Panel().close();
  QCoreApplication::processEvents();
  EXPECT_FALSE(Panel().isVisible());
  EXPECT_EQ(dlg.IsDlgButtonChecked(IDC_TOOL_KDOBJ), BST_UNCHECKED);
  EXPECT_EQ(Panel().GetDlgItemText(IDC_KDOBJ_FILE), "test.wav") << "the panel and its values stay";
}
