// The log view: incremental wrapping equals a full layout, line ends across chunk boundaries,
// selection and copy, accessibility of its text.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QFontInfo>
#include <QKeyEvent>
#include <QScrollBar>
#include <random>

#include "console/log_view.h"
#include "console/received_text.h"

namespace {

std::vector<qsizetype> Rows(const LogView& v) {
  std::vector<qsizetype> rows;
  for (int i = 0; i < v.RowCount(); ++i) rows.push_back(v.RowStart(i));
  return rows;
}

// The rows a view computes when it gets the whole text at once.
std::vector<qsizetype> RowsOfWhole(const QString& text, const QFont& font, QSize size, int tab) {
  LogView fresh;
  fresh.setFont(font);
  fresh.resize(size);
  fresh.show();
  fresh.SetTabStopDistance(tab);
  fresh.AppendText(text);
  return Rows(fresh);
}

class LogViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    view.resize(240, 160);
    view.show();
    view.SetTabStopDistance(28);
  }
  LogView view;
};

}  // namespace

TEST_F(LogViewTest, AppendingInPiecesWrapsLikeTheWholeText) {
  std::mt19937 rng(3);
  const char16_t alphabet[] = u"abcdefghij  \t\t<>\r\n\r\r0123";
  std::uniform_int_distribution<int> pick(0, int(std::size(alphabet)) - 2), len(0, 120);
  QString whole;
  for (int chunk = 0; chunk < 300; ++chunk) {
    QString piece;
    const int n = len(rng);
    for (int i = 0; i < n; ++i) piece += QChar(alphabet[pick(rng)]);
    // Long words with no blank must be cut at the edge.
    if (chunk % 37 == 0) piece += QString(150, u'W');
    view.AppendText(piece);
    whole += piece;
  }
  EXPECT_EQ(view.Text(), whole);
  EXPECT_EQ(Rows(view), RowsOfWhole(whole, view.font(), view.size(), 28));
  EXPECT_GT(view.RowCount(), 50);
}

TEST_F(LogViewTest, LineEndsSplitAcrossChunks) {
  view.AppendText(u"first\r");
  view.AppendText(u"\nsecond\r");
  view.AppendText(u"\r\nthird\rfourth\n");
  // CR LF, CR CR LF and a lone CR each end one line; the text is kept as received.
  ASSERT_EQ(view.RowCount(), 5);
  EXPECT_EQ(view.RowStart(1), qsizetype(QString("first\r\n").size()));
  EXPECT_EQ(view.Text().mid(view.RowStart(2), 5), "third");
  EXPECT_EQ(view.Text().mid(view.RowStart(3), 6), "fourth");
  EXPECT_EQ(view.RowStart(4), view.Length());
}

TEST_F(LogViewTest, HexDumpIsOneWrappedLineWithAlignedCells) {
  QString cells;
  for (int i = 0; i < 200; ++i) cells += QStringLiteral("<%1>\t").arg(i % 256, 2, 16, QChar('0'));
  view.AppendText(cells);
  ASSERT_GT(view.RowCount(), 3);
  // Every row starts at a cell and holds the same number of cells (the tab stops line them up).
  const qsizetype perRow = view.RowStart(1);
  EXPECT_EQ(perRow % 5, 0);
  for (int r = 1; r + 1 < view.RowCount(); ++r)
    EXPECT_EQ(view.RowStart(r + 1) - view.RowStart(r), perRow) << "row " << r;
}

TEST_F(LogViewTest, HexCellsOfEveryValueLineUpInColumnsInAnyFont) {
  BYTE all[256];
  for (int i = 0; i < 256; ++i) all[i] = BYTE(i);
  const QString cells = qv::console::HexCells(all, 256);
  QFont mono(QStringLiteral("DejaVu Sans Mono"), 10);
  QFont proportional(QStringLiteral("DejaVu Sans"), 13);
  ASSERT_TRUE(QFontInfo(mono).fixedPitch());
  ASSERT_FALSE(QFontInfo(proportional).fixedPitch());
  view.resize(640, 400);
  for (const QFont& font : {mono, proportional}) {
    SCOPED_TRACE(font.family().toStdString());
    view.setFont(font);
    // A tab stop narrower than a cell, as a dialog font smaller than the log font gives.
    view.SetTabStopDistance(12);
    view.Clear();
    view.AppendText(cells);
    const int stop = view.TabStopDistance();
    const int x0 = view.CharacterRect(0).left();
    ASSERT_GT(view.RowCount(), 1);
    for (int i = 0; i < 256; ++i) {
      const qsizetype at = 5 * i;
      const int row = view.RowOfOffset(at);
      ASSERT_EQ((at - view.RowStart(row)) % 5, 0) << "a row starts inside cell " << i;
      const int column = int(at - view.RowStart(row)) / 5;
      const QRect cell = view.CharacterRect(at);
      EXPECT_EQ(cell.left() - x0, column * stop) << "cell " << i;
      // The cell ends before the next stop: its TAB is at least one pixel wide.
      EXPECT_LT(view.CharacterRect(at + 4).left() - x0, (column + 1) * stop) << "cell " << i;
    }
    // A wide requested stop is kept as it is.
    view.SetTabStopDistance(200);
    EXPECT_EQ(view.TabStopDistance(), 200);
  }
}

