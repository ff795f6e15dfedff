#include "console/received_text.h"

namespace qv::console {
namespace {

// Windows-1252 from 0x80 to 0x9F; the five unassigned bytes keep their own code.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr char kHexDigits[] = "0123456789ABCDEF";

}  // namespace

QString ReceivedText(const BYTE* data, DWORD count) {
  QString text(qsizetype(count), Qt::Uninitialized);
  char16_t* out = reinterpret_cast<char16_t*>(text.data());
  for (DWORD i = 0; i < count; ++i) {
    BYTE b = data[i];
    if (b == 0) b = 0xD8;  // so that the chunk is one NUL-terminated text
    out[i] = (b >= 0x80 && b < 0xA0) ? kCp1252High[b - 0x80] : char16_t(b);
  }
  return text;
}

QString HexCells(const BYTE* data, DWORD count) {
  QString text(qsizetype(count) * 5, Qt::Uninitialized);
  char16_t* out = reinterpret_cast<char16_t*>(text.data());
  for (DWORD i = 0; i < count; ++i) {
    const BYTE b = data[i];
    *out++ = u'<';
    *out++ = char16_t(kHexDigits[b >> 4]);
    *out++ = char16_t(kHexDigits[b & 0xF]);
    *out++ = u'>';
    *out++ = u'\t';
  }
  return text;
}

}  // namespace qv::console
