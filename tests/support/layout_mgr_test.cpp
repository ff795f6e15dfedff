// The layout manager on a dialog laid out like the console: which children move or stretch, the
// size limits, minimising, and the round trip of a grow and a shrink.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSizeGrip>
#include <QStyle>
#include <map>
#include <memory>

#include "support/layout_mgr.h"

namespace {

// Children in template order with their control ids, positions in pixels.
struct Dialog {
  std::unique_ptr<QDialog> window;
  QWidget* Control(int id) const { return LayoutMgr::FindControl(window.get(), id); }
};

QWidget* AddControl(QWidget* parent, QWidget* control, int id, QRect rect) {
  control->setParent(parent);
  control->setProperty("controlId", id);
  control->setGeometry(rect);
  return control;
}

// The console's shape: a port combo at the top that ends where the log ends, the log 1018, a
// column of buttons right of the log, the "Raw file send" group 1055 below the log with a field
// that reaches across the log's right edge, and a check box under the group.
Dialog MakeConsoleLikeDialog(bool show = true) {
  Dialog d;
  d.window = std::make_unique<QDialog>();
  QWidget* w = d.window.get();
  AddControl(w, new QComboBox, 1000, QRect(10, 10, 300, 22));        // right edge = split X
  AddControl(w, new QPlainTextEdit, 1018, QRect(10, 40, 300, 210));  // the log, down to the group
  AddControl(w, new QPushButton("Open"), 1001, QRect(310, 40, 80, 24));  // left edge = split X
  AddControl(w, new QPushButton("Clear log"), 1022, QRect(320, 80, 80, 24));
  AddControl(w, new QGroupBox("Raw file send"), 1055, QRect(10, 250, 420, 80));
  AddControl(w, new QComboBox, 1016, QRect(20, 270, 360, 22));  // straddles X, below split Y
  AddControl(w, new QPushButton("Send"), 1026, QRect(390, 300, 40, 24));
  // A tool panel owned by the dialog is a separate window, not one of its children.
  auto* panel = new QWidget(w, Qt::Tool);
  panel->setGeometry(600, 0, 100, 100);
  panel->setProperty("controlId", 5000);
  w->resize(450, 350);
  if (show) {
    w->show();
    QApplication::processEvents();
  }
  return d;
}

void ResizeTo(QWidget* w, int width, int height) {
  w->resize(width, height);
  QApplication::processEvents();
}

std::map<int, QRect> Rects(const Dialog& d) {
  std::map<int, QRect> rects;
  for (int id : {1000, 1018, 1001, 1022, 1055, 1016, 1026}) rects[id] = d.Control(id)->geometry();
  return rects;
}

// Outer minus client size (the offscreen platform draws a thin frame).
QSize Frame(QWidget* w) { return w->frameGeometry().size() - w->size(); }

int ScrollRoom(QWidget* w) {
  QStyle* style = w->style();
  return 2 * style->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, w) +
         style->pixelMetric(QStyle::PM_ScrollBarSliderMin, nullptr, w);
}

TEST(LayoutMgr, SortsChildrenBySplitLinesAndMovesOrStretchesThemOnResize) {
  Dialog d = MakeConsoleLikeDialog();
  LayoutMgr layout;
  layout.Attach(d.window.get(), 1018, 1055, 0x241);
  EXPECT_EQ(layout.SplitX(), 310);  // right edge of the log
  EXPECT_EQ(layout.SplitY(), 250);  // top edge of the group

  auto flags = [&](int id) { return d.Control(id)->property("LayoutMgr_flags").toInt(); };
  EXPECT_EQ(flags(1000), LayoutMgr::kReachX);  // right edge on split X: stretches
  EXPECT_EQ(flags(1018), LayoutMgr::kReachX | LayoutMgr::kReachY);
  EXPECT_EQ(flags(1001), LayoutMgr::kMoveX | LayoutMgr::kReachX);  // left edge on split X: moves
  EXPECT_EQ(flags(1055), LayoutMgr::kReachX | LayoutMgr::kMoveY | LayoutMgr::kReachY);
  EXPECT_EQ(layout.Window()->property("LayoutMgr").value<void*>(), static_cast<void*>(&layout));

  const auto before = Rects(d);
  ResizeTo(d.window.get(), 450 + 40, 350 + 25);
  const auto after = Rects(d);
  EXPECT_EQ(after.at(1000), before.at(1000).adjusted(0, 0, 40, 0));
  EXPECT_EQ(after.at(1018), before.at(1018).adjusted(0, 0, 40, 25));
  EXPECT_EQ(after.at(1001), before.at(1001).translated(40, 0));
  EXPECT_EQ(after.at(1022), before.at(1022).translated(40, 0));
  EXPECT_EQ(after.at(1055), before.at(1055).translated(0, 25).adjusted(0, 0, 40, 0));
  EXPECT_EQ(after.at(1016), before.at(1016).translated(0, 25).adjusted(0, 0, 40, 0));
  EXPECT_EQ(after.at(1026), before.at(1026).translated(40, 25));
}

