// Makes a dialog resizable without per-control layout code.
//
// Attach sorts the dialog's direct child widgets once, by their position against two split lines
// (one vertical at "split X", one horizontal at "split Y"): a child that starts beyond a split line
// moves with the window's growth in that direction, a child that reaches across it stretches, the
// others stay put. It also bounds the window's size (a minimum that keeps the stretched children
// from collapsing, optional fixed minimum or maximum sizes) and can add a size grip.
//
// Controls are found by their control id: the integer property "controlId" of each direct child
// widget (the template-built dialogs set it). Each sorted child carries its move/stretch bits in the
// integer property "LayoutMgr_flags"; the window carries "LayoutMgr" (the manager's address). The
// manager watches the window through an event filter: a resize moves and stretches the children by
// the change since the previous size, a minimise only records the size.
#pragma once

#include <QObject>
#include <QPointer>
#include <QSize>
#include <QSizeGrip>
#include <QWidget>

#include "platform/types.h"

class LayoutMgr : public QObject {
 public:
  // Attach options.
  static constexpr UINT kSizeGrip = 0x1;       // a size grip in the bottom-right corner
  static constexpr UINT kNoHScrollRoom = 0x2;  // no horizontal scroll-bar room in the minimum width
  static constexpr UINT kNoVScrollRoom = 0x4;  // no vertical scroll-bar room in the minimum height
  static constexpr UINT kFixedMinWidth = 0x10;   // minimum client width = initial client width
  static constexpr UINT kFixedMaxWidth = 0x20;   // maximum outer width = initial outer width
  static constexpr UINT kFixedMinHeight = 0x40;  // minimum client height = initial client height
  static constexpr UINT kFixedMaxHeight = 0x80;  // maximum outer height = initial outer height
  static constexpr UINT kSplitXOnLeftEdge =
      0x100;  // split X on the left edge of its control (else right)
  static constexpr UINT kSplitYOnTopEdge =
      0x200;  // split Y on the top edge of its control (else bottom)

  // Bits of a child's "LayoutMgr_flags" property.
  static constexpr int kMoveX = 0x1;
  static constexpr int kMoveY = 0x2;
  static constexpr int kReachX = 0x4;
  static constexpr int kReachY = 0x8;

  // The split line lies nowhere ("no split line in that direction").
  static constexpr int kNoSplit = 0x7FFFFFFF;

  LayoutMgr();
  ~LayoutMgr() override;  // detaches when still attached
  LayoutMgr(const LayoutMgr&) = delete;
  LayoutMgr& operator=(const LayoutMgr&) = delete;

  // Called once, from the dialog's initialisation after its children exist. A split control id of
  // -1 puts that split line in the middle of the client area, a positive id on an edge of the
  // direct child with that "controlId", anything else (0, below -1, or an id no child has) means
  // no split line in that direction. The console attaches with 1018, 1055 and 0x241.
  void Attach(QWidget* window, int splitXControlId, int splitYControlId, UINT options);
  void Attach(HWND window, int splitXControlId, int splitYControlId, UINT options);

  bool IsAttached() const { return window_ != nullptr; }
  QWidget* Window() const { return window_; }

  // The tracking limits in outer-window pixels, as computed at attach time. The minimum may be
  // far below zero in a direction without a split line: the platform's own minimum then applies.
  int MinTrackWidth() const { return minTrackWidth_; }
  int MinTrackHeight() const { return minTrackHeight_; }
  int MaxTrackWidth() const { return maxTrackWidth_; }
  int MaxTrackHeight() const { return maxTrackHeight_; }
  // The split lines found at attach time, in client coordinates (kNoSplit when none).
  int SplitX() const { return splitX_; }
  int SplitY() const { return splitY_; }
  // The client size recorded at the last size change (0 by 0 after a minimise).
  QSize RecordedClientSize() const { return QSize(clientWidth_, clientHeight_); }
  // The size grip created by option 0x1, or null.
  QSizeGrip* SizeGrip() const { return grip_; }

  // The direct child (not a separate window) whose "controlId" property is id, or null.
  static QWidget* FindControl(QWidget* window, int id);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  static constexpr UINT kSizeMinimized = 1;
  static constexpr UINT kSizeRestored = 0;

  void Detach();
  void Relayout(UINT sizeType, int width, int height);
  void ApplyTrackingLimits();

  QPointer<QWidget> window_;
  QPointer<QSizeGrip> grip_;
  int minTrackWidth_ = 0;
  int minTrackHeight_ = 0;
  int maxTrackWidth_ = 0x7FFFFFFF;
  int maxTrackHeight_ = 0x7FFFFFFF;
  int clientWidth_ = 0;
  int clientHeight_ = 0;
  int splitX_ = kNoSplit;
  int splitY_ = kNoSplit;
  // What the window had before the manager came (the platform's own limits), and the frame size
  // (outer minus client) used to turn outer limits into the widget's client limits.
  QSize ownMinimum_;
  QSize ownMaximum_;
  QSize frameExtra_;
  QMetaObject::Connection destroyedConnection_;
};
