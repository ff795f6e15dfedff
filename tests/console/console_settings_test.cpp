// Start-up and settings of the console: first-start defaults, what is written on close and read
// back, window placements, panel toggles.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>
#include <cstring>
#include <map>

#include "console/log_font_record.h"
#include "console/log_view.h"
#include "console/window_placement.h"
#include "engine/comm.h"
#include "platform/comm/comm_api.h"
#include "platform/sync/debug_output.h"
#include "tests/console/console_fixture.h"
#include "tools/tool_kdobj.h"
#include "tools/tool_states.h"
#include "tools/tool_tests.h"

using qv::test::ConsoleTest;

namespace {

const QString kSettings = QStringLiteral("Settings");

// The speed shown after a first start: 115200 bps, unless the default port "\\.\COM1" exists on
// this machine, whose default configuration then chooses the speed.
QString FirstStartSpeed() {
  std::vector<DWORD> buffer(1076 / sizeof(DWORD));
  auto* config = reinterpret_cast<COMMCONFIG*>(buffer.data());
  DWORD size = 1076;
  if (!GetDefaultCommConfigA("COM1", config, &size)) return QStringLiteral("115200 bps");
  return QString::number(config->dcb.BaudRate) + QStringLiteral(" bps");
}

QByteArray Placement(int left, int top, int right, int bottom, UINT showCmd) {
  WINDOWPLACEMENT wp{};
  wp.length = sizeof wp;
  wp.showCmd = showCmd;
  wp.rcNormalPosition = RECT{left, top, right, bottom};
  return qv::console::PlacementBytes(wp);
}

}  // namespace

TEST_F(ConsoleTest, FirstStartShowsTheDefaults) {
  CQuorvixDlg& dlg = Open();
  EXPECT_EQ(dlg.windowTitle(), "quor_vix 1.00");
  EXPECT_EQ(dlg.GetDlgItemText(IDC_PORT), "\\\\.\\COM1");
  EXPECT_EQ(dlg.GetDlgItemText(IDC_SPEED), FirstStartSpeed());
  EXPECT_EQ(dlg.IsDlgButtonChecked(IDC_VERBOSE), BST_CHECKED);
  EXPECT_EQ(dlg.IsDlgButtonChecked(IDC_HEXA), BST_UNCHECKED);
  EXPECT_EQ(dlg.IsDlgButtonChecked(IDC_TIMESTAMP), BST_UNCHECKED);
  EXPECT_EQ(dlg.IsDlgButtonChecked(IDC_VERBOSEMORE), BST_UNCHECKED);
  EXPECT_EQ(dlg.IsDlgButtonChecked(IDC_OPENONPNP), BST_UNCHECKED);
  EXPECT_EQ(dlg.GetDlgItemText(IDC_FILENAME), "test.wav");
  EXPECT_EQ(dlg.GetDlgItemText(IDC_SENDLINE_TEXT), "ATE1V1&K3+CMEE=1");
  // Only the states panel is shown, with its button checked.
  EXPECT_FALSE(dlg.TestsPanel()->isVisible());
  EXPECT_TRUE(dlg.StatesPanel()->isVisible());
  EXPECT_FALSE(dlg.KdobjPanel()->isVisible());
  EXPECT_EQ(dlg.IsDlgButtonChecked(IDC_TOOL_TESTS), BST_UNCHECKED);
  EXPECT_EQ(dlg.IsDlgButtonChecked(IDC_TOOL_STATES), BST_CHECKED);
  EXPECT_EQ(dlg.IsDlgButtonChecked(IDC_TOOL_KDOBJ), BST_UNCHECKED);
  // The log keeps the font it had (the dialog's).
  EXPECT_EQ(dlg.LogFont().family(), dlg.DialogFont().family());
  EXPECT_EQ(dlg.LogFont().pointSize(), dlg.DialogFont().pointSize());
  // Send buttons wait for an open port; the panels hold their own stored values.
  EXPECT_FALSE(dlg.GetDlgItem(IDC_SENDLINE)->isEnabled());
  EXPECT_FALSE(dlg.GetDlgItem(IDC_SEND)->isEnabled());
  EXPECT_TRUE(dlg.GetDlgItem(IDC_SENDFILE)->isEnabled());
  EXPECT_EQ(dlg.KdobjPanel()->ObjectType(), 1);
  EXPECT_EQ(dlg.KdobjPanel()->Category(), "SOUNDS");
  EXPECT_EQ(CommConnection.console.Load(), static_cast<ConsoleSink*>(&dlg));
}