TEST(LayoutMgr, AttachedBeforeTheWindowIsShown) {
  // The dialog's initialisation runs before the window appears.
  Dialog d = MakeConsoleLikeDialog(false);
  QWidget* w = d.window.get();
  LayoutMgr layout;
  layout.Attach(w, 1018, 1055, 0x241);
  const auto before = Rects(d);
  w->show();
  QApplication::processEvents();
  EXPECT_EQ(Rects(d), before);
  ResizeTo(w, 470, 350);
  EXPECT_EQ(d.Control(1026)->geometry(), before.at(1026).translated(20, 0));
  ResizeTo(w, 470, 300);
  EXPECT_EQ(w->height(), 350);
}

TEST(LayoutMgr, ChildBeforeBothSplitLinesNeverChanges) {
  auto window = std::make_unique<QDialog>();
  QWidget* w = window.get();
  QWidget* fixed = AddControl(w, new QPushButton("a"), 1, QRect(5, 5, 50, 20));
  AddControl(w, new QPushButton("x"), 2, QRect(100, 100, 50, 20));
  w->resize(300, 200);
  w->show();
  QApplication::processEvents();
  LayoutMgr layout;
  layout.Attach(w, 2, 2, 0x100 | 0x200);  // split lines on the left and top edges of control 2
  EXPECT_FALSE(fixed->property("LayoutMgr_flags").isValid());
  ResizeTo(w, 380, 260);
  ResizeTo(w, 320, 230);
  EXPECT_EQ(fixed->geometry(), QRect(5, 5, 50, 20));
  EXPECT_EQ(LayoutMgr::FindControl(w, 2)->geometry(), QRect(120, 130, 50, 20));
}

TEST(LayoutMgr, ConsoleOptionsKeepTheHeightAndLetTheWidthShrinkByTheNarrowestStraddlingChild) {
  Dialog d = MakeConsoleLikeDialog();
  QWidget* w = d.window.get();
  LayoutMgr layout;
  layout.Attach(w, 1018, 1055, 0x241);
  // Straddling split X: combo 1000 (300), log (300), group (420), field 1016 (360): narrowest 300.
  EXPECT_EQ(layout.MinTrackWidth(), 450 - 300 + ScrollRoom(w) + Frame(w).width());
  EXPECT_EQ(layout.MinTrackHeight(), 350 + Frame(w).height());
  EXPECT_EQ(layout.MaxTrackWidth(), 0x7FFFFFFF);
  EXPECT_EQ(layout.MaxTrackHeight(), 0x7FFFFFFF);

  ResizeTo(w, 1, 1);
  EXPECT_EQ(w->size(), QSize(450 - 300 + ScrollRoom(w), 350));
  // At the minimum width the narrowest straddling child has just its scroll-bar room left.
  EXPECT_EQ(d.Control(1000)->width(), ScrollRoom(w));

  ASSERT_NE(layout.SizeGrip(), nullptr);
  ResizeTo(w, 500, 400);
  const QRect grip = layout.SizeGrip()->geometry();
  EXPECT_EQ(grip.right() + 1, 500);  // the grip stays in the bottom-right corner
  EXPECT_EQ(grip.bottom() + 1, 400);
}

TEST(LayoutMgr, FixedMaximumAndMinimumOptionsBoundTheWindow) {
  Dialog d = MakeConsoleLikeDialog();
  QWidget* w = d.window.get();
  LayoutMgr layout;
  layout.Attach(w, -1, -1, 0x10 | 0x20 | 0x40 | 0x80);
  EXPECT_EQ(layout.SplitX(), 225);  // middle of the client area
  EXPECT_EQ(layout.SplitY(), 175);
  ResizeTo(w, 900, 900);
  EXPECT_EQ(w->size(), QSize(450, 350));
  ResizeTo(w, 10, 10);
  EXPECT_EQ(w->size(), QSize(450, 350));
}

