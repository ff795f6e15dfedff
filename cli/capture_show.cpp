#include "cli/capture_show.h"

#include <array>
#include <charconv>
#include <cstdio>

#include "capture/capture_format.h"

namespace qv::cli {
namespace {

using qv::capture::Kind;

constexpr std::size_t kRowBytes = 16;

struct KindGroup {
  const char* name;
  std::vector<Kind> kinds;
};

const std::array<KindGroup, 6>& KindGroups() {
  static const std::array<KindGroup, 6> groups{{
      {"rx", {Kind::kRx}},
      {"tx", {Kind::kTx}},
      {"lines", {Kind::kModem, Kind::kLineError, Kind::kBreak}},
      {"config", {Kind::kConfig}},
      {"port", {Kind::kOpen, Kind::kClose, Kind::kArrival, Kind::kRemoval}},
      {"tests", {Kind::kVerdict}},
  }};
  return groups;
}

// "12", "1.5", "0.000250": seconds with at most six decimals, as microseconds.
bool ParseSeconds(const std::string& text, std::uint64_t* micros) {
  const std::size_t point = text.find('.');
  const std::string whole = text.substr(0, point);
  std::string fraction = point == std::string::npos ? "" : text.substr(point + 1);
  if (whole.empty() || whole.size() > 12 || fraction.size() > 6 ||
      (point != std::string::npos && fraction.empty()) ||
      whole.find_first_not_of("0123456789") != std::string::npos ||
      fraction.find_first_not_of("0123456789") != std::string::npos)
    return false;
  fraction.resize(6, '0');
  *micros = std::stoull(whole) * 1000000 + std::stoull(fraction);
  return true;
}

std::string Seconds(std::uint64_t micros) {
  char text[32];
  std::snprintf(text, sizeof text, "%llu.%06llu", static_cast<unsigned long long>(micros / 1000000),
                static_cast<unsigned long long>(micros % 1000000));
  return text;
}

void WriteRows(const std::vector<std::uint8_t>& bytes, std::uint64_t offset, std::ostream& out) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string row;
  for (std::size_t at = 0; at < bytes.size(); at += kRowBytes) {
    const std::size_t n = std::min(kRowBytes, bytes.size() - at);
    char head[32];
    std::snprintf(head, sizeof head, "    %08llX  ", static_cast<unsigned long long>(offset + at));
    row = head;
    for (std::size_t i = 0; i < kRowBytes; ++i) {
      if (i < n) {
        row += kHex[bytes[at + i] >> 4];
        row += kHex[bytes[at + i] & 0x0F];
        row += ' ';
      } else {
        row += "   ";
      }
      if (i == 7) row += ' ';
    }
    row += " |";
    for (std::size_t i = 0; i < n; ++i) row += qv::capture::PrintableOrDot(bytes[at + i]);
    row += "|\n";
    out << row;
  }
}

void WriteEvent(const qv::capture::Event& event, std::uint64_t offset, std::ostream& out) {
  out << Seconds(event.micros) << ' ' << qv::capture::KindName(event.kind);
  if (event.kind == Kind::kRx || event.kind == Kind::kTx || !event.bytes.empty())
    out << ' ' << event.bytes.size() << (event.bytes.size() == 1 ? " byte" : " bytes");
  if (!event.detail.empty()) {
    if (event.kind == Kind::kTx) {
      out << " (" << event.detail << ')';
    } else {
      out << ' ' << event.detail;
    }
  }
  out << '\n';
  WriteRows(event.bytes, offset, out);
}

// Splits the stream into lines of at most kMostLineLength, without holding more than one.
class LineReader {
 public:
  explicit LineReader(std::istream& in) : in_(in) {}
  enum class Result { kLine, kLastWithoutFeed, kTooLong, kEnd };
  Result Next(std::string* line) {
    line->clear();
    for (;;) {
      const int c = in_.rdbuf() == nullptr ? std::char_traits<char>::eof() : in_.rdbuf()->sbumpc();
      if (c == std::char_traits<char>::eof())
        return line->empty() ? Result::kEnd : Result::kLastWithoutFeed;
      if (c == '\n') return Result::kLine;
      if (line->size() >= qv::capture::kMostLineLength) return Result::kTooLong;
      line->push_back(char(c));
    }
  }

 private:
  std::istream& in_;
};

}  // namespace