TEST_F(ConsoleTest, EveryControlOfTheTemplateIsThere) {
  CQuorvixDlg& dlg = Open();
  const std::pair<int, const char*> captions[] = {{IDC_OPENCLOSE, "Open"},
                                                  {IDC_OPENTAPI, "Open with TAPI"},
                                                  {IDC_PORTCONFIG, "..."},
                                                  {IDC_SENDLINE, "Send Line"},
                                                  {IDC_SEND, "Send"},
                                                  {IDC_RAWFILE_GROUP, "Raw file send"},
                                                  {IDC_BROWSE, "..."},
                                                  {IDC_SENDFILE, "Send"},
                                                  {IDC_OPENONPNP, "Open on PNP"},
                                                  {IDC_HEXA, "Hexa"},
                                                  {IDC_VERBOSEMORE, "Verbose more"},
                                                  {IDC_VERBOSE, "Verbose"},
                                                  {IDC_TIMESTAMP, "Timestamp"},
                                                  {IDC_CLEARLOG, "Clear log"},
                                                  {IDC_LOGFONT, "Log font..."},
                                                  {IDC_TOOL_TESTS, "Miscellaneous tests"},
                                                  {IDC_TOOL_STATES, "Communication states"},
                                                  {IDC_TOOL_KDOBJ, "DOBX commands"}};
  for (const auto& [id, caption] : captions) {
    ASSERT_NE(dlg.GetDlgItem(id), nullptr) << id;
    EXPECT_EQ(dlg.GetDlgItemText(id), caption) << id;
  }
  for (int id : {IDC_PORT, IDC_SPEED, IDC_LOG, IDC_SENDLINE_TEXT, IDC_FILENAME})
    EXPECT_NE(dlg.GetDlgItem(id), nullptr) << id;
  EXPECT_EQ(dlg.GetDlgItem(ID_DEVICE_LIST), nullptr) << "1047 is a command without a control";
  auto* speed = dlg.Item<QComboBox>(IDC_SPEED);
  ASSERT_EQ(speed->count(), 9);
  EXPECT_EQ(speed->itemText(0), "806400 bps");
  EXPECT_EQ(speed->itemText(8), "1200 bps");
  // 1047 is reachable through the dialog's shortcut and context menu action.
  int deviceList = 0;
  dlg.OnCommand(ID_DEVICE_LIST, [&] { ++deviceList; });
  dlg.DeviceListAction()->trigger();
  EXPECT_EQ(deviceList, 1);
  EXPECT_FALSE(dlg.DeviceListAction()->shortcut().isEmpty());
}

TEST_F(ConsoleTest, CloseWritesEverySettingWithItsKind) {
  Open();
  Close();
  using namespace qv::store;
  EXPECT_EQ(GetProfileString(kSettings, "PortName"), "\\\\.\\COM1");
  EXPECT_EQ(GetProfileInt(kSettings, "BaudRate", -1), FirstStartSpeed().section(' ', 0, 0).toInt());
  EXPECT_EQ(GetProfileString(kSettings, "FileName"), "test.wav");
  EXPECT_EQ(GetProfileInt(kSettings, "PNPaware", -1), 0);
  EXPECT_EQ(GetProfileInt(kSettings, "HexMode", -1), 0);
  EXPECT_EQ(GetProfileInt(kSettings, "Verbose", -1), 1);
  EXPECT_EQ(GetProfileInt(kSettings, "VerbTime", -1), 0);
  EXPECT_EQ(GetProfileInt(kSettings, "VerboseMore", -1), 0);
  EXPECT_EQ(GetProfileInt(kSettings, "VisibleTools", -1), 2);
  const auto font = GetProfileBinary(kSettings, "ConsoleFont");
  ASSERT_TRUE(font.has_value());
  EXPECT_EQ(font->size(), 60);
  const auto placement = GetProfileBinary(kSettings, "WindowPlacement");
  ASSERT_TRUE(placement.has_value());
  EXPECT_EQ(placement->size(), 176);
  for (int i = 0; i < 4; ++i) {
    WINDOWPLACEMENT wp;
    ASSERT_TRUE(qv::console::PlacementAt(*placement, i, &wp));
    EXPECT_EQ(wp.length, 44u);
    EXPECT_GT(wp.rcNormalPosition.right, wp.rcNormalPosition.left) << i;
  }
  // Ints and strings are not binary values.
  for (const char* name : {"PortName", "BaudRate", "VisibleTools", "Verbose"})
    EXPECT_FALSE(GetProfileBinary(kSettings, name).has_value()) << name;
  EXPECT_FALSE(HasProfileEntry(kSettings, "BlockSize")) << "the console only reads it";
}

