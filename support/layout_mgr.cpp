#include "support/layout_mgr.h"

#include <QEvent>
#include <QResizeEvent>
#include <QStyle>
#include <QVariant>
#include <QWindowStateChangeEvent>
#include <algorithm>
#include <cstdint>

namespace {

constexpr const char* kWindowProperty = "LayoutMgr";
constexpr const char* kFlagsProperty = "LayoutMgr_flags";
constexpr int kUnbounded = 0x7FFFFFFF;

// The direct children that belong to the window's client area: separate windows (tool panels
// owned by the dialog) are the window's QObject children too, but they are not inside it.
QList<QWidget*> ClientChildren(QWidget* window) {
  QList<QWidget*> result;
  for (QObject* object : window->children()) {
    auto* widget = qobject_cast<QWidget*>(object);
    if (widget != nullptr && !widget->isWindow()) result << widget;
  }
  return result;
}

int ClampToInt(std::int64_t value) {
  return static_cast<int>(std::clamp<std::int64_t>(value, -kUnbounded, kUnbounded));
}

// Widget sizes are bounded by Qt's own maximum.
int ClampToWidgetSize(std::int64_t value) {
  return static_cast<int>(std::clamp<std::int64_t>(value, 0, QWIDGETSIZE_MAX));
}

}  // namespace

LayoutMgr::LayoutMgr() = default;

LayoutMgr::~LayoutMgr() { Detach(); }

QWidget* LayoutMgr::FindControl(QWidget* window, int id) {
  if (window == nullptr) return nullptr;
  for (QWidget* child : ClientChildren(window)) {
    const QVariant value = child->property("controlId");
    if (value.isValid() && value.toInt() == id) return child;
  }
  return nullptr;
}

void LayoutMgr::Attach(HWND window, int splitXControlId, int splitYControlId, UINT options) {
  Attach(static_cast<QWidget*>(window), splitXControlId, splitYControlId, options);
}

void LayoutMgr::Attach(QWidget* window, int splitXControlId, int splitYControlId, UINT options) {
  if (window == nullptr) return;
  if (window_ != nullptr) Detach();
  window_ = window;

  // Outer limits are computed as outer sizes; the frame that turns them into client sizes is the
  // one the window has now (none before it is first shown).
  const QRect outer = window->frameGeometry();
  frameExtra_ = QSize(std::max(0, outer.width() - window->width()),
                      std::max(0, outer.height() - window->height()));
  if (options & kFixedMaxWidth) maxTrackWidth_ = outer.width();
  if (options & kFixedMaxHeight) maxTrackHeight_ = outer.height();

  const int width = window->width();
  const int height = window->height();

  if (options & kSizeGrip) {
    // Created before the children are sorted, so it moves with the corner like any other child.
    auto* grip = new QSizeGrip(window);
    const QSize gripSize = grip->sizeHint();
    grip->setGeometry(width - gripSize.width(), height - gripSize.height(), gripSize.width(),
                      gripSize.height());
    grip->setProperty("controlId", 0);
    grip->show();
    grip_ = grip;
  }

  clientWidth_ = width;
  clientHeight_ = height;

  splitX_ = kNoSplit;
  if (splitXControlId == -1) {
    splitX_ = width / 2;
  } else if (splitXControlId > 0) {
    if (QWidget* control = FindControl(window, splitXControlId)) {
      const QRect r = control->geometry();
      splitX_ = (options & kSplitXOnLeftEdge) ? r.x() : r.x() + r.width();
    }
  }
  splitY_ = kNoSplit;
  if (splitYControlId == -1) {
    splitY_ = height / 2;
  } else if (splitYControlId > 0) {
    if (QWidget* control = FindControl(window, splitYControlId)) {
      const QRect r = control->geometry();
      splitY_ = (options & kSplitYOnTopEdge) ? r.y() : r.y() + r.height();
    }
  }

  std::int64_t narrowestStraddling = kUnbounded;
  std::int64_t lowestStraddling = kUnbounded;
  for (QWidget* child : ClientChildren(window)) {
    const QRect r = child->geometry();
    const std::int64_t left = r.x(), top = r.y();
    const std::int64_t right = left + r.width(), bottom = top + r.height();
    int flags = 0;
    if (left >= splitX_) flags |= kMoveX;
    if (top >= splitY_) flags |= kMoveY;
    if (right >= splitX_) flags |= kReachX;
    if (bottom >= splitY_) flags |= kReachY;
    if ((flags & (kReachX | kMoveX)) == kReachX)
      narrowestStraddling = std::min<std::int64_t>(narrowestStraddling, r.width());
    if ((flags & (kReachY | kMoveY)) == kReachY)
      lowestStraddling = std::min<std::int64_t>(lowestStraddling, r.height());
    if (flags != 0) child->setProperty(kFlagsProperty, flags);
  }

  // The minimum keeps every straddling child at a width (height) of at least zero.
  std::int64_t minWidth = width - narrowestStraddling;
  std::int64_t minHeight = height - lowestStraddling;
  if (options & kFixedMinWidth) minWidth = width;
  if (options & kFixedMinHeight) minHeight = height;
  minWidth += frameExtra_.width();
  minHeight += frameExtra_.height();

  QStyle* style = window->style();
  const int scrollExtent = style->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, window);
  const int thumbMinimum = style->pixelMetric(QStyle::PM_ScrollBarSliderMin, nullptr, window);
  if (!(options & (kFixedMinWidth | kNoHScrollRoom))) minWidth += 2 * scrollExtent + thumbMinimum;
  if (!(options & (kFixedMinHeight | kNoVScrollRoom))) minHeight += 2 * scrollExtent + thumbMinimum;
  minTrackWidth_ = ClampToInt(minWidth);
  minTrackHeight_ = ClampToInt(minHeight);

  window->setProperty(kWindowProperty, QVariant::fromValue(static_cast<void*>(this)));
  ownMinimum_ = window->minimumSize();
  ownMaximum_ = window->maximumSize();
  window->installEventFilter(this);
  // The window going away detaches the manager (its children and properties go with it).
  destroyedConnection_ = connect(window, &QObject::destroyed, this, [this] {
    window_ = nullptr;
    grip_ = nullptr;
  });
  ApplyTrackingLimits();
}

