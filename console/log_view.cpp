#include "console/log_view.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>
#include <cmath>

namespace {

constexpr int kMargin = 2;  // pixels between the frame and the text

bool IsBreakChar(QChar c) { return c == u'\n' || c == u'\r'; }

// The accessibility side: the whole text, the caret and the selection, as a read-only edit.
class LogViewAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
 public:
  explicit LogViewAccessible(LogView* view) : QAccessibleWidget(view, QAccessible::EditableText) {}

  LogView* View() const { return static_cast<LogView*>(widget()); }

  void* interface_cast(QAccessible::InterfaceType t) override {
    if (t == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
    return QAccessibleWidget::interface_cast(t);
  }

  QAccessible::State state() const override {
    QAccessible::State s = QAccessibleWidget::state();
    s.readOnly = true;
    s.multiLine = true;
    s.selectableText = true;
    s.editable = false;
    return s;
  }

  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Value) return View()->Text();
    return QAccessibleWidget::text(t);
  }

  // QAccessibleTextInterface
  void selection(int index, int* start, int* end) const override {
    *start = *end = 0;
    if (index != 0) return;
    const qsizetype a = View()->SelectionAnchor(), c = View()->CaretPosition();
    *start = int(std::min(a, c));
    *end = int(std::max(a, c));
  }
  int selectionCount() const override {
    return View()->SelectionAnchor() != View()->CaretPosition() ? 1 : 0;
  }
  void addSelection(int start, int end) override { setSelection(0, start, end); }
  void removeSelection(int) override {
    View()->SetSelection(View()->CaretPosition(), View()->CaretPosition());
  }
  void setSelection(int, int start, int end) override { View()->SetSelection(start, end); }
  int cursorPosition() const override { return int(View()->CaretPosition()); }
  void setCursorPosition(int position) override { View()->SetSelection(position, position); }
  QString text(int start, int end) const override {
    const QString& all = View()->Text();
    start = std::clamp(start, 0, int(all.size()));
    end = std::clamp(end, start, int(all.size()));
    return all.mid(start, end - start);
  }
  int characterCount() const override { return int(View()->Length()); }
  QRect characterRect(int offset) const override {
    const QRect r = View()->CharacterRect(offset);
    if (r.isNull()) return r;
    return QRect(View()->viewport()->mapToGlobal(r.topLeft()), r.size());
  }
  int offsetAtPoint(const QPoint& point) const override {
    const QPoint local = View()->viewport()->mapFromGlobal(point);
    if (!View()->viewport()->rect().contains(local)) return -1;
    return int(View()->OffsetAt(local));
  }
  void scrollToSubstring(int startIndex, int) override {
    const int row = View()->RowOfOffset(startIndex);
    View()->verticalScrollBar()->setValue(row);
  }
  QString attributes(int offset, int* startOffset, int* endOffset) const override {
    *startOffset = *endOffset = offset;
    return QString();
  }
};

QAccessibleInterface* LogViewAccessibleFactory(const QString&, QObject* object) {
  if (auto* view = dynamic_cast<LogView*>(object)) return new LogViewAccessible(view);
  return nullptr;
}

void InstallAccessibleFactoryOnce() {
  static const bool installed = [] {
    QAccessible::installFactory(LogViewAccessibleFactory);
    return true;
  }();
  (void)installed;
}

}  // namespace

LogView::LogView(QWidget* parent) : QAbstractScrollArea(parent) {
  InstallAccessibleFactoryOnce();
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setCursor(Qt::IBeamCursor);
  viewport()->setBackgroundRole(QPalette::Base);
  viewport()->setAutoFillBackground(true);
  repaintTimer_ = new QTimer(this);
  repaintTimer_->setSingleShot(true);
  repaintTimer_->setTimerType(Qt::PreciseTimer);
  connect(repaintTimer_, &QTimer::timeout, viewport(), qOverload<>(&QWidget::update));
  UpdateMetrics();
}

