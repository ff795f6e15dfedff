// The capture from the log view's context menu, on the loop-back plug: what the console sends
// and receives, an RTS click in the states panel, a speed change and an unplug and plug all land
// in the file; a file that cannot be written is said in a box while the port runs on.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QMenu>
#include <QTemporaryDir>
#include <QTimer>
#include <fstream>
#include <sstream>

#include "capture/capture_writer.h"
#include "support/mru_combo_box.h"
#include "tests/console/pnp_fixture.h"
#include "tools/states/states_controls.h"
#include "tools/tool_states.h"

namespace qv::test {
namespace {

class CaptureConsoleTest : public PnpTest {
 protected:
  void TearDown() override {
    qv::capture::LineCapture().Stop();
    PnpTest::TearDown();
  }
  // Opens the log view's context menu and picks the entry; false when it is not there or
  // disabled (the menu is closed then).
  bool PickFromLogMenu(const QString& text) {
    bool picked = false;
    QTimer::singleShot(0, [&] {
      auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      if (menu == nullptr) return;

      QAction* chosen = nullptr;
      for (QAction* action : menu->actions())
        if (action->text() == text && action->isEnabled()) chosen = action;
      menu->close();
      if (chosen != nullptr) {
        chosen->trigger();
        picked = true;
      }
    });
    // A right click lands on the view's viewport, as the mouse's would.
    QWidget* viewport = Dlg().Log()->viewport();
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                            viewport->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(viewport, &event);
    return picked;
  }
  static std::string FileText(const QString& path) {
    std::ifstream file(path.toStdString(), std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  }
  bool WaitForInFile(const QString& path, const std::string& text) {
    return WaitUntil([&] { return FileText(path).find(text) != std::string::npos; });
  }
};

TEST_F(CaptureConsoleTest, StartedFromTheLogMenuItRecordsTheLineUntilStopped) {
  Open();
  TypePort(QStringLiteral("\\\\.\\vloop0"));
  Toggle();
  ASSERT_TRUE(IsOpen());
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("line.txt"));
  EXPECT_FALSE(PickFromLogMenu(QStringLiteral("St&op capture"))) << "nothing to stop yet";
  dialogs_.AcceptFile(path);
  ASSERT_TRUE(PickFromLogMenu(QStringLiteral("Start capt&ure...")));
  EXPECT_TRUE(Dlg().windowTitle().endsWith(QStringLiteral(" - capturing to ") + path))
      << Dlg().windowTitle().toStdString();
  EXPECT_FALSE(PickFromLogMenu(QStringLiteral("Start capt&ure..."))) << "one capture at a time";
  EXPECT_EQ(FileText(path).rfind("quor_vix-capture 1 start=", 0), 0u);
  EXPECT_NE(FileText(path).find(" port=\\\\.\\vloop0 settings=9600 8N1 "), std::string::npos)
      << FileText(path);

  const QString logBefore = Dlg().Log()->Text();
  Dlg().SendLineCombo()->setEditText(QStringLiteral("AT"));
  Dlg().SendCommand(IDC_SENDLINE);
  EXPECT_TRUE(WaitForInFile(path, " TX 2 41 54 |AT| line\n"));
  EXPECT_TRUE(WaitForInFile(path, " TX 2 0D 0A |..| line\n"));
  // The loop-back plug's echo, in one chunk or more.
  EXPECT_TRUE(WaitUntil([&] {
    const std::string text = FileText(path);
    return text.find(" RX 4 41 54 0D 0A |AT..|\n") != std::string::npos ||
           text.find(" RX 2 41 54 |AT|\n") != std::string::npos;
  })) << FileText(path);

  // RTS comes back as CTS on the plug; the states panel's poll sees it change.
  auto* rts = Dlg().StatesPanel()->GetDlgItem(qv::states::IDC_RTS);
  ASSERT_NE(rts, nullptr);
  static_cast<QAbstractButton*>(rts)->click();
  EXPECT_TRUE(WaitForInFile(path, " MODEM 0 || CTS=")) << FileText(path);

  auto* speed = Dlg().Item<QComboBox>(IDC_SPEED);
  // As a choice from the list: the index changes, then the combo says it was activated.
  const int index = speed->findText(QStringLiteral("19200 bps"));
  ASSERT_GE(index, 0);
  speed->setCurrentIndex(index);
  emit speed->activated(index);
  EXPECT_TRUE(WaitForInFile(path, " CONFIG 0 || 19200 8N1 ")) << FileText(path);

  // The engine reports the requests that the unplug fails, as it always does.
  boxes_.onUnanswered = nullptr;

  ASSERT_TRUE(qv::comm::UnplugVirtualPort("vloop0"));
  EXPECT_TRUE(WaitForInFile(path, " REMOVAL 0 || vloop0\n")) << FileText(path);
  ASSERT_TRUE(qv::comm::PlugVirtualPort("vloop0"));
  EXPECT_TRUE(WaitForInFile(path, " ARRIVAL 0 || vloop0\n")) << FileText(path);

  ASSERT_TRUE(PickFromLogMenu(QStringLiteral("St&op capture")));
  EXPECT_FALSE(Dlg().windowTitle().contains(QStringLiteral("capturing")));
  const std::string text = FileText(path);
  EXPECT_NE(text.find(" STOP 0 || events="), std::string::npos) << text;
  EXPECT_EQ(text.back(), '\n');
  // The log view got what it always gets: the capture is beside it, not in it.
  EXPECT_TRUE(Dlg().Log()->Text().startsWith(logBefore));
  EXPECT_EQ(Dlg().Log()->Text().indexOf(QStringLiteral("TX 2")), -1);
}

TEST_F(CaptureConsoleTest, AFileThatCannotBeWrittenIsSaidInABoxAndThePortRunsOn) {
  Open();
  TypePort(QStringLiteral("\\\\.\\vloop0"));
  Toggle();
  ASSERT_TRUE(IsOpen());
  const struct {
    QString path;
    const char* reason;
  } cases[] = {
      {QStringLiteral("/nonexistent-folder-of-the-capture/c.txt"), "cannot create the capture"},
      {QStringLiteral("/dev/full"), "No space left on device"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reason);
    boxes_.Clear();
    boxes_.Answer(IDOK);
    dialogs_.AcceptFile(c.path);
    ASSERT_TRUE(PickFromLogMenu(QStringLiteral("Start capt&ure...")));
    ASSERT_EQ(boxes_.Count(), 1u);
    const std::string box = boxes_.Texts()[0];
    EXPECT_EQ(box.rfind("The capture cannot start:", 0), 0u) << box;
    EXPECT_NE(box.find(c.reason), std::string::npos) << box;
    EXPECT_FALSE(qv::capture::LineCapture().Running());
    EXPECT_FALSE(Dlg().windowTitle().contains(QStringLiteral("capturing")));
    EXPECT_TRUE(IsOpen());
  }
  // The port still carries data to the log.
  Dlg().Log()->Clear();
  Dlg().SendLineCombo()->setEditText(QStringLiteral("ATZ"));
  Dlg().SendCommand(IDC_SENDLINE);
  EXPECT_TRUE(WaitUntil([&] { return Dlg().Log()->Text().contains(QStringLiteral("ATZ")); }));
}

}  // namespace
}  // namespace qv::test