TEST_F(ConsoleTest, ChangedValuesComeBackAtTheNextStart) {
  CQuorvixDlg& dlg = Open();
  dlg.SetDlgItemText(IDC_PORT, "vloop0");
  dlg.Item<QComboBox>(IDC_SPEED)->setCurrentIndex(5);  // 9600 bps
  dlg.Item<QAbstractButton>(IDC_HEXA)->click();
  dlg.Item<QAbstractButton>(IDC_TIMESTAMP)->click();
  dlg.Item<QAbstractButton>(IDC_VERBOSE)->click();
  dlg.SetDlgItemText(IDC_FILENAME, "/tmp/payload.bin");
  dlg.Item<QAbstractButton>(IDC_TOOL_TESTS)->click();
  dlg.Item<QAbstractButton>(IDC_TOOL_KDOBJ)->click();
  dlg.Item<QAbstractButton>(IDC_TOOL_STATES)->click();
  QFont chosen = dlg.LogFont();
  chosen.setPointSize(15);
  chosen.setBold(true);
  dialogs_.AcceptFont(chosen);
  dlg.Item<QAbstractButton>(IDC_LOGFONT)->click();
  Close();

  CQuorvixDlg& again = Open();
  EXPECT_EQ(again.GetDlgItemText(IDC_PORT), "vloop0");
  EXPECT_EQ(again.GetDlgItemText(IDC_SPEED), "9600 bps");
  EXPECT_EQ(again.IsDlgButtonChecked(IDC_HEXA), BST_CHECKED);
  EXPECT_EQ(again.IsDlgButtonChecked(IDC_TIMESTAMP), BST_CHECKED);
  EXPECT_EQ(again.IsDlgButtonChecked(IDC_VERBOSE), BST_UNCHECKED);
  EXPECT_EQ(again.GetDlgItemText(IDC_FILENAME), "/tmp/payload.bin");
  EXPECT_TRUE(again.TestsPanel()->isVisible());
  EXPECT_FALSE(again.StatesPanel()->isVisible());
  EXPECT_TRUE(again.KdobjPanel()->isVisible());
  EXPECT_EQ(again.IsDlgButtonChecked(IDC_TOOL_TESTS), BST_CHECKED);
  EXPECT_EQ(again.IsDlgButtonChecked(IDC_TOOL_STATES), BST_UNCHECKED);
  EXPECT_EQ(again.IsDlgButtonChecked(IDC_TOOL_KDOBJ), BST_CHECKED);
  EXPECT_EQ(again.LogFont().pointSize(), 15);
  EXPECT_TRUE(again.LogFont().bold());
  EXPECT_EQ(again.Log()->font().pointSize(), 15);
}

TEST_F(ConsoleTest, UnknownStoredSpeedKeepsTheSelection) {
  // A port without a default configuration, so that only the stored speed counts.
  qv::store::WriteProfileString(kSettings, "PortName", "\\\\.\\nosuchport0");
  qv::store::WriteProfileInt(kSettings, "BaudRate", 12345);
  qv::store::WriteProfileInt(kSettings, "BlockSize", 8192);
  CQuorvixDlg& dlg = Open();
  EXPECT_EQ(dlg.GetDlgItemText(IDC_SPEED), "115200 bps");
  EXPECT_EQ(CommConnection.ReadBlockSize.Load(), 8192u);
  EXPECT_GE(CommConnection.ReadBufferSize.Load(), 8192u);
  SetCommBlockSize(4096);
}

