#include "console/window_placement.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>

#include "platform/sync/debug_output.h"

namespace {

// A top-level window that is not shown yet has no frame, so its outer size is not known. The
// stored outer size is remembered and the client size corrected once the frame exists, so that
// a window does not grow by its frame from one run to the next.
class PendingOuterSize : public QObject {
 public:
  PendingOuterSize(QWidget* window, QSize outer) : QObject(window), window_(window), outer_(outer) {
    window->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == window_ && event->type() == QEvent::Show) {
      QPointer<PendingOuterSize> self(this);
      // The frame extents arrive from the window manager shortly after the window is mapped.
      for (int delay : {0, 200})
        QTimer::singleShot(delay, this, [self] {
          if (self) self->Correct();
        });
    }
    return false;
  }

 private:
  void Correct() {
    if (!window_ || window_->isMaximized() || window_->isMinimized()) return;
    const QSize frame = window_->frameGeometry().size() - window_->geometry().size();
    if (frame.isEmpty() || frame == QSize(0, 0)) return;
    window_->resize(outer_ - frame);
    window_->removeEventFilter(this);
    deleteLater();
  }

  QPointer<QWidget> window_;
  QSize outer_;
};

}  // namespace

BOOL GetWindowPlacement(QWidget* window, WINDOWPLACEMENT* placement) {
  if (window == nullptr || placement == nullptr) return FALSE;
  *placement = WINDOWPLACEMENT{};
  placement->length = sizeof(WINDOWPLACEMENT);
  placement->showCmd = window->isMinimized()   ? SW_SHOWMINIMIZED
                       : window->isMaximized() ? SW_SHOWMAXIMIZED
                                               : SW_SHOWNORMAL;
  placement->ptMinPosition = POINT{-1, -1};
  placement->ptMaxPosition = POINT{-1, -1};
  const QRect frame = window->frameGeometry();
  const QRect client = window->geometry();
  QRect outer = frame;
  if (window->isMinimized() || window->isMaximized()) {
    // normalGeometry is a client rectangle: add the frame the window has now.
    const QRect normal = window->normalGeometry();
    outer = QRect(normal.topLeft() - (client.topLeft() - frame.topLeft()),
                  normal.size() + (frame.size() - client.size()));
  }
  placement->rcNormalPosition =
      RECT{outer.left(), outer.top(), outer.left() + outer.width(), outer.top() + outer.height()};
  return TRUE;
}

BOOL SetWindowPlacement(QWidget* window, const WINDOWPLACEMENT* placement) {
  if (window == nullptr || placement == nullptr || placement->length != sizeof(WINDOWPLACEMENT))
    return FALSE;
  const QRect rect =
      qv::console::PlaceOnScreens(qv::console::OuterRectOf(placement->rcNormalPosition));
  const QSize outer = rect.size();
  const QSize frame = qv::console::FrameExtra(window);
  if (window->isMaximized() || window->isMinimized()) window->showNormal();
  window->move(rect.topLeft());  // a top-level window's position is that of its frame
  window->resize(outer - frame);
  if (!window->isVisible() && frame == QSize(0, 0)) new PendingOuterSize(window, outer);
  switch (placement->showCmd) {
    case SW_HIDE: window->hide(); break;
    case SW_SHOWMINIMIZED: window->showMinimized(); break;
    case SW_SHOWMAXIMIZED: window->showMaximized(); break;
    default: window->showNormal(); break;
  }
  return TRUE;
}

