// The capture file: a text a person can read and a program can parse.
//
//   quor_vix-capture 1 start=2026-12-09T20:51:02.125000Z port=vloop0 settings=115200 8N1 flow=none
//   0.000000 OPEN 0 || vloop0
//   0.412311 TX 2 41 54 |AT| line
//   0.415002 RX 4 41 54 0D 0A |AT..|
//
// The first line names the format and its version, the wall-clock time the capture started
// (UTC), the port and its settings. Every other line is one event: seconds since the start with
// six decimals (microseconds, monotonic), the kind, the byte count, the bytes in hexadecimal,
// the same bytes between bars with anything outside 0x20-0x7E as '.', then the event's detail
// to the end of the line (for TX: who wrote the bytes). Events without bytes have the count 0
// and an empty "||". The bar column is exactly count characters long, so a '|' in the data
// needs no escape.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "capture/capture_event.h"

namespace qv::capture {

inline constexpr std::string_view kFormatName = "quor_vix-capture";
inline constexpr int kFormatVersion = 1;
// The most bytes one event holds: the writer splits longer chunks into events of this size.
inline constexpr std::size_t kMostBytesPerEvent = 64 * 1024;
// The longest line a reader takes: the bytes of the largest event and a generous detail.
inline constexpr std::size_t kMostLineLength = 4 * kMostBytesPerEvent + 64 * 1024;

struct Header {
  int version = kFormatVersion;
  std::string start;     // ISO 8601 UTC, microseconds
  std::string port;      // one word
  std::string settings;  // free text to the end of the line
};

// The header line with its line feed. Whitespace and control characters in the port become '_',
// control characters in the settings spaces.
std::string FormatHeader(const Header& header);
// Appends the event's line, with its line feed. A control character in the detail (a line end,
// a tab, an escape) becomes a space.
void AppendEvent(const Event& event, std::string* out);

// One line without its line feed. False with the reason in *error (never a crash, whatever the
// bytes). A control character outside the hexadecimal and character columns is refused: the
// writer never puts one there, and a reader prints the rest as it is.
bool ParseHeader(std::string_view line, Header* header, std::string* error);
bool ParseEvent(std::string_view line, Event* event, std::string* error);

// Bytes 0x20-0x7E as they are, anything else as '.'.
inline char PrintableOrDot(std::uint8_t byte) {
  return byte >= 0x20 && byte <= 0x7E ? char(byte) : '.';
}

}  // namespace qv::capture