TEST_F(ConsoleTest, PanelTogglesShowAndHide) {
  CQuorvixDlg& dlg = Open();
  auto* testsButton = dlg.Item<QAbstractButton>(IDC_TOOL_TESTS);
  testsButton->click();
  EXPECT_TRUE(dlg.TestsPanel()->isVisible());
  EXPECT_EQ(dlg.IsDlgButtonChecked(IDC_TOOL_TESTS), BST_CHECKED);
  testsButton->click();
  EXPECT_FALSE(dlg.TestsPanel()->isVisible());
  EXPECT_EQ(dlg.IsDlgButtonChecked(IDC_TOOL_TESTS), BST_UNCHECKED);
  // A panel closed by its own close box unchecks its button and stays alive.
  CToolStates* states = dlg.StatesPanel();
  states->close();
  EXPECT_FALSE(states->isVisible());
  EXPECT_EQ(dlg.IsDlgButtonChecked(IDC_TOOL_STATES), BST_UNCHECKED);
  EXPECT_EQ(dlg.StatesPanel(), states);
  EXPECT_TRUE(states->isWindow());
  EXPECT_EQ(states->parentWidget(), &dlg) << "owned by the console";
  Close();
  EXPECT_EQ(qv::store::GetProfileInt(kSettings, "VisibleTools", -1), 0);
}

TEST_F(ConsoleTest, MaximisedComesBackNormalAndSmallIsEnlarged) {
  // Template size of the console as it is built.
  QSize templateSize;
  {
    CQuorvixDlg& probe = Open();
    templateSize = probe.frameGeometry().size();
    Close();
  }
  QByteArray block = Placement(40, 50, 60, 70, SW_SHOWMAXIMIZED);  // far smaller than the template
  block += Placement(300, 310, 301, 311, SW_SHOWNORMAL);
  block += Placement(320, 330, 2000, 2000, SW_SHOWNORMAL);
  block += Placement(340, 350, 341, 351, SW_SHOWNORMAL);
  qv::store::WriteProfileBinary(kSettings, "WindowPlacement", block);
  qv::store::WriteProfileInt(kSettings, "VisibleTools", 7);

  CQuorvixDlg& dlg = Open();
  EXPECT_FALSE(dlg.isMaximized());
  EXPECT_EQ(dlg.frameGeometry().topLeft(), QPoint(40, 50));
  EXPECT_EQ(dlg.frameGeometry().size(), templateSize);
  // Panels: stored position, their template size whatever was stored.
  CToolPanel* panels[] = {dlg.TestsPanel(), dlg.StatesPanel(), dlg.KdobjPanel()};
  const QPoint positions[] = {{300, 310}, {320, 330}, {340, 350}};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(panels[i]->frameGeometry().topLeft(), positions[i]) << i;
    const auto& t = panels[i]->Template();
    EXPECT_EQ(panels[i]->size(), QSize(panels[i]->Units().X(t.cx), panels[i]->Units().Y(t.cy)))
        << i;
    EXPECT_TRUE(panels[i]->isVisible()) << i;
  }
}

TEST_F(ConsoleTest, LargerStoredWindowKeepsItsSize) {
  // Larger than the template, within the screen (800 x 800 offscreen).
  qv::store::WriteProfileBinary(kSettings, "WindowPlacement",
                                Placement(0, 20, 0 + 800, 20 + 760, SW_SHOWNORMAL));
  CQuorvixDlg& dlg = Open();
  EXPECT_EQ(dlg.frameGeometry(), QRect(0, 20, 800, 760));
  // One record only: the panels keep their template places.
  EXPECT_NE(dlg.KdobjPanel()->frameGeometry().topLeft(), QPoint(0, 0));
  Close();
  // Closing writes all four records again.
  EXPECT_EQ(qv::store::GetProfileBinary(kSettings, "WindowPlacement")->size(), 176);
}