void LogView::ScheduleRepaint() {
  if (repaintTimer_->isActive()) return;  // the frame's repaint is already planned
  const qint64 since = lastPaint_.isValid() ? lastPaint_.elapsed() : qint64(kFrameMs);
  if (since >= kFrameMs) {
    viewport()->update();
  } else {
    repaintTimer_->start(int(kFrameMs - since));
  }
}

void LogView::scrollContentsBy(int, int) {
  if (appending_) {
    ScheduleRepaint();
  } else {
    viewport()->update();
  }
}

LogView::~LogView() = default;

void LogView::UpdateMetrics() {
  // Advances must add up to what is drawn: no kerning, no shaping across characters.
  QFont f = font();
  f.setKerning(false);
  f.setStyleStrategy(QFont::StyleStrategy(f.styleStrategy() | QFont::PreferNoShaping));
  viewport()->setFont(f);
  const QFontMetricsF fm(f);
  for (int i = 0; i < 256; ++i) latin1Advance_[i] = fm.horizontalAdvance(QChar(char16_t(i)));
  latin1Advance_[u'\r'] = latin1Advance_[u'\n'] = 0;
  otherAdvance_.clear();
  UpdateTabStop();
  lineHeight_ = std::max(1, int(std::ceil(fm.height())));
  ascent_ = int(std::ceil(fm.ascent()));
  verticalScrollBar()->setSingleStep(1);
}

qreal LogView::Advance(QChar c) const {
  const char16_t u = c.unicode();
  if (u < 256) return latin1Advance_[u];
  auto it = otherAdvance_.constFind(u);
  if (it != otherAdvance_.cend()) return *it;
  const qreal w = QFontMetricsF(viewport()->font()).horizontalAdvance(c);
  otherAdvance_.insert(u, w);
  return w;
}

qreal LogView::NextTab(qreal x) const {
  const qreal stop = qreal(tabStop_);
  return (std::floor(x / stop + 1e-9) + 1) * stop;
}

qreal LogView::Measure(qsizetype from, qsizetype to) const {
  qreal x = 0;
  for (qsizetype i = from; i < to; ++i) {
    const QChar c = text_[i];
    x = c == u'\t' ? NextTab(x) : x + Advance(c);
  }
  return x;
}

int LogView::WrapWidth() const { return std::max(1, viewport()->width() - 2 * kMargin); }

void LogView::WrapFromRow(size_t rowIndex) {
  rowStarts_.resize(rowIndex + 1);
  const qreal width = qreal(wrapWidth_);
  const qsizetype n = text_.size();
  qsizetype rowStart = rowStarts_.back();
  qsizetype lastBreak = -1;  // position after the last blank or tab of this row
  qreal x = 0;
  const QChar* data = text_.constData();
  for (qsizetype i = rowStart; i < n; ++i) {
    const QChar c = data[i];
    if (c == u'\n') {
      rowStarts_.push_back(i + 1);
      rowStart = i + 1;
      x = 0;
      lastBreak = -1;
      continue;
    }
    if (c == u'\r') {
      // CR LF and CR CR LF end one line; a lone CR ends it too. A CR at the very end is taken as
      // a line end for now: the next insertion wraps this row again and sees what follows.
      if (i + 1 < n && IsBreakChar(data[i + 1])) continue;
      rowStarts_.push_back(i + 1);
      rowStart = i + 1;
      x = 0;
      lastBreak = -1;
      continue;
    }
    const qreal next = c == u'\t' ? NextTab(x) : x + Advance(c);
    // Blanks may hang over the edge, as in a Win32 edit; anything else wraps.
    if (next > width && i > rowStart && c != u' ' && c != u'\t') {
      const qsizetype newStart = lastBreak > rowStart ? lastBreak : i;
      rowStarts_.push_back(newStart);
      rowStart = newStart;
      lastBreak = -1;
      x = Measure(newStart, i);
      x = c == u'\t' ? NextTab(x) : x + Advance(c);
    } else {
      x = next;
    }
    if (c == u' ' || c == u'\t') lastBreak = i + 1;
  }
}