namespace qv::console {

QSize FrameExtra(QWidget* window) {
  if (window->isVisible()) return window->frameGeometry().size() - window->geometry().size();
  window->winId();  // creates the platform window, which may know its frame already
  if (QWindow* handle = window->windowHandle()) {
    const QMargins m = handle->frameMargins();
    return QSize(m.left() + m.right(), m.top() + m.bottom());
  }
  return QSize(0, 0);
}

QSize OuterSize(QWidget* window) { return window->size() + FrameExtra(window); }

namespace {

// Enough of a title bar to take hold of it.
constexpr int kGrip = 48;

std::int64_t Overlap(std::int64_t a0, std::int64_t a1, std::int64_t b0, std::int64_t b1) {
  return std::max<std::int64_t>(0, std::min(a1, b1) - std::max(a0, b0));
}

// 64-bit edges: a rectangle near the end of the coordinate range has edges beyond it.
struct Edges {
  std::int64_t left, top, right, bottom;
  explicit Edges(const QRect& r)
      : left(r.x()),
        top(r.y()),
        right(std::int64_t(r.x()) + r.width()),
        bottom(std::int64_t(r.y()) + r.height()) {}
};

bool Reachable(const QRect& outer, const QRect& area) {
  const Edges w(outer), a(area);
  const bool titleInside = w.top >= a.top && w.top < a.bottom;
  return titleInside && Overlap(w.left, w.right, a.left, a.right) >=
                            std::min<std::int64_t>(kGrip, w.right - w.left);
}

// The squared distance between the rectangles. Each gap can reach 2^32 (a window at the end of
// the coordinate range, a screen left of the primary one), so the sum of the squares can pass
// 2^63: it is summed as a double, which only rounds distances of no interest.
double Distance(const QRect& outer, const QRect& area) {
  const Edges w(outer), a(area);
  const std::int64_t dx = std::max<std::int64_t>({0, a.left - w.right, w.left - a.right});
  const std::int64_t dy = std::max<std::int64_t>({0, a.top - w.bottom, w.top - a.bottom});
  return double(dx) * double(dx) + double(dy) * double(dy);
}

}  // namespace

void GiveOuterSize(RECT& r, QSize size, bool atLeast) {
  constexpr std::int64_t kLast = std::numeric_limits<LONG>::max();
  const auto axis = [atLeast](LONG& from, LONG& to, int extent) {
    from = LONG(std::min<std::int64_t>(from, kLast - extent));
    const LONG end = LONG(std::int64_t(from) + extent);
    to = atLeast ? std::max(to, end) : end;
  };
  axis(r.left, r.right, std::max(0, size.width()));
  axis(r.top, r.bottom, std::max(0, size.height()));
}

QRect OuterRectOf(const RECT& r) {
  const auto extent = [](LONG from, LONG to) {
    return int(std::clamp<std::int64_t>(std::int64_t(to) - std::int64_t(from), 1, QWIDGETSIZE_MAX));
  };
  // The right and bottom edges (left + width) stay within int: a corner at the end of the range
  // moves back by the size (such a window is off every screen anyway).
  const auto corner = [](LONG from, int size) {
    return int(std::min<std::int64_t>(from, std::int64_t(std::numeric_limits<int>::max()) - size));
  };
  const int width = extent(r.left, r.right), height = extent(r.top, r.bottom);
  return QRect(corner(r.left, width), corner(r.top, height), width, height);
}

const char* PlacementDamage(const WINDOWPLACEMENT& wp) {
  if (wp.length != sizeof(WINDOWPLACEMENT)) return "wrong length";
  if (wp.showCmd > kLastShowCommand) return "unknown show command";
  const RECT& r = wp.rcNormalPosition;
  const std::int64_t width = std::int64_t(r.right) - r.left;
  const std::int64_t height = std::int64_t(r.bottom) - r.top;
  if (width <= 0 || height <= 0) return "empty rectangle";
  if (width > QWIDGETSIZE_MAX || height > QWIDGETSIZE_MAX) return "larger than any window";
  return nullptr;
}

QRect PlaceWithinAreas(const QRect& outer, const QList<QRect>& areas) {
  if (areas.isEmpty()) return outer;
  for (const QRect& area : areas) {
    if (!Reachable(outer, area)) continue;
    // Larger than its screen's area along an axis: the area's extent there, within the area.
    int x = outer.x(), y = outer.y(), width = outer.width(), height = outer.height();
    if (width > area.width()) x = area.x(), width = area.width();
    if (height > area.height()) y = area.y(), height = area.height();
    return QRect(x, y, width, height);
  }
  // The nearest screen: the one the window overlaps most, else the closest one.
  const QRect* nearest = &areas.front();
  std::int64_t bestOverlap = -1;
  double bestDistance = std::numeric_limits<double>::infinity();
  for (const QRect& area : areas) {
    const Edges w(outer), a(area);
    const std::int64_t overlap =
        Overlap(w.left, w.right, a.left, a.right) * Overlap(w.top, w.bottom, a.top, a.bottom);
    const double distance = Distance(outer, area);
    if (overlap > bestOverlap || (overlap == 0 && bestOverlap == 0 && distance < bestDistance)) {
      nearest = &area;
      bestOverlap = overlap;
      bestDistance = distance;
    }
  }
  const QRect& area = *nearest;
  const QSize size = outer.size().boundedTo(area.size());
  // Into the area along each axis, as little as possible.
  const auto pull = [](int from, int extent, int areaFrom, int areaExtent) {
    const std::int64_t last = std::int64_t(areaFrom) + areaExtent - extent;
    return int(std::clamp<std::int64_t>(from, areaFrom, last));
  };
  return QRect(QPoint(pull(outer.x(), size.width(), area.x(), area.width()),
                      pull(outer.y(), size.height(), area.y(), area.height())),
               size);
}

QRect PlaceOnScreens(const QRect& outer) {
  QList<QRect> areas;
  for (QScreen* screen : QGuiApplication::screens()) areas << screen->availableGeometry();
  return PlaceWithinAreas(outer, areas);
}

QByteArray PlacementBytes(const WINDOWPLACEMENT& placement) {
  return QByteArray(reinterpret_cast<const char*>(&placement), sizeof(placement));
}

bool PlacementAt(const QByteArray& block, int index, WINDOWPLACEMENT* placement) {
  const qsizetype offset = qsizetype(index) * qsizetype(sizeof(WINDOWPLACEMENT));
  if (index < 0 || block.size() < offset + qsizetype(sizeof(WINDOWPLACEMENT))) return false;
  std::memcpy(placement, block.constData() + offset, sizeof(WINDOWPLACEMENT));
  return true;
}

bool IsSoundStoredPlacement(const WINDOWPLACEMENT& placement, int index) {
  const char* damage = PlacementDamage(placement);
  if (damage == nullptr) return true;
  char text[160];
  std::snprintf(text, sizeof text,
                "Stored window placement %d is damaged (%s): the window keeps its default place\n",
                index, damage);
  OutputDebugStringA(text);
  return false;
}

}  // namespace qv::console
