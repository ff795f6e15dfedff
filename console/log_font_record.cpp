#include "console/log_font_record.h"

#include <QFontInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QStringDecoder>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace qv::console {
namespace {

// Larger than any font the font dialog offers, small enough to lay out.
constexpr LONG kMaxFontPixels = 1000;

}  // namespace

double ScreenDpi() {
  if (QScreen* s = QGuiApplication::primaryScreen()) return s->logicalDotsPerInchY();
  return 96.0;
}

LOGFONTA LogFontFromFont(const QFont& font) {
  LOGFONTA lf{};
  const double dpi = ScreenDpi();
  if (font.pointSizeF() > 0) lf.lfHeight = -LONG(std::lround(font.pointSizeF() * dpi / 72.0));
  else if (font.pixelSize() > 0) lf.lfHeight = -LONG(font.pixelSize());
  lf.lfWeight = font.weight();
  lf.lfItalic = font.italic() ? 1 : 0;
  lf.lfUnderline = font.underline() ? 1 : 0;
  lf.lfStrikeOut = font.strikeOut() ? 1 : 0;
  lf.lfCharSet = ANSI_CHARSET;
  const bool fixed = QFontInfo(font).fixedPitch();
  lf.lfPitchAndFamily = fixed ? BYTE(FIXED_PITCH | FF_MODERN) : BYTE(VARIABLE_PITCH | FF_SWISS);
  // The face name is cut at a character boundary so that it stays valid UTF-8.
  QByteArray face = font.family().toUtf8();
  qsizetype n = std::min<qsizetype>(face.size(), LF_FACESIZE - 1);
  while (n > 0 && n < face.size() && (static_cast<unsigned char>(face[n]) & 0xC0) == 0x80) --n;
  std::memcpy(lf.lfFaceName, face.constData(), size_t(n));
  lf.lfFaceName[n] = 0;
  return lf;
}

QFont FontFromLogFont(const LOGFONTA& lf) {
  QFont font;
  // The face name may fill all 32 bytes without a terminator in a damaged record.
  const char* end = static_cast<const char*>(std::memchr(lf.lfFaceName, 0, LF_FACESIZE));
  const qsizetype len = end ? end - lf.lfFaceName : LF_FACESIZE;
  const QString face = QString::fromUtf8(lf.lfFaceName, len);
  if (!face.isEmpty()) font.setFamily(face);
  const double dpi = ScreenDpi();
  // A damaged record must not ask for a font of millions of points.
  if (lf.lfHeight < 0)
    font.setPointSizeF(std::clamp(double(-qint64(lf.lfHeight)) * 72.0 / dpi, 1.0, 500.0));
  else if (lf.lfHeight > 0) font.setPixelSize(int(std::min<LONG>(lf.lfHeight, 1000)));
  if (lf.lfWeight > 0) font.setWeight(QFont::Weight(std::clamp<LONG>(lf.lfWeight, 1, 1000)));
  font.setItalic(lf.lfItalic != 0);
  font.setUnderline(lf.lfUnderline != 0);
  font.setStrikeOut(lf.lfStrikeOut != 0);
  if ((lf.lfPitchAndFamily & 0x3) == FIXED_PITCH) {
    font.setFixedPitch(true);
    font.setStyleHint(QFont::Monospace);
  }
  return font;
}

QByteArray LogFontBytes(const LOGFONTA& record) {
  return QByteArray(reinterpret_cast<const char*>(&record), sizeof(record));
}

std::optional<LOGFONTA> LogFontFromBytes(const QByteArray& bytes) {
  if (bytes.size() != qsizetype(sizeof(LOGFONTA))) return std::nullopt;
  LOGFONTA lf;
  std::memcpy(&lf, bytes.constData(), sizeof(lf));
  // What LogFontFromFont writes: a terminated UTF-8 face name, a height and weight a font can
  // have.
  const char* end = static_cast<const char*>(std::memchr(lf.lfFaceName, 0, LF_FACESIZE));
  if (end == nullptr) return std::nullopt;
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  const QString face = utf8(QByteArrayView(lf.lfFaceName, end - lf.lfFaceName));
  if (utf8.hasError()) return std::nullopt;
  if (lf.lfHeight < -kMaxFontPixels || lf.lfHeight > kMaxFontPixels) return std::nullopt;
  if (lf.lfWeight < 0 || lf.lfWeight > 1000) return std::nullopt;
  return lf;
}

}  // namespace qv::console
