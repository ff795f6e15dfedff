// The log font as a Win32 LOGFONTA record (60 bytes), the layout stored as "ConsoleFont".
#pragma once

#include <QByteArray>
#include <QFont>
#include <optional>

#include "platform/types.h"

constexpr int LF_FACESIZE = 32;
constexpr LONG FW_NORMAL = 400;
constexpr LONG FW_BOLD = 700;
constexpr BYTE ANSI_CHARSET = 0;
constexpr BYTE DEFAULT_PITCH = 0;
constexpr BYTE FIXED_PITCH = 1;
constexpr BYTE VARIABLE_PITCH = 2;
constexpr BYTE FF_DONTCARE = 0x00;
constexpr BYTE FF_ROMAN = 0x10;
constexpr BYTE FF_SWISS = 0x20;
constexpr BYTE FF_MODERN = 0x30;

struct LOGFONTA {
  LONG lfHeight;  // < 0: character (em) height in pixels; > 0: cell height; 0: default
  LONG lfWidth;
  LONG lfEscapement;
  LONG lfOrientation;
  LONG lfWeight;
  BYTE lfItalic;
  BYTE lfUnderline;
  BYTE lfStrikeOut;
  BYTE lfCharSet;
  BYTE lfOutPrecision;
  BYTE lfClipPrecision;
  BYTE lfQuality;
  BYTE lfPitchAndFamily;
  char lfFaceName[LF_FACESIZE];
};
static_assert(sizeof(LOGFONTA) == 60);

namespace qv::console {

// Screen resolution used for point <-> pixel conversion (the primary screen's logical dpi).
double ScreenDpi();

LOGFONTA LogFontFromFont(const QFont& font);
QFont FontFromLogFont(const LOGFONTA& record);

QByteArray LogFontBytes(const LOGFONTA& record);
// The record in a stored value; empty when the value is not exactly one record long or is no
// font (a face name without its end or not UTF-8, a height beyond 1000 pixels, a weight beyond
// 1000).
std::optional<LOGFONTA> LogFontFromBytes(const QByteArray& bytes);

}  // namespace qv::console
