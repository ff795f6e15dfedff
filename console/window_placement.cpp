#include "console/window_placement.h"

#include <QEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <cstring>

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
  const RECT& r = placement->rcNormalPosition;
  const QSize outer(std::max<LONG>(1, r.right - r.left), std::max<LONG>(1, r.bottom - r.top));
  const QSize frame = qv::console::FrameExtra(window);
  if (window->isMaximized() || window->isMinimized()) window->showNormal();
  window->move(r.left, r.top);  // a top-level window's position is that of its frame
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

QByteArray PlacementBytes(const WINDOWPLACEMENT& placement) {
  return QByteArray(reinterpret_cast<const char*>(&placement), sizeof(placement));
}

bool PlacementAt(const QByteArray& block, int index, WINDOWPLACEMENT* placement) {
  const qsizetype offset = qsizetype(index) * qsizetype(sizeof(WINDOWPLACEMENT));
  if (index < 0 || block.size() < offset + qsizetype(sizeof(WINDOWPLACEMENT))) return false;
  std::memcpy(placement, block.constData() + offset, sizeof(WINDOWPLACEMENT));
  return true;
}

}  // namespace qv::console
