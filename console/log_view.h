// The console's log view: a read-only, word-wrapping text view that only grows at its end.
//
// The log is never trimmed and a hexadecimal dump is one long wrapped line, so the stock text
// edits (which lay out a whole paragraph again for every insertion) slow down as the log grows.
// This view keeps the text in one string and the start of every wrapped row; an insertion at the
// end wraps only the last row again, so its cost does not depend on the size of the log.
//
// Lines end with CR LF, LF or a lone CR (a CR directly before another CR or LF belongs to the
// line end). Tab stops are at a fixed pixel distance from the start of each row. The caret is the
// end of the selection; adding text clears the selection, puts the caret at the end and scrolls
// there, as the log's "caret to the end, then insert" does. Its text is readable through Qt's
// accessibility interfaces (role EditableText, read-only, with the text interface).
//
// Data can arrive in many small chunks a second, each handed over in its own turn of the event
// loop. The text and its rows are updated at once; the view repaints at most once per frame
// (kFrameMs), so a burst costs one paint per frame instead of one per chunk, and what arrived
// is on screen within a frame.
#pragma once

#include <QAbstractScrollArea>
#include <QElapsedTimer>
#include <QHash>
#include <QString>
#include <functional>
#include <vector>

class QMenu;
class QTimer;

class LogView : public QAbstractScrollArea {
 public:
  static constexpr int kFrameMs = 16;

  explicit LogView(QWidget* parent = nullptr);
  ~LogView() override;

  // Appends text at the end (after moving the caret there).
  void AppendText(QStringView text);
  void Clear();

  const QString& Text() const { return text_; }
  qsizetype Length() const { return text_.size(); }

  // Tab stop distance in pixels (at least 1). The distance in use is never less than the widest
  // hexadecimal cell ("<XX>") of the current font and a blank, so that the cells of a hex dump
  // line up in columns whatever the font: a cell wider than a tab stop would jump to the next one.
  void SetTabStopDistance(int pixels);
  int TabStopDistance() const { return tabStop_; }
  int RequestedTabStopDistance() const { return requestedTabStop_; }

  // Selection as [anchor, caret); the caret is its second end.
  void SetSelection(qsizetype anchor, qsizetype caret);
  qsizetype SelectionAnchor() const { return anchor_; }
  qsizetype CaretPosition() const { return caret_; }
  QString SelectedText() const;
  void Copy() const;
  void SelectAll() { SetSelection(0, text_.size()); }

  // Layout queries (tests, accessibility).
  int RowCount() const { return int(rowStarts_.size()); }
  qsizetype RowStart(int row) const { return rowStarts_[size_t(row)]; }
  int RowOfOffset(qsizetype offset) const;
  int FirstVisibleRow() const;
  int VisibleRowCount() const;
  int LineHeight() const { return lineHeight_; }
  QRect CharacterRect(qsizetype offset) const;  // viewport coordinates
  qsizetype OffsetAt(const QPoint& viewportPoint) const;

  QSize sizeHint() const override;

  // Adds the owner's entries below the view's own in its context menu, each time it opens.
  void SetMenuExtension(std::function<void(QMenu&)> extend) { extendMenu_ = std::move(extend); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  bool event(QEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  void UpdateMetrics();
  // The tab stop in use for the requested distance and the current font.
  void UpdateTabStop();
  void RewrapAll();
  // Wraps from the row that starts at rowIndex to the end of the text.
  void WrapFromRow(size_t rowIndex);
  qreal Advance(QChar c) const;
  qreal NextTab(qreal x) const;
  // Width of text_[from, to) laid out from the start of a row.
  qreal Measure(qsizetype from, qsizetype to) const;
  qsizetype RowContentEnd(int row) const;  // end of the row without its line break
  int WrapWidth() const;
  void UpdateScrollBar(bool toEnd);
  void NotifySelection();
  // Repaints now if the last paint is a frame old, else once the frame is over.
  void ScheduleRepaint();

  QString text_;
  std::vector<qsizetype> rowStarts_{0};
  qreal latin1Advance_[256] = {};
  mutable QHash<char16_t, qreal> otherAdvance_;
  int lineHeight_ = 13;
  int ascent_ = 10;
  int requestedTabStop_ = 32;
  int tabStop_ = 32;  // in use: the requested distance or the widest cell's
  int wrapWidth_ = 0;
  qsizetype anchor_ = 0;
  qsizetype caret_ = 0;
  bool selecting_ = false;
  bool appending_ = false;  // scrolling to the end for new text repaints with the frame pace
  QTimer* repaintTimer_ = nullptr;
  QElapsedTimer lastPaint_;
  std::function<void(QMenu&)> extendMenu_;
};