TEST_F(ConsoleTest, ShortPlacementRecordsAreIgnored) {
  QPoint defaultPos;
  {
    CQuorvixDlg& probe = Open();
    defaultPos = probe.frameGeometry().topLeft();
    Close();
  }
  // 30 bytes: not even the main record.
  qv::store::WriteProfileBinary(kSettings, "WindowPlacement",
                                Placement(111, 222, 500, 500, SW_SHOWNORMAL).left(30));
  {
    CQuorvixDlg& dlg = Open();
    EXPECT_EQ(dlg.frameGeometry().topLeft(), defaultPos);
    Close();
  }
  // 44 bytes plus part of a second record: the main dialog only.
  qv::store::WriteProfileBinary(kSettings, "WindowPlacement",
                                Placement(111, 222, 500, 500, SW_SHOWNORMAL) +
                                    Placement(5, 5, 9, 9, 1).left(20));
  CQuorvixDlg& dlg = Open();
  EXPECT_EQ(dlg.frameGeometry().topLeft(), QPoint(111, 222));
  EXPECT_NE(dlg.StatesPanel()->frameGeometry().topLeft(), QPoint(5, 5));
}

TEST_F(ConsoleTest, DamagedFontRecordFallsBackToTheLogsFont) {
  qv::store::WriteProfileBinary(kSettings, "ConsoleFont", QByteArray(12, '\x7f'));
  CQuorvixDlg& dlg = Open();
  EXPECT_EQ(dlg.LogFont().family(), dlg.DialogFont().family());
}

// Records of the right size that hold no placement, no font or no history entry: each is
// traced and its default used, and the console starts.
TEST_F(ConsoleTest, DamagedStoredRecordsAreTracedAndGiveTheirDefaults) {
  const auto font = [](auto change) {
    LOGFONTA lf = qv::console::LogFontFromFont(QFont(QStringLiteral("DejaVu Sans Mono")));
    change(lf);
    return qv::console::LogFontBytes(lf);
  };
  const auto placement = [](auto change) {
    WINDOWPLACEMENT wp{sizeof wp, 0, SW_SHOWNORMAL, {}, {}, {111, 222, 500, 500}};
    change(wp);
    return qv::console::PlacementBytes(wp);
  };
  const struct {
    const char* section;
    const char* entry;
    QVariant value;
    const char* trace;
  } cases[] = {
      {"Settings", "ConsoleFont", font([](LOGFONTA& lf) { std::memset(lf.lfFaceName, 'A', 32); }),
       "Stored log font is damaged"},
      {"Settings", "ConsoleFont", font([](LOGFONTA& lf) { lf.lfHeight = -5000000; }),
       "Stored log font is damaged"},
      {"Settings", "WindowPlacement", placement([](WINDOWPLACEMENT& wp) { wp.showCmd = 77; }),
       "placement 0 is damaged (unknown show command)"},
      {"Settings", "WindowPlacement",
       placement([](WINDOWPLACEMENT& wp) { wp.rcNormalPosition.right = 0; }),
       "placement 0 is damaged (empty rectangle)"},
      {"Settings", "WindowPlacement",
       placement([](WINDOWPLACEMENT& wp) { wp.rcNormalPosition.bottom = 0x7FFFFFFF; }),
       "placement 0 is damaged (larger than any window)"},
      {"SendMRU", "0", QString(40000, QLatin1Char('x')), "SendMRU/0 is too long"},
      {"SendMRU", "0", QStringLiteral("AT\r\nATZ"), "SendMRU/0 is not one line"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.trace);
    qv::store::RemoveProfileEntry(kSettings, "ConsoleFont");
    qv::store::RemoveProfileEntry(kSettings, "WindowPlacement");
    qv::store::RemoveProfileEntry("SendMRU", "0");
    if (c.value.typeId() == QMetaType::QByteArray)
      qv::store::WriteProfileBinary(c.section, c.entry, c.value.toByteArray());
    else qv::store::WriteProfileString(c.section, c.entry, c.value.toString());
    qv::sync::ClearDebugOutputCapture();
    CQuorvixDlg& dlg = Open();
    EXPECT_NE(qv::sync::DebugOutputCaptured().find(c.trace), std::string::npos)
        << qv::sync::DebugOutputCaptured();
    EXPECT_EQ(dlg.LogFont().family(), dlg.DialogFont().family());
    EXPECT_NE(dlg.frameGeometry().topLeft(), QPoint(111, 222));
    EXPECT_EQ(dlg.Item<QComboBox>(IDC_SENDLINE_TEXT)->count(), 0);
    Close();
  }
}