TEST_F(LogViewTest, AppendPutsCaretAtEndAndScrollsThere) {
  for (int i = 0; i < 100; ++i) view.AppendText(QStringLiteral("<line %1>\r\n").arg(i));
  view.SetSelection(3, 8);
  view.AppendText(u"more");
  EXPECT_EQ(view.CaretPosition(), view.Length());
  EXPECT_EQ(view.SelectionAnchor(), view.Length());
  EXPECT_EQ(view.verticalScrollBar()->value(), view.verticalScrollBar()->maximum());
  EXPECT_GT(view.verticalScrollBar()->maximum(), 0);

  view.Clear();
  EXPECT_EQ(view.Length(), 0);
  EXPECT_EQ(view.RowCount(), 1);
  view.AppendText(u"<again>\r\n");
  EXPECT_EQ(view.Text(), "<again>\r\n");
}

// Repaints are paced by frames; the text of a burst must still reach the screen once it ends.
TEST_F(LogViewTest, BurstOfChunksEndsPaintedWithItsLastChunk) {
  struct PaintWatch : QObject {
    LogView* view = nullptr;
    qsizetype paintedLength = -1;
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::Paint) paintedLength = view->Length();
      return false;
    }
  } watch;
  watch.view = &view;
  view.viewport()->installEventFilter(&watch);
  for (int i = 0; i < 40; ++i) {
    view.AppendText(QStringLiteral("<%1>\t").arg(i, 2, 16, QChar('0')).repeated(64));
    QCoreApplication::processEvents();
  }
  QElapsedTimer waited;
  waited.start();
  while (watch.paintedLength != view.Length() && waited.elapsed() < 5000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  EXPECT_EQ(watch.paintedLength, view.Length());
  view.viewport()->removeEventFilter(&watch);
}

TEST_F(LogViewTest, SelectionAndCopy) {
  view.AppendText(u"hello world\r\nsecond line");
  view.SetSelection(6, 11);
  EXPECT_EQ(view.SelectedText(), "world");
  view.Copy();
  EXPECT_EQ(QApplication::clipboard()->text(), "world");
  QKeyEvent selectAll(QEvent::KeyPress, Qt::Key_A, Qt::ControlModifier);
  QApplication::sendEvent(&view, &selectAll);
  EXPECT_EQ(view.SelectedText(), view.Text());
  // A point in the second row maps into the second line.
  const QRect r = view.CharacterRect(view.RowStart(1) + 2);
  EXPECT_EQ(view.OffsetAt(r.center()), view.RowStart(1) + 2);
}

TEST_F(LogViewTest, FontChangeLaysOutAgain) {
  const QString text(400, u'x');
  view.AppendText(text);
  const int rowsBefore = view.RowCount();
  QFont big = view.font();
  big.setPointSize(big.pointSize() * 2);
  view.setFont(big);
  EXPECT_GT(view.RowCount(), rowsBefore);
  EXPECT_EQ(Rows(view), RowsOfWhole(text, big, view.size(), 28));
}

TEST_F(LogViewTest, TextIsReadableThroughAccessibility) {
  view.AppendText(u"<Starting>\r\nOK\r\n");
  view.SetSelection(1, 9);
  QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(&view);
  ASSERT_NE(iface, nullptr);
  EXPECT_EQ(iface->role(), QAccessible::EditableText);
  EXPECT_TRUE(iface->state().readOnly);
  EXPECT_EQ(iface->text(QAccessible::Value), view.Text());
  QAccessibleTextInterface* text = iface->textInterface();
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->characterCount(), int(view.Length()));
  EXPECT_EQ(text->text(0, text->characterCount()), view.Text());
  EXPECT_EQ(text->cursorPosition(), 9);
  int start = -1, end = -1;
  ASSERT_EQ(text->selectionCount(), 1);
  text->selection(0, &start, &end);
  EXPECT_EQ(start, 1);
  EXPECT_EQ(end, 9);
  EXPECT_EQ(text->text(start, end), "Starting");
}
