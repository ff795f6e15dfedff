// Restored window placements always end where the user can reach them: windows stored on a
// monitor that is gone, or with damaged numbers, come back on a screen with their size.
#include <QGuiApplication>
#include <QScreen>
#include <cstdint>
#include <limits>

#include "console/window_placement.h"
#include "tests/console/console_fixture.h"
#include "tools/tool_kdobj.h"
#include "tools/tool_states.h"
#include "tools/tool_tests.h"

using qv::console::OuterRectOf;
using qv::console::PlaceWithinAreas;
using qv::test::ConsoleTest;

namespace {

constexpr LONG kMax = std::numeric_limits<LONG>::max();
constexpr LONG kMin = std::numeric_limits<LONG>::min();

QByteArray Placement(LONG left, LONG top, LONG right, LONG bottom) {
  WINDOWPLACEMENT wp{};
  wp.length = sizeof wp;
  wp.showCmd = SW_SHOWNORMAL;
  wp.rcNormalPosition = RECT{left, top, right, bottom};
  return qv::console::PlacementBytes(wp);
}

bool Inside(const QRect& window, const QRect& area) { return area.contains(window); }

}  // namespace

TEST(WindowPlacement, WindowsOutOfReachArePulledOntoTheNearestScreen) {
  // A laptop panel with a bar at its top, and a second monitor to its right.
  const QRect laptop(0, 32, 1920, 1048), monitor(1920, 0, 1280, 1024);
  const QList<QRect> areas{laptop, monitor};

  // Reachable windows stay, even partly off screen.
  for (const QRect& w : {QRect(100, 100, 800, 600), QRect(-300, 500, 800, 600),
                         QRect(1500, 40, 900, 700), QRect(2900, 900, 800, 600)})
    EXPECT_EQ(PlaceWithinAreas(w, areas), w);

  // On a third monitor that was unplugged: onto the closest one, size kept, as little moved.
  EXPECT_EQ(PlaceWithinAreas(QRect(3500, 200, 800, 600), areas), QRect(2400, 200, 800, 600));
  // Far above and left of everything: the laptop's corner below its bar.
  EXPECT_EQ(PlaceWithinAreas(QRect(-5000, -4000, 640, 480), areas), QRect(0, 32, 640, 480));
  // The title bar under the laptop's bar: pulled down into the area.
  EXPECT_EQ(PlaceWithinAreas(QRect(200, 10, 640, 480), areas), QRect(200, 32, 640, 480));
  // Overlapping both, title bar above both: the screen it overlaps most.
  EXPECT_EQ(PlaceWithinAreas(QRect(1800, -100, 600, 400), areas), QRect(1920, 0, 600, 400));
  // Only a sliver of the title bar inside: out of reach.
  EXPECT_EQ(PlaceWithinAreas(QRect(-790, 300, 800, 600), areas), QRect(0, 300, 800, 600));
  // Larger than any screen: the screen's size.
  EXPECT_EQ(PlaceWithinAreas(QRect(9000, 9000, 5000, 4000), areas), monitor);
  // No screens known: nothing to fit into.
  EXPECT_EQ(PlaceWithinAreas(QRect(9000, 9000, 10, 10), {}), QRect(9000, 9000, 10, 10));
}