void LogView::RewrapAll() {
  wrapWidth_ = WrapWidth();
  rowStarts_.assign(1, 0);
  WrapFromRow(0);
  UpdateScrollBar(true);
  viewport()->update();
}

int LogView::RowOfOffset(qsizetype offset) const {
  auto it = std::upper_bound(rowStarts_.begin(), rowStarts_.end(), offset);
  return int(std::max<std::ptrdiff_t>(0, (it - rowStarts_.begin()) - 1));
}

qsizetype LogView::RowContentEnd(int row) const {
  qsizetype end = size_t(row + 1) < rowStarts_.size() ? rowStarts_[size_t(row + 1)] : text_.size();
  const qsizetype start = rowStarts_[size_t(row)];
  while (end > start && IsBreakChar(text_[end - 1])) --end;
  return end;
}

void LogView::AppendText(QStringView text) {
  const qsizetype oldLength = text_.size();
  text_.append(text);
  anchor_ = caret_ = text_.size();
  if (wrapWidth_ <= 0) wrapWidth_ = WrapWidth();
  // Only the row that held the old last character can change, and everything after it.
  WrapFromRow(size_t(RowOfOffset(std::max<qsizetype>(0, oldLength - 1))));
  appending_ = true;
  UpdateScrollBar(true);
  appending_ = false;
  ScheduleRepaint();
  if (QAccessible::isActive() && !text.isEmpty()) {
    QAccessibleTextInsertEvent ev(this, int(oldLength), text.toString());
    QAccessible::updateAccessibility(&ev);
  }
}

void LogView::Clear() {
  const QString old = text_;
  text_.clear();
  text_.squeeze();
  rowStarts_.assign(1, 0);
  anchor_ = caret_ = 0;
  UpdateScrollBar(true);
  viewport()->update();
  if (QAccessible::isActive() && !old.isEmpty()) {
    QAccessibleTextRemoveEvent ev(this, 0, old);
    QAccessible::updateAccessibility(&ev);
  }
}

void LogView::UpdateTabStop() {
  // Without kerning a cell is as wide as its four characters: the widest has the widest digits.
  qreal digit = 0;
  for (char16_t c : u"0123456789ABCDEF") {
    if (c != 0) digit = std::max(digit, latin1Advance_[c]);
  }
  const qreal cell = latin1Advance_[u'<'] + 2 * digit + latin1Advance_[u'>'];
  // A blank's width between neighbouring cells, and the cell never reaches the stop itself.
  const int minimum = int(std::ceil(cell + std::max<qreal>(1, latin1Advance_[u' ']))) + 1;
  tabStop_ = std::max(requestedTabStop_, minimum);
}

void LogView::SetTabStopDistance(int pixels) {
  requestedTabStop_ = std::max(1, pixels);
  UpdateTabStop();
  RewrapAll();
}

void LogView::SetSelection(qsizetype anchor, qsizetype caret) {
  anchor_ = std::clamp<qsizetype>(anchor, 0, text_.size());
  caret_ = std::clamp<qsizetype>(caret, 0, text_.size());
  viewport()->update();
  NotifySelection();
}

void LogView::NotifySelection() {
  if (!QAccessible::isActive()) return;
  QAccessibleTextSelectionEvent ev(this, int(std::min(anchor_, caret_)),
                                   int(std::max(anchor_, caret_)));
  ev.setCursorPosition(int(caret_));
  QAccessible::updateAccessibility(&ev);
}

QString LogView::SelectedText() const {
  const qsizetype a = std::min(anchor_, caret_), b = std::max(anchor_, caret_);
  return text_.mid(a, b - a);
}

void LogView::Copy() const {
  if (anchor_ != caret_) QApplication::clipboard()->setText(SelectedText());
}

int LogView::FirstVisibleRow() const { return verticalScrollBar()->value(); }

int LogView::VisibleRowCount() const {
  return std::max(1, (viewport()->height() - 2 * kMargin) / lineHeight_);
}

