// The log view with received data of any bytes: each chunk as text or as hexadecimal cells,
// appended in pieces to a view that lays out its rows and paints offscreen, with a selection
// and a hit test somewhere in what it holds.
#include <QImage>
#include <QPainter>
#include <cstdint>
#include <cstdlib>

#include "console/log_view.h"
#include "console/received_text.h"
#include "fuzz/fuzz_app.h"
#include "fuzz/fuzz_input.h"
#include "fuzz/fuzz_trace.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qv::fuzz::App();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const qv::fuzz::QuietTrace trace;
  static LogView* view = [] {
    auto* v = new LogView;
    v->resize(360, 240);
    return v;
  }();
  qv::fuzz::Input in(data, size);
  view->Clear();
  view->resize(40 + int(in.Below(600)), 40 + int(in.Below(400)));
  view->SetTabStopDistance(int(in.Below(200)));
  while (!in.Empty()) {
    const bool hex = in.Bool();
    const std::vector<std::uint8_t> chunk = in.Bytes(1 + in.Byte());
    const QString text = hex ? qv::console::HexCells(chunk.data(), DWORD(chunk.size()))
                             : qv::console::ReceivedText(chunk.data(), DWORD(chunk.size()));
    if (text.size() != qsizetype(hex ? 5 * chunk.size() : chunk.size())) std::abort();
    view->AppendText(text);
  }
  const qsizetype length = view->Length();
  if (length > 0) {
    const qsizetype a = qsizetype(std::size_t(data[0]) * 7919 % std::size_t(length + 1));
    view->SetSelection(a, length);
    if (view->SelectedText().size() > length) std::abort();
    (void)view->CharacterRect(a);
    (void)view->RowOfOffset(a);
  }
  (void)view->OffsetAt(QPoint(int(size % 400), int(size % 300)));
  QImage image(view->size(), QImage::Format_ARGB32);
  view->render(&image);
  return 0;
}
