// The records the program reads back from its per-user store, any of them damaged: the first
// byte picks one, the rest is its stored bytes. Each is read the way the console reads it at
// start-up: the window placements (applied to a window), the log font (made a font), a port's
// default configuration (its file, then the opening line settings and the Win32 copy), and a
// history list (each entry a stored text).
#include <QFont>
#include <QList>
#include <QRect>
#include <QWidget>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "console/log_font_record.h"
#include "console/window_placement.h"
#include "fuzz/fuzz_app.h"
#include "fuzz/fuzz_input.h"
#include "fuzz/fuzz_trace.h"
#include "platform/comm/comm_api.h"
#include "platform/comm/default_config_store.h"
#include "platform/store/profile_store.h"
#include "support/mru_list.h"

namespace {

QRect AreaFrom(qv::fuzz::Input& in) {
  return QRect(in.I32() % 20000, in.I32() % 20000, int(in.Below(8000)), int(in.Below(8000)));
}

void Placements(qv::fuzz::Input& in) {
  static QWidget* window = [] {
    auto* w = new QWidget;
    w->resize(300, 200);
    return w;
  }();
  QList<QRect> areas;
  for (int n = in.Below(3); n > 0; --n) areas << AreaFrom(in);
  const std::vector<std::uint8_t> bytes = in.Rest();
  const QByteArray block(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
  for (int index = 0; index < 4; ++index) {
    WINDOWPLACEMENT wp;
    if (!qv::console::PlacementAt(block, index, &wp)) break;
    (void)qv::console::PlaceWithinAreas(qv::console::OuterRectOf(wp.rcNormalPosition), areas);
    if (!qv::console::IsSoundStoredPlacement(wp, index)) continue;
    qv::console::GiveOuterSize(wp.rcNormalPosition, QSize(300, 200), index == 0);
    wp.showCmd = SW_HIDE;
    SetWindowPlacement(window, &wp);
    // What a window is given must be one it can have.
    if (window->width() > QWIDGETSIZE_MAX || window->height() > QWIDGETSIZE_MAX) std::abort();
  }
}

void LogFont(qv::fuzz::Input& in) {
  const std::vector<std::uint8_t> bytes = in.Rest();
  const QByteArray stored(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
  if (const auto record = qv::console::LogFontFromBytes(stored)) {
    const QFont font = qv::console::FontFromLogFont(*record);
    (void)qv::console::LogFontFromFont(font);
  }
}

void PortDefault(qv::fuzz::Input& in) {
  const std::vector<std::uint8_t> bytes = in.Rest();
  if (qv::comm::SaveDefaultConfig("vloop0", bytes.data(), DWORD(bytes.size())) != ERROR_SUCCESS)
    return;
  (void)qv::comm::OpeningDcb("vloop0");
  std::vector<std::uint8_t> copy(bytes.size() + 64);
  DWORD size = DWORD(copy.size());
  (void)GetDefaultCommConfigA("vloop0", reinterpret_cast<COMMCONFIG*>(copy.data()), &size);
}

void History(qv::fuzz::Input& in) {
  const QString section = QStringLiteral("Fuzz history");
  for (int i = 0; i < 4; ++i) {
    const std::string text = in.ShortText();
    qv::store::WriteProfileString(section, QString::number(i), QString::fromUtf8(text));
  }
  MruList list;
  list.Load(section, "%d", 4);
  for (const QString& entry : list.Entries()) {
    if (entry.isEmpty() || entry.contains(QLatin1Char('\n'))) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qv::fuzz::App();
  qv::fuzz::StoreFolder();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const qv::fuzz::QuietTrace trace;
  qv::fuzz::Input in(data, size);
  switch (in.Byte() % 4) {
    case 0: Placements(in); break;
    case 1: LogFont(in); break;
    case 2: PortDefault(in); break;
    case 3: History(in); break;
  }
  return 0;
}
