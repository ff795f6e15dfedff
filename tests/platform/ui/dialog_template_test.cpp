// Template-built dialogs: controls in template order with their ids, dialog units, handlers by id,
// Win32 button behaviour, commands posted from other threads.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <thread>

#include "platform/ui/qt/dialog_template.h"

using qv::ui::Control;
using qv::ui::DialogTemplate;
using qv::ui::TemplateDialog;

namespace {

DialogTemplate SampleTemplate() {
  DialogTemplate t;
  t.id = 500;
  t.caption = "Sample";
  t.cx = 200;
  t.cy = 100;
  t.controls = {
      Control(IDC_STATIC, "STATIC", "&Name:", SS_LEFT, 4, 4, 30, 8),
      Control(10, "EDIT", "abc", ES_AUTOHSCROLL | WS_TABSTOP, 40, 4, 80, 12),
      Control(11, "BUTTON", "Auto", BS_AUTOCHECKBOX, 4, 20, 50, 10),
      Control(12, "BUTTON", "Manual", BS_CHECKBOX, 4, 32, 50, 10),
      Control(13, "BUTTON", "Toggle", BS_AUTOCHECKBOX | BS_PUSHLIKE, 60, 20, 50, 14),
      Control(14, "BUTTON", "Group", BS_GROUPBOX, 120, 20, 70, 50),
      Control(15, "BUTTON", "One", BS_AUTORADIOBUTTON | WS_GROUP, 124, 30, 40, 10),
      Control(16, "BUTTON", "Two", BS_AUTORADIOBUTTON, 124, 42, 40, 10),
      Control(17, "COMBOBOX", "", CBS_DROPDOWNLIST, 4, 50, 60, 80),
      Control(18, "BUTTON", "Go", BS_DEFPUSHBUTTON | WS_DISABLED, 4, 70, 40, 14),
      Control(19, "BUTTON", "Hidden", BS_PUSHBUTTON, 50, 70, 40, 14),
  };
  t.controls.back().style &= ~WS_VISIBLE;
  return t;
}

void PressEscape(QWidget* w) {
  QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(w, &press);
}

class Recorder : public TemplateDialog {
 public:
  using TemplateDialog::TemplateDialog;
  int inits = 0;
  int destroys = 0;

 protected:
  bool OnInitDialog() override {
    ++inits;
    return true;
  }
  void OnDestroy() override { ++destroys; }
};

}  // namespace

TEST(DialogTemplate, ControlsKeepTemplateOrderIdsAndKinds) {
  Recorder dlg(SampleTemplate());
  dlg.Create();
  EXPECT_EQ(dlg.inits, 1);
  dlg.Create();
  EXPECT_EQ(dlg.inits, 1) << "the window is made once";

  std::vector<int> ids;
  for (QObject* child : dlg.children())
    if (auto* w = qobject_cast<QWidget*>(child); w && w->property("controlId").isValid())
      ids.push_back(w->property("controlId").toInt());
  EXPECT_EQ(ids, (std::vector<int>{IDC_STATIC, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19}));

  EXPECT_NE(qobject_cast<QLineEdit*>(dlg.GetDlgItem(10)), nullptr);
  EXPECT_NE(qobject_cast<QCheckBox*>(dlg.GetDlgItem(11)), nullptr);
  auto* toggle = qobject_cast<QPushButton*>(dlg.GetDlgItem(13));
  ASSERT_NE(toggle, nullptr);
  EXPECT_TRUE(toggle->isCheckable());
  EXPECT_NE(qobject_cast<QGroupBox*>(dlg.GetDlgItem(14)), nullptr);
  EXPECT_NE(qobject_cast<QRadioButton*>(dlg.GetDlgItem(15)), nullptr);
  EXPECT_NE(qobject_cast<QComboBox*>(dlg.GetDlgItem(17)), nullptr);
  auto* go = qobject_cast<QPushButton*>(dlg.GetDlgItem(18));
  ASSERT_NE(go, nullptr);
  EXPECT_TRUE(go->isDefault());
  EXPECT_FALSE(go->isEnabled());
  EXPECT_TRUE(dlg.GetDlgItem(19)->isHidden());
  EXPECT_EQ(dlg.GetDlgItem(999), nullptr);

  // The static's "&" marks a mnemonic and is not shown.
  auto* label = qobject_cast<QLabel*>(dlg.children().at(0));
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(label->text(), "Name:");
}

TEST(DialogTemplate, DialogUnitsFollowTheDialogFont) {
  Recorder dlg(SampleTemplate());
  dlg.Create();
  const qv::ui::DialogUnits u = qv::ui::DialogUnitsFor(dlg.DialogFont());
  EXPECT_EQ(dlg.Units().baseX, u.baseX);
  EXPECT_GT(u.baseX, 0);
  EXPECT_GT(u.baseY, u.baseX);
  // Edit 10 at (40, 4), 80 by 12 dialog units.
  EXPECT_EQ(dlg.GetDlgItem(10)->geometry(),
            QRect(40 * u.baseX / 4, 4 * u.baseY / 8, 80 * u.baseX / 4, 12 * u.baseY / 8));
  EXPECT_EQ(dlg.size(), QSize(200 * u.baseX / 4, 100 * u.baseY / 8));
}

