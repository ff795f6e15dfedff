#include "capture/capture_format.h"

#include <array>
#include <charconv>
#include <cstring>

namespace qv::capture {
namespace {

struct KindEntry {
  Kind kind;
  const char* name;
};

constexpr std::array<KindEntry, 13> kKinds{{
    {Kind::kRx, "RX"},
    {Kind::kTx, "TX"},
    {Kind::kModem, "MODEM"},
    {Kind::kLineError, "ERROR"},
    {Kind::kBreak, "BREAK"},
    {Kind::kConfig, "CONFIG"},
    {Kind::kOpen, "OPEN"},
    {Kind::kClose, "CLOSE"},
    {Kind::kArrival, "ARRIVAL"},
    {Kind::kRemoval, "REMOVAL"},
    {Kind::kVerdict, "VERDICT"},
    {Kind::kDropped, "DROPPED"},
    {Kind::kStop, "STOP"},
}};

constexpr char kHexDigits[] = "0123456789ABCDEF";

bool IsControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }

// A detail or a header field is text on one line: line ends, tabs, escapes and any other control
// character become `as`. A reader may print the file to a terminal, where they would act.
void AppendFlattened(std::string_view text, char as, std::string* out) {
  for (const char c : text) out->push_back(IsControl(c) ? as : c);
}

bool HasControl(std::string_view text) {
  for (const char c : text)
    if (IsControl(c)) return true;
  return false;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Takes the text up to the next space (or the end) off the front of *rest.
std::string_view TakeWord(std::string_view* rest) {
  const std::size_t space = rest->find(' ');
  const std::string_view word = rest->substr(0, space);
  rest->remove_prefix(space == std::string_view::npos ? rest->size() : space + 1);
  return word;
}

bool ParseDecimal(std::string_view text, std::uint64_t* value) {
  if (text.empty() || text.size() > 19) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return ec == std::errc() && end == text.data() + text.size();
}

}  // namespace

const char* KindName(Kind kind) {
  for (const KindEntry& entry : kKinds)
    if (entry.kind == kind) return entry.name;
  return "?";
}

bool KindFromName(std::string_view name, Kind* kind) {
  for (const KindEntry& entry : kKinds) {
    if (name == entry.name) {
      *kind = entry.kind;
      return true;
    }
  }
  return false;
}

std::string FormatHeader(const Header& header) {
  std::string line(kFormatName);
  line += ' ';
  line += std::to_string(header.version);
  line += " start=";
  AppendFlattened(header.start, '_', &line);
  line += " port=";
  if (header.port.empty()) line += '-';
  for (const char c : header.port) line.push_back(c == ' ' || IsControl(c) ? '_' : c);
  line += " settings=";
  AppendFlattened(header.settings, ' ', &line);
  line += '\n';
  return line;
}

void AppendEvent(const Event& event, std::string* out) {
  char stamp[48];
  const auto seconds = static_cast<unsigned long long>(event.micros / 1000000);
  const auto micros = static_cast<unsigned>(event.micros % 1000000);
  char* end = std::to_chars(stamp, stamp + 24, seconds).ptr;
  *end++ = '.';
  for (int digit = 5; digit >= 0; --digit) {
    unsigned rest = micros;
    for (int i = 0; i < digit; ++i) rest /= 10;
    *end++ = char('0' + rest % 10);
  }
  out->append(stamp, end);
  *out += ' ';
  *out += KindName(event.kind);
  *out += ' ';
  *out += std::to_string(event.bytes.size());
  const std::size_t count = event.bytes.size();
  // " XX" per byte, " |", a character per byte, "|". A flood's bytes all pass here on the
  // writer's thread: each byte's three characters are one copy from a table, its character
  // column entry one load.
  static const auto kCells = [] {
    std::array<std::array<char, 4>, 256> cells{};
    for (int b = 0; b < 256; ++b) cells[b] = {' ', kHexDigits[b >> 4], kHexDigits[b & 0x0F], 0};
    return cells;
  }();
  static const auto kColumn = [] {
    std::array<char, 256> column{};
    for (int b = 0; b < 256; ++b) column[b] = PrintableOrDot(std::uint8_t(b));
    return column;
  }();
  const std::size_t at = out->size();
  // One spare character: each cell is copied four at a time, the fourth overwritten next.
  out->resize(at + 4 * count + 4);
  char* hex = out->data() + at;
  for (const std::uint8_t byte : event.bytes) {
    std::memcpy(hex, kCells[byte].data(), 4);
    hex += 3;
  }
  *hex++ = ' ';
  *hex++ = '|';
  for (const std::uint8_t byte : event.bytes) *hex++ = kColumn[byte];
  *hex++ = '|';
  out->resize(std::size_t(hex - out->data()));
  if (!event.detail.empty()) {
    *out += ' ';
    AppendFlattened(event.detail, ' ', out);
  }
  *out += '\n';
}

bool ParseHeader(std::string_view line, Header* header, std::string* error) {
  std::string_view rest = line;
  if (!rest.empty() && rest.back() == '\r') rest.remove_suffix(1);
  if (TakeWord(&rest) != kFormatName) {
    *error =
        "not a capture: the first line does not start with \"" + std::string(kFormatName) + "\"";
    return false;
  }
  if (HasControl(rest)) {
    *error = "the header holds a control character";
    return false;
  }
  std::uint64_t version = 0;
  const std::string_view versionText = TakeWord(&rest);
  if (!ParseDecimal(versionText, &version)) {
    *error = "the header has no format version";
    return false;
  }
  if (version != std::uint64_t(kFormatVersion)) {
    *error = "format version " + std::string(versionText) + " is not one this program reads (" +
             std::to_string(kFormatVersion) + ")";
    return false;
  }
  header->version = int(version);
  const struct {
    std::string_view key;
    std::string* value;
    bool lastField;
  } fields[] = {{"start=", &header->start, false},
                {"port=", &header->port, false},
                {"settings=", &header->settings, true}};
  for (const auto& field : fields) {
    if (rest.substr(0, field.key.size()) != field.key) {
      *error = "the header has no \"" + std::string(field.key) + "\" field";
      return false;
    }
    rest.remove_prefix(field.key.size());
    *field.value = std::string(field.lastField ? rest : TakeWord(&rest));
  }
  return true;
}

bool ParseEvent(std::string_view line, Event* event, std::string* error) {
  std::string_view rest = line;
  if (!rest.empty() && rest.back() == '\r') rest.remove_suffix(1);
  const std::string_view stamp = TakeWord(&rest);
  const std::size_t point = stamp.find('.');
  std::uint64_t seconds = 0;
  std::uint64_t micros = 0;
  if (point == std::string_view::npos || stamp.size() - point != 7 ||
      !ParseDecimal(stamp.substr(0, point), &seconds) || seconds > 1000000000000ull ||
      !ParseDecimal(stamp.substr(point + 1), &micros)) {
    *error =
        "the time \"" + std::string(stamp.substr(0, 32)) + "\" is not seconds with six decimals";
    return false;
  }
  event->micros = seconds * 1000000 + micros;
  const std::string_view kindName = TakeWord(&rest);
  if (!KindFromName(kindName, &event->kind)) {
    *error = "unknown event kind \"" + std::string(kindName.substr(0, 32)) + "\"";
    return false;
  }
  std::uint64_t count = 0;
  const std::string_view countText = TakeWord(&rest);
  if (!ParseDecimal(countText, &count) || count > std::uint64_t(kMostBytesPerEvent)) {
    *error = "the byte count \"" + std::string(countText.substr(0, 32)) + "\" is not a count";
    return false;
  }
  // Each byte takes 3 characters as hex, one in the bar column: a shorter line cannot hold them.
  if (count > rest.size() / 4) {
    *error = "the line is too short for its " + std::to_string(count) + " bytes";
    return false;
  }
  event->bytes.resize(count);
  for (std::uint64_t i = 0; i < count; ++i) {
    const int high = HexValue(rest[0]);
    const int low = HexValue(rest[1]);
    if (high < 0 || low < 0 || rest[2] != ' ') {
      *error = "byte " + std::to_string(i + 1) + " is not two hexadecimal digits";
      return false;
    }
    event->bytes[i] = std::uint8_t(high << 4 | low);
    rest.remove_prefix(3);
  }
  if (rest.size() < count + 2 || rest[0] != '|' || rest[count + 1] != '|') {
    *error = "the character column is not " + std::to_string(count) + " characters between bars";
    return false;
  }
  for (std::uint64_t i = 0; i < count; ++i) {
    if (rest[1 + i] != PrintableOrDot(event->bytes[i])) {
      *error = "the character column differs from the bytes at byte " + std::to_string(i + 1);
      return false;
    }
  }
  rest.remove_prefix(count + 2);
  if (!rest.empty() && rest[0] != ' ') {
    *error = "text right after the character column";
    return false;
  }
  if (HasControl(rest)) {
    *error = "a control character after the character column";
    return false;
  }
  event->detail = std::string(rest.empty() ? rest : rest.substr(1));
  return true;
}

}  // namespace qv::capture