TEST(LayoutMgr, AfterMinimisingTheFirstSizeChangeOnlyRecordsTheSize) {
  Dialog d = MakeConsoleLikeDialog();
  QWidget* w = d.window.get();
  LayoutMgr layout;
  layout.Attach(w, 1018, 1055, 0x241);
  const auto before = Rects(d);
  w->showMinimized();
  QApplication::processEvents();
  EXPECT_EQ(layout.RecordedClientSize(), QSize(0, 0));
  ResizeTo(w, 520, 390);  // while minimised
  EXPECT_EQ(layout.RecordedClientSize(), QSize(0, 0));
  w->showNormal();
  QApplication::processEvents();
  EXPECT_EQ(w->size(), QSize(520, 390));
  EXPECT_EQ(Rects(d), before);  // nothing moved: the change from 0 by 0 is not a growth
  EXPECT_EQ(layout.RecordedClientSize(), QSize(520, 390));
  // Later changes move the children again, relative to the recorded size.
  ResizeTo(w, 530, 390);
  EXPECT_EQ(d.Control(1001)->geometry(), before.at(1001).translated(10, 0));
}

TEST(LayoutMgr, GrowingAndShrinkingBackReturnsEveryControlToItsFirstRectangle) {
  Dialog d = MakeConsoleLikeDialog();
  QWidget* w = d.window.get();
  LayoutMgr layout;
  layout.Attach(w, 1018, 1055, 0x241);
  const auto before = Rects(d);
  ResizeTo(w, 480, 380);
  EXPECT_NE(Rects(d), before);
  ResizeTo(w, 450, 350);
  EXPECT_EQ(Rects(d), before);
  // Narrower than the start and back, too (the height cannot go below its start).
  ResizeTo(w, 420, 350);
  ResizeTo(w, 450, 350);
  EXPECT_EQ(Rects(d), before);
}

TEST(LayoutMgr, NoSplitLineMeansNothingMovesThatWayAndThePlatformMinimumApplies) {
  Dialog d = MakeConsoleLikeDialog();
  QWidget* w = d.window.get();
  w->setMinimumSize(120, 90);  // the window's own minimum
  LayoutMgr layout;
  layout.Attach(w, 0, 1055, 0x200);
  EXPECT_EQ(layout.SplitX(), LayoutMgr::kNoSplit);
  EXPECT_LT(layout.MinTrackWidth(), -1000000);
  EXPECT_EQ(w->minimumWidth(), 120);
  for (int id : {1000, 1018, 1001, 1022, 1055, 1016, 1026})
    EXPECT_EQ(d.Control(id)->property("LayoutMgr_flags").toInt() &
                  (LayoutMgr::kMoveX | LayoutMgr::kReachX),
              0)
        << id;
  const auto before = Rects(d);
  ResizeTo(w, 600, 380);
  const auto after = Rects(d);
  for (const auto& [id, rect] : before) {
    EXPECT_EQ(after.at(id).x(), rect.x()) << id;
    EXPECT_EQ(after.at(id).width(), rect.width()) << id;
  }
  EXPECT_EQ(after.at(1026).y(), before.at(1026).y() + 30);
  ResizeTo(w, 1, 400);
  EXPECT_EQ(w->width(), 120);
}

TEST(LayoutMgr, LeavesSeparateWindowsAloneAndDetachesWhenDestroyed) {
  Dialog d = MakeConsoleLikeDialog();
  QWidget* w = d.window.get();
  QWidget* panel = nullptr;
  for (QObject* o : w->children())
    if (auto* widget = qobject_cast<QWidget*>(o); widget && widget->isWindow()) panel = widget;
  ASSERT_NE(panel, nullptr);
  EXPECT_EQ(LayoutMgr::FindControl(w, 5000), nullptr);
  {
    LayoutMgr layout;
    layout.Attach(w, 1018, 1055, 0x241);
    EXPECT_FALSE(panel->property("LayoutMgr_flags").isValid());
    ResizeTo(w, 500, 400);
    EXPECT_EQ(panel->geometry(), QRect(600, 0, 100, 100));
  }
  // The manager is gone: properties and limits with it, and resizing moves nothing any more.
  EXPECT_FALSE(w->property("LayoutMgr").isValid());
  EXPECT_FALSE(d.Control(1001)->property("LayoutMgr_flags").isValid());
  const QRect button = d.Control(1001)->geometry();
  ResizeTo(w, 300, 200);
  EXPECT_EQ(w->size(), QSize(300, 200));
  EXPECT_EQ(d.Control(1001)->geometry(), button);

  // A window destroyed first detaches its manager.
  LayoutMgr second;
  second.Attach(w, 1018, 1055, 0);
  d.window.reset();
  EXPECT_FALSE(second.IsAttached());
}

}  // namespace