TEST(WindowPlacement, DamagedRectanglesNeverOverflow) {
  // A size given at the end of the range moves the corner back; a larger stored size stays.
  RECT r{kMax - 5, kMin, kMin, kMin + 10};
  qv::console::GiveOuterSize(r, QSize(800, 600), true);
  EXPECT_EQ(r.left, kMax - 800);
  EXPECT_EQ(r.right, kMax);
  EXPECT_EQ(r.top, kMin);
  EXPECT_EQ(r.bottom, kMin + 600);
  r = RECT{-100, 0, 2000, 50};
  qv::console::GiveOuterSize(r, QSize(800, 600), true);
  EXPECT_EQ(r.right, 2000);
  EXPECT_EQ(r.bottom, 600);
  qv::console::GiveOuterSize(r, QSize(300, 200), false);
  EXPECT_EQ(r.right, 200);
  EXPECT_EQ(r.bottom, 200);

  // Edges in the wrong order give the smallest window; a span over the whole range the largest.
  EXPECT_EQ(OuterRectOf(RECT{100, 200, 50, 10}), QRect(100, 200, 1, 1));
  const QRect huge = OuterRectOf(RECT{kMin, kMin, kMax, kMax});
  EXPECT_EQ(huge.size(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
  const QRect corner = OuterRectOf(RECT{kMax - 5, kMax - 5, kMax, kMax});
  EXPECT_EQ(corner, QRect(kMax - 5, kMax - 5, 5, 5));

  // At the very end of the range the right and bottom edges (left + width) still fit in int.
  for (const RECT& r : {RECT{kMax, kMax, kMax, kMax}, RECT{kMax, kMax, 0, 0}}) {
    const QRect outer = OuterRectOf(r);
    EXPECT_LE(std::int64_t(outer.x()) + outer.width(), kMax);
    EXPECT_LE(std::int64_t(outer.y()) + outer.height(), kMax);
  }

  const QList<QRect> areas{QRect(0, 0, 1024, 768)};
  EXPECT_EQ(PlaceWithinAreas(corner, areas), QRect(1019, 763, 5, 5));
  EXPECT_EQ(PlaceWithinAreas(huge, areas), areas.front());
  // A title bar on the screen does not keep a window larger than the screen.
  EXPECT_EQ(PlaceWithinAreas(QRect(10, 10, QWIDGETSIZE_MAX, QWIDGETSIZE_MAX), areas),
            areas.front());
  EXPECT_EQ(PlaceWithinAreas(QRect(10, 10, 5000, 400), areas), QRect(0, 10, 1024, 400));
}

// The console and its panels restored from placements that lie off the screen or overflow.
TEST_F(ConsoleTest, PlacementsOffTheScreenOrOverflowingComeBackOnIt) {
  QSize templateSize;
  {
    CQuorvixDlg& probe = Open();
    templateSize = probe.frameGeometry().size();
    Close();
  }
  const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
  ASSERT_TRUE(area.width() >= templateSize.width() && area.height() >= templateSize.height())
      << "this check needs a screen larger than the console";

  const struct {
    QByteArray main;
    const char* what;
    bool largerThanTheScreen = false;
  } cases[] = {
      {Placement(area.right() + 4000, area.bottom() + 3000, area.right() + 4000 + 100,
                 area.bottom() + 3000 + 100),
       "off the screen"},
      {Placement(kMax - 10, kMax - 10, kMin, kMin), "overflowing"},
      {Placement(kMin, kMin, kMin + 10, kMin + 10), "at the low end"},
      {Placement(area.x(), area.y(), area.x() + 5000, area.y() + 4000), "5000 x 4000", true},
      {Placement(area.x() + 10, area.y() + 10, area.x() + 10 + QWIDGETSIZE_MAX,
                 area.y() + 10 + QWIDGETSIZE_MAX),
       "16777215 x 16777215", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    QByteArray block = c.main;
    block += Placement(-20000, -20000, -19990, -19990);
    block += Placement(kMax, kMax, kMax, kMax);
    block += Placement(kMin + 1, 0, kMax, 10);
    qv::store::WriteProfileBinary(QStringLiteral("Settings"), QStringLiteral("WindowPlacement"),
                                  block);
    qv::store::WriteProfileInt(QStringLiteral("Settings"), QStringLiteral("VisibleTools"), 7);
    CQuorvixDlg& dlg = Open();
    EXPECT_TRUE(Inside(dlg.frameGeometry(), area))
        << dlg.frameGeometry().x() << "," << dlg.frameGeometry().y();
    EXPECT_EQ(dlg.frameGeometry().size(), c.largerThanTheScreen ? area.size() : templateSize)
        << "never smaller than the template, never larger than the screen";
    for (QWidget* panel :
         {static_cast<QWidget*>(dlg.TestsPanel()), static_cast<QWidget*>(dlg.StatesPanel()),
          static_cast<QWidget*>(dlg.KdobjPanel())}) {
      EXPECT_TRUE(panel->isVisible());
      EXPECT_TRUE(Inside(panel->frameGeometry(), area)) << panel->windowTitle().toStdString();
    }
    Close();
  }
}