void LogView::UpdateScrollBar(bool toEnd) {
  QScrollBar* bar = verticalScrollBar();
  const int visible = VisibleRowCount();
  const int maximum = std::max(0, RowCount() - visible);
  bar->setRange(0, maximum);
  bar->setPageStep(visible);
  if (toEnd) bar->setValue(maximum);
}

QRect LogView::CharacterRect(qsizetype offset) const {
  if (offset < 0 || offset > text_.size()) return QRect();
  const int row = RowOfOffset(offset);
  const qreal x = Measure(rowStarts_[size_t(row)], offset);
  const qreal w = offset < text_.size()
                      ? (text_[offset] == u'\t' ? NextTab(x) - x : Advance(text_[offset]))
                      : 1;
  const int y = kMargin + (row - FirstVisibleRow()) * lineHeight_;
  return QRect(kMargin + int(x), y, std::max(1, int(std::ceil(w))), lineHeight_);
}

qsizetype LogView::OffsetAt(const QPoint& p) const {
  int row = FirstVisibleRow() + (p.y() - kMargin) / lineHeight_;
  if (p.y() < kMargin) row = FirstVisibleRow() - 1;
  if (row < 0) return 0;
  if (row >= RowCount()) return text_.size();
  const qsizetype start = rowStarts_[size_t(row)], end = RowContentEnd(row);
  const qreal target = p.x() - kMargin;
  qreal x = 0;
  for (qsizetype i = start; i < end; ++i) {
    const QChar c = text_[i];
    const qreal next = c == u'\t' ? NextTab(x) : x + Advance(c);
    if (target < (x + next) / 2) return i;
    x = next;
  }
  return end;
}

QSize LogView::sizeHint() const { return QSize(300, 200); }

void LogView::paintEvent(QPaintEvent*) {
  lastPaint_.start();
  QPainter p(viewport());
  p.setFont(viewport()->font());
  const QPalette& pal = palette();
  const int first = FirstVisibleRow();
  const int last = std::min(RowCount() - 1, first + VisibleRowCount());
  const qsizetype selA = std::min(anchor_, caret_), selB = std::max(anchor_, caret_);
  for (int row = first; row <= last; ++row) {
    const qsizetype start = rowStarts_[size_t(row)], end = RowContentEnd(row);
    const int top = kMargin + (row - first) * lineHeight_;
    if (selA != selB && selB > start && selA <= end) {
      const qsizetype a = std::max(selA, start), b = std::min(selB, end);
      const qreal xa = Measure(start, a), xb = Measure(start, b);
      const bool throughBreak = selB > end && size_t(row + 1) < rowStarts_.size();
      p.fillRect(QRectF(kMargin + xa, top, (xb - xa) + (throughBreak ? 4 : 0), lineHeight_),
                 pal.brush(QPalette::Highlight));
    }
    // Runs between tabs are drawn at the positions the layout gave them.
    qreal x = 0;
    qsizetype runStart = start;
    qreal runX = 0;
    auto flush = [&](qsizetype runEnd) {
      if (runEnd <= runStart) return;
      const QString run = text_.mid(runStart, runEnd - runStart);
      // Selected parts of the run are drawn again in the highlighted colour.
      p.setPen(pal.color(QPalette::Text));
      p.drawText(QPointF(kMargin + runX, top + ascent_), run);
      const qsizetype a = std::max(selA, runStart), b = std::min(selB, runEnd);
      if (selA != selB && a < b) {
        p.save();
        const qreal xa = runX + Measure(runStart, a);
        const qreal xb = xa + Measure(a, b);
        p.setClipRect(QRectF(kMargin + xa, top, xb - xa, lineHeight_));
        p.setPen(pal.color(QPalette::HighlightedText));
        p.drawText(QPointF(kMargin + runX, top + ascent_), run);
        p.restore();
      }
    };
    for (qsizetype i = start; i < end; ++i) {
      const QChar c = text_[i];
      if (c == u'\t') {
        flush(i);
        x = NextTab(x);
        runStart = i + 1;
        runX = x;
      } else {
        x += Advance(c);
      }
    }
    flush(end);
  }
  // The caret, while the view has the focus.
  if (hasFocus()) {
    const QRect r = CharacterRect(caret_);
    if (!r.isNull()) p.fillRect(QRect(r.left(), r.top(), 1, r.height()), pal.color(QPalette::Text));
  }
}