void LayoutMgr::ApplyTrackingLimits() {
  // Qt bounds a window by its client size: the outer limits lose the frame, and the window's own
  // limits (what it had before the manager came) still apply on the other side.
  const int minW = ClampToWidgetSize(std::int64_t{minTrackWidth_} - frameExtra_.width());
  const int minH = ClampToWidgetSize(std::int64_t{minTrackHeight_} - frameExtra_.height());
  const int maxW = ClampToWidgetSize(std::int64_t{maxTrackWidth_} - frameExtra_.width());
  const int maxH = ClampToWidgetSize(std::int64_t{maxTrackHeight_} - frameExtra_.height());
  window_->setMinimumSize(std::max(ownMinimum_.width(), minW),
                          std::max(ownMinimum_.height(), minH));
  window_->setMaximumSize(std::min(ownMaximum_.width(), maxW),
                          std::min(ownMaximum_.height(), maxH));
}

void LayoutMgr::Detach() {
  if (destroyedConnection_) disconnect(destroyedConnection_);
  QWidget* window = window_;
  window_ = nullptr;
  if (window == nullptr) return;
  window->removeEventFilter(this);
  for (QWidget* child : ClientChildren(window)) child->setProperty(kFlagsProperty, QVariant());
  window->setProperty(kWindowProperty, QVariant());
  window->setMinimumSize(ownMinimum_);
  window->setMaximumSize(ownMaximum_);
}

bool LayoutMgr::eventFilter(QObject* watched, QEvent* event) {
  if (window_ != nullptr && watched == window_) {
    if (event->type() == QEvent::Resize) {
      const QSize size = static_cast<QResizeEvent*>(event)->size();
      if (window_->isMinimized()) Relayout(kSizeMinimized, 0, 0);
      else Relayout(kSizeRestored, size.width(), size.height());
    } else if (event->type() == QEvent::WindowStateChange) {
      // Qt does not always resize a window that is minimised or restored; the state change is
      // the size change that matters.
      const auto* change = static_cast<QWindowStateChangeEvent*>(event);
      if (window_->isMinimized()) Relayout(kSizeMinimized, 0, 0);
      else if (change->oldState() & Qt::WindowMinimized)
        Relayout(kSizeRestored, window_->width(), window_->height());
    }
  }
  return QObject::eventFilter(watched, event);
}

void LayoutMgr::Relayout(UINT sizeType, int width, int height) {
  if (window_ == nullptr) return;
  if (sizeType != kSizeMinimized && (clientWidth_ != 0 || clientHeight_ != 0)) {
    const int dx = width - clientWidth_;
    const int dy = height - clientHeight_;
    if (dx != 0 || dy != 0) {
      for (QWidget* child : ClientChildren(window_)) {
        const int flags = child->property(kFlagsProperty).toInt();
        if (flags == 0) continue;
        QRect r = child->geometry();
        int left = r.x(), top = r.y(), w = r.width(), h = r.height();
        if (flags & kMoveX) left += dx;
        if (flags & kMoveY) top += dy;
        if ((flags & (kReachX | kMoveX)) == kReachX) w += dx;
        if ((flags & (kReachY | kMoveY)) == kReachY) h += dy;
        child->setGeometry(left, top, w, h);
      }
    }
  }
  clientWidth_ = width;
  clientHeight_ = height;
}