TEST(DialogTemplate, HandlersAreBoundByIdAndCode) {
  Recorder dlg(SampleTemplate());
  dlg.Create();
  std::vector<std::string> calls;
  dlg.OnCommand(11, [&] { calls.push_back("11"); });
  dlg.OnNotify(17, CBN_SELCHANGE, [&] { calls.push_back("17 selchange"); });
  dlg.OnNotify(10, EN_CHANGE, [&] { calls.push_back("10 change"); });

  qobject_cast<QCheckBox*>(dlg.GetDlgItem(11))->click();
  auto* combo = qobject_cast<QComboBox*>(dlg.GetDlgItem(17));
  combo->addItems({"a", "b"});
  emit combo->activated(1);
  dlg.SetDlgItemText(10, "xyz");
  EXPECT_EQ(calls, (std::vector<std::string>{"11", "17 selchange", "10 change"}));
  EXPECT_FALSE(dlg.SendCommand(12)) << "nothing bound to 12";
}

TEST(DialogTemplate, CheckBoxesBehaveLikeWin32Ones) {
  Recorder dlg(SampleTemplate());
  dlg.Create();
  auto* automatic = qobject_cast<QCheckBox*>(dlg.GetDlgItem(11));
  auto* manual = qobject_cast<QCheckBox*>(dlg.GetDlgItem(12));
  int manualClicks = 0;
  dlg.OnCommand(12, [&] { ++manualClicks; });
  automatic->click();
  manual->click();
  EXPECT_EQ(dlg.IsDlgButtonChecked(11), BST_CHECKED);
  EXPECT_EQ(dlg.IsDlgButtonChecked(12), BST_UNCHECKED)
      << "a non-automatic box changes only when set";
  EXPECT_EQ(manualClicks, 1) << "but its click is still reported";
  dlg.CheckDlgButton(12, BST_CHECKED);
  EXPECT_EQ(dlg.IsDlgButtonChecked(12), BST_CHECKED);
  dlg.CheckDlgButton(13, BST_CHECKED);
  EXPECT_EQ(dlg.IsDlgButtonChecked(13), BST_CHECKED);

  // Radio buttons of one WS_GROUP run exclude each other.
  qobject_cast<QRadioButton*>(dlg.GetDlgItem(15))->click();
  qobject_cast<QRadioButton*>(dlg.GetDlgItem(16))->click();
  EXPECT_EQ(dlg.IsDlgButtonChecked(15), BST_UNCHECKED);
  EXPECT_EQ(dlg.IsDlgButtonChecked(16), BST_CHECKED);
}

TEST(DialogTemplate, TextAndIntegersById) {
  Recorder dlg(SampleTemplate());
  dlg.Create();
  dlg.SetDlgItemInt(10, 4096);
  bool ok = false;
  EXPECT_EQ(dlg.GetDlgItemInt(10, &ok), 4096);
  EXPECT_TRUE(ok);
  dlg.SetDlgItemText(14, "Other group");
  EXPECT_EQ(dlg.GetDlgItemText(14), "Other group");
  dlg.EnableDlgItem(18, true);
  EXPECT_TRUE(dlg.GetDlgItem(18)->isEnabled());
}

TEST(DialogTemplate, PostedCommandsRunLaterOnTheDialogsThread) {
  Recorder dlg(SampleTemplate());
  dlg.Create();
  std::vector<int> order;
  std::thread::id ranOn;
  dlg.OnCommand(18, [&] {
    order.push_back(18);
    ranOn = std::this_thread::get_id();
  });
  dlg.OnMessage(WM_APP + 1, [&](WPARAM w, LPARAM l) {
    order.push_back(int(w + l));
    return LPARAM(0);
  });
  std::thread worker([&] {
    dlg.PostCommand(18);
    dlg.PostMessage(WM_APP + 1, 40, 2);
  });
  worker.join();
  EXPECT_TRUE(order.empty()) << "posting never runs the handler at once";
  QElapsedTimer timer;
  timer.start();
  while (order.size() < 2 && timer.elapsed() < 5000) QCoreApplication::processEvents();
  EXPECT_EQ(order, (std::vector<int>{18, 42}));
  EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(DialogTemplate, EscapeEndsTheDialogAndDestroyRunsOnce) {
  Recorder dlg(SampleTemplate());
  dlg.Create();
  dlg.show();
  int result = -1;
  QObject::connect(&dlg, &QDialog::finished, [&](int r) { result = r; });
  PressEscape(&dlg);
  EXPECT_EQ(result, IDCANCEL);
  dlg.DestroyWindow();
  dlg.DestroyWindow();
  EXPECT_EQ(dlg.destroys, 1);
  EXPECT_TRUE(dlg.IsDestroyed());
}

TEST(DialogTemplate, BoundCancelReplacesTheDefault) {
  Recorder dlg(SampleTemplate());
  dlg.Create();
  dlg.show();
  int cancels = 0;
  dlg.OnCommand(IDCANCEL, [&] { ++cancels; });
  PressEscape(&dlg);
  EXPECT_EQ(cancels, 1);
  EXPECT_TRUE(dlg.isVisible());
}