void LogView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  const bool atEnd = verticalScrollBar()->value() == verticalScrollBar()->maximum();
  if (WrapWidth() != wrapWidth_) {
    wrapWidth_ = WrapWidth();
    rowStarts_.assign(1, 0);
    WrapFromRow(0);
  }
  UpdateScrollBar(atEnd);
}

void LogView::changeEvent(QEvent* event) {
  QAbstractScrollArea::changeEvent(event);
  if (event->type() == QEvent::FontChange) {
    UpdateMetrics();
    RewrapAll();
  }
}

void LogView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QAbstractScrollArea::mousePressEvent(event);
  const qsizetype at = OffsetAt(event->position().toPoint());
  SetSelection((event->modifiers() & Qt::ShiftModifier) ? anchor_ : at, at);
  selecting_ = true;
}

void LogView::mouseMoveEvent(QMouseEvent* event) {
  if (!(event->buttons() & Qt::LeftButton) || !selecting_) return;
  const QPoint p = event->position().toPoint();
  if (p.y() < 0) verticalScrollBar()->setValue(FirstVisibleRow() - 1);
  if (p.y() > viewport()->height()) verticalScrollBar()->setValue(FirstVisibleRow() + 1);
  SetSelection(anchor_, OffsetAt(p));
}

void LogView::mouseDoubleClickEvent(QMouseEvent* event) {
  // A double click selects the word under the pointer.
  const qsizetype at = OffsetAt(event->position().toPoint());
  auto isWord = [this](qsizetype i) {
    return i >= 0 && i < text_.size() && !text_[i].isSpace() && !IsBreakChar(text_[i]);
  };
  if (!isWord(at)) return;
  qsizetype a = at, b = at;
  while (isWord(a - 1)) --a;
  while (isWord(b)) ++b;
  SetSelection(a, b);
}

void LogView::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Copy)) return Copy();
  if (event->matches(QKeySequence::SelectAll)) return SelectAll();
  QScrollBar* bar = verticalScrollBar();
  switch (event->key()) {
    case Qt::Key_PageUp: bar->triggerAction(QAbstractSlider::SliderPageStepSub); return;
    case Qt::Key_PageDown: bar->triggerAction(QAbstractSlider::SliderPageStepAdd); return;
    case Qt::Key_Up: bar->triggerAction(QAbstractSlider::SliderSingleStepSub); return;
    case Qt::Key_Down: bar->triggerAction(QAbstractSlider::SliderSingleStepAdd); return;
    case Qt::Key_Home:
      if (event->modifiers() & Qt::ControlModifier) {
        bar->setValue(0);
        SetSelection((event->modifiers() & Qt::ShiftModifier) ? anchor_ : 0, 0);
        return;
      }
      break;
    case Qt::Key_End:
      if (event->modifiers() & Qt::ControlModifier) {
        bar->setValue(bar->maximum());
        SetSelection((event->modifiers() & Qt::ShiftModifier) ? anchor_ : text_.size(),
                     text_.size());
        return;
      }
      break;
    default: break;
  }
  // Enter, Escape and the rest go to the dialog, as a read-only edit passes them on.
  QAbstractScrollArea::keyPressEvent(event);
}

void LogView::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  QAction* copy = menu.addAction(QStringLiteral("&Copy"), [this] { Copy(); });
  copy->setEnabled(anchor_ != caret_);
  menu.addSeparator();
  menu.addAction(QStringLiteral("Select &All"), [this] { SelectAll(); });
  if (extendMenu_) {
    menu.addSeparator();
    extendMenu_(menu);
  }
  menu.exec(event->globalPos());
}

bool LogView::event(QEvent* event) {
  if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut) viewport()->update();
  return QAbstractScrollArea::event(event);
}
