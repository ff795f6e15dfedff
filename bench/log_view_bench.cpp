// Ingest speed of the console's log view: 2000 received chunks of 4096 bytes (8 MB), in hex mode
// (one long wrapped line of "<XX>" TAB cells) and in text mode (device-like lines), each chunk
// inserted at the end the way the console does it, with a turn of the event loop after every
// chunk as in the running program (which hands each received chunk to the UI thread on its own).
// The view paints in those turns at its own pace (at most once per frame); the stock edit paints
// in every one.
// Prints the received bytes per second and the ratio of the time of the last 100 chunks to the
// first 100 (the cost of a chunk must not grow with the log).
//
//   log_view_bench [chunks] [--stock]
//
// --stock runs the same insertions into a QPlainTextEdit for comparison (fewer chunks advised).
#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "console/log_view.h"
#include "console/received_text.h"
#include "platform/ui/qt/dialog_template.h"

namespace {

constexpr DWORD kChunk = 4096;

std::vector<BYTE> DeviceText(std::mt19937& rng) {
  std::vector<BYTE> bytes(kChunk);
  std::uniform_int_distribution<int> letter(0x20, 0x7E), lineLength(20, 90);
  int untilBreak = lineLength(rng);
  for (DWORD i = 0; i < kChunk; ++i) {
    if (untilBreak == 0 && i + 1 < kChunk) {
      bytes[i++] = '\r';
      bytes[i] = '\n';
      untilBreak = lineLength(rng);
      continue;
    }
    bytes[i] = BYTE(letter(rng));
    --untilBreak;
  }
  return bytes;
}

struct Result {
  double bytesPerSecond;
  double ratio;
};

template <class Append>
Result Run(int chunks, bool hex, Append append) {
  std::mt19937 rng(7);
  std::vector<qint64> nanos;
  nanos.reserve(size_t(chunks));
  QElapsedTimer total;
  total.start();
  for (int c = 0; c < chunks; ++c) {
    std::vector<BYTE> data = hex ? std::vector<BYTE>(kChunk) : DeviceText(rng);
    if (hex)
      for (DWORD i = 0; i < kChunk; ++i) data[i] = BYTE(rng());
    QElapsedTimer t;
    t.start();
    append(hex ? qv::console::HexCells(data.data(), kChunk)
               : qv::console::ReceivedText(data.data(), kChunk));
    QCoreApplication::processEvents();  // the turn of the event loop that paints the view
    nanos.push_back(t.nsecsElapsed());
  }
  double sum = 0;
  for (qint64 n : nanos) sum += double(n);
  const int window = std::min(100, chunks / 2);
  double first = 0, last = 0;
  for (int i = 0; i < window; ++i) {
    first += double(nanos[size_t(i)]);
    last += double(nanos[nanos.size() - 1 - size_t(i)]);
  }
  return Result{double(kChunk) * chunks / (sum / 1e9), first > 0 ? last / first : 0};
}

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  int chunks = 2000;
  bool stock = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--stock") == 0) stock = true;
    else chunks = std::max(2, std::atoi(argv[i]));
  }
  QFont font = QApplication::font();
  font.setPointSize(8);
  const int tabStop = 19 * qv::ui::DialogUnitsFor(font).baseX / 4;

  for (bool hex : {true, false}) {
    Result r{};
    if (stock) {
      QPlainTextEdit edit;
      edit.setReadOnly(true);
      edit.setFont(font);
      edit.setTabStopDistance(tabStop);
      edit.resize(380, 260);
      edit.show();
      r = Run(chunks, hex, [&](const QString& s) {
        edit.moveCursor(QTextCursor::End);
        edit.insertPlainText(s);
        edit.verticalScrollBar()->setValue(edit.verticalScrollBar()->maximum());
      });
    } else {
      LogView view;
      view.setFont(font);
      view.SetTabStopDistance(tabStop);
      view.resize(380, 260);
      view.show();
      r = Run(chunks, hex, [&](const QString& s) { view.AppendText(s); });
    }
    std::printf("%s %s: %d chunks of %u bytes, %.2f MB/s received, last100/first100 = %.2f\n",
                stock ? "QPlainTextEdit" : "LogView", hex ? "hex " : "text", chunks, kChunk,
                r.bytesPerSecond / 1e6, r.ratio);
    std::fflush(stdout);
  }
  return 0;
}