TEST(LogFontRecord, RoundTripsTheFont) {
  QFont font(QStringLiteral("DejaVu Sans Mono"));
  font.setPointSize(11);
  font.setBold(true);
  font.setItalic(true);
  const LOGFONTA lf = qv::console::LogFontFromFont(font);
  EXPECT_LT(lf.lfHeight, 0);
  EXPECT_EQ(lf.lfWeight, FW_BOLD);
  EXPECT_EQ(lf.lfItalic, 1);
  EXPECT_STREQ(lf.lfFaceName, "DejaVu Sans Mono");
  const QFont back = qv::console::FontFromLogFont(lf);
  EXPECT_EQ(back.family(), font.family());
  EXPECT_EQ(back.pointSize(), 11);
  EXPECT_TRUE(back.bold());
  EXPECT_TRUE(back.italic());
  // A face name that fills the record without a terminator is cut, not over-read.
  LOGFONTA full = lf;
  std::memset(full.lfFaceName, 'A', sizeof full.lfFaceName);
  EXPECT_EQ(qv::console::FontFromLogFont(full).family().size(), 32);
  EXPECT_FALSE(qv::console::LogFontFromBytes(QByteArray(59, 0)).has_value());
}

TEST_F(ConsoleTest, ResizingStretchesTheLogAndMovesTheRightColumn) {
  CQuorvixDlg& dlg = Open();
  ASSERT_TRUE(dlg.Layout().IsAttached());
  const int ids[] = {IDC_LOG,  IDC_RAWFILE_GROUP, IDC_SENDLINE_TEXT, IDC_OPENTAPI,
                     IDC_HEXA, IDC_SENDLINE,      IDC_PORT};
  std::map<int, QRect> before;
  for (int id : ids) before[id] = dlg.GetDlgItem(id)->geometry();
  dlg.resize(dlg.size() + QSize(40, 30));
  QCoreApplication::processEvents();
  auto after = [&](int id) { return dlg.GetDlgItem(id)->geometry(); };
  EXPECT_EQ(after(IDC_LOG), before[IDC_LOG].adjusted(0, 0, 40, 30));
  EXPECT_EQ(after(IDC_RAWFILE_GROUP), before[IDC_RAWFILE_GROUP].translated(40, 30));
  EXPECT_EQ(after(IDC_SENDLINE_TEXT), before[IDC_SENDLINE_TEXT].adjusted(0, 30, 40, 30));
  EXPECT_EQ(after(IDC_SENDLINE), before[IDC_SENDLINE].translated(40, 30));
  EXPECT_EQ(after(IDC_OPENTAPI), before[IDC_OPENTAPI].translated(40, 0));
  EXPECT_EQ(after(IDC_HEXA), before[IDC_HEXA].translated(40, 0));
  EXPECT_EQ(after(IDC_PORT), before[IDC_PORT]);
  // Never lower than the template.
  EXPECT_GE(dlg.minimumHeight(), before[IDC_SENDLINE_TEXT].bottom());
}

TEST_F(ConsoleTest, EscapeEndsTheModalConsoleAndSavesTheSettings) {
  int result = -1;
  {
    CQuorvixDlg dlg(QStringLiteral("1.00"));
    QTimer::singleShot(0, &dlg, [&dlg] {
      dlg.Item<QAbstractButton>(IDC_HEXA)->click();
      QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
      QApplication::sendEvent(&dlg, &escape);
    });
    QTimer::singleShot(10000, &dlg, [&dlg] { dlg.EndDialog(-2); });  // bound
    result = dlg.DoModal();
    EXPECT_FALSE(qv::store::HasProfileEntry(kSettings, "HexMode")) << "written once, at the end";
    dlg.DestroyWindow();
  }
  EXPECT_EQ(result, IDCANCEL);
  EXPECT_EQ(qv::store::GetProfileInt(kSettings, "HexMode", -1), 1);
  EXPECT_EQ(qv::store::GetProfileBinary(kSettings, "WindowPlacement")->size(), 176);
}