bool ParseShowOptions(const std::vector<std::string>& args, ShowOptions* options,
                      std::string* error) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    std::string value;
    const std::size_t equals = arg.rfind("--", 0) == 0 ? arg.find('=') : std::string::npos;
    const bool inlineValue = equals != std::string::npos;
    if (inlineValue) {
      value = arg.substr(equals + 1);
      arg.resize(equals);
    }
    const auto takeValue = [&]() -> bool {
      if (inlineValue) return true;
      if (i + 1 >= args.size()) {
        *error = arg + " needs a value";
        return false;
      }
      value = args[++i];
      return true;
    };
    if (arg == "--since") {
      if (!takeValue()) return false;
      if (!ParseSeconds(value, &options->sinceMicros)) {
        *error = "--since takes seconds since the capture's start (12, 1.5), not \"" + value + "\"";
        return false;
      }
    } else if (arg == "--kind") {
      if (!takeValue()) return false;
      std::size_t at = 0;
      do {
        const std::size_t comma = value.find(',', at);
        const std::string name = value.substr(at, comma == std::string::npos ? comma : comma - at);
        at = comma == std::string::npos ? value.size() + 1 : comma + 1;
        bool known = false;
        for (const KindGroup& group : KindGroups()) {
          if (name != group.name) continue;
          options->kinds.insert(group.kinds.begin(), group.kinds.end());
          known = true;
        }
        if (!known) {
          *error =
              "--kind takes rx, tx, lines, config, port and tests, separated by commas, "
              "not \"" +
              name + "\"";
          return false;
        }
      } while (at <= value.size());
    } else if (arg.rfind("-", 0) == 0 && arg != "-") {
      *error = "unknown option " + args[i];
      return false;
    } else if (options->file.empty()) {
      options->file = arg;
    } else {
      *error = "capture show takes one file, not also \"" + arg + "\"";
      return false;
    }
  }
  if (options->file.empty()) {
    *error = "capture show needs a file";
    return false;
  }
  return true;
}

ShowEnd ShowCapture(std::istream& in, const ShowOptions& options, std::ostream& out,
                    std::string* error) {
  LineReader reader(in);
  std::string line;
  std::uint64_t number = 1;
  const auto bad = [&](const std::string& why) {
    *error = "line " + std::to_string(number) + ": " + why;
    return ShowEnd::kBad;
  };
  LineReader::Result read = reader.Next(&line);
  if (read == LineReader::Result::kEnd) return bad("the file is empty: not a capture");
  if (read == LineReader::Result::kTooLong) return bad("longer than any line of a capture");
  qv::capture::Header header;
  std::string why;
  if (!qv::capture::ParseHeader(line, &header, &why)) return bad(why);
  out << "capture of " << header.port << " started " << header.start;
  if (!header.settings.empty()) out << ", " << header.settings;
  out << '\n';

  std::uint64_t rxOffset = 0;
  std::uint64_t txOffset = 0;
  qv::capture::Event event;
  while (read == LineReader::Result::kLine) {
    ++number;
    read = reader.Next(&line);
    if (read == LineReader::Result::kEnd) break;
    if (read == LineReader::Result::kTooLong) return bad("longer than any line of a capture");
    if (!qv::capture::ParseEvent(line, &event, &why)) {
      if (read == LineReader::Result::kLastWithoutFeed) {
        *error = "line " + std::to_string(number) +
                 " is cut short: the capture ended while it was being written";
        return ShowEnd::kIncomplete;
      }
      return bad(why);
    }
    std::uint64_t& offset = event.kind == Kind::kTx ? txOffset : rxOffset;
    const std::uint64_t at = offset;
    if (event.kind == Kind::kRx || event.kind == Kind::kTx) offset += event.bytes.size();
    const bool always = event.kind == Kind::kDropped || event.kind == Kind::kStop;
    if (!always && event.micros < options.sinceMicros) continue;
    if (!always && !options.kinds.empty() && !options.kinds.count(event.kind)) continue;
    WriteEvent(event, at, out);
  }
  if (read == LineReader::Result::kLastWithoutFeed) {
    *error = "line " + std::to_string(number) +
             " ends without a line feed: the capture ended while it was being written";
    return ShowEnd::kIncomplete;
  }
  return ShowEnd::kComplete;
}

}  // namespace qv::cli
