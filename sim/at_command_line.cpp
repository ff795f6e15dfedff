#include "sim/at_command_line.h"

#include <cctype>

namespace qv::sim {
namespace {

bool IsUpper(char c) { return c >= 'A' && c <= 'Z'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsExtendedNameChar(char c) {
  return IsUpper(c) || IsDigit(c) || c == '!' || c == '%' || c == '-' || c == '.' || c == '/' ||
         c == ':' || c == '_';
}

// Blanks outside quotes dropped, letters outside quotes upper-cased. Nothing when a quote stays
// open at the end of the line.
std::optional<std::string> Normalise(std::string_view body) {
  std::string out;
  out.reserve(body.size());
  bool quoted = false;
  for (char c : body) {
    if (c == '"') {
      quoted = !quoted;
      out.push_back(c);
    } else if (quoted) {
      out.push_back(c);
    } else if (c != ' ' && c != '\t') {
      out.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    }
  }
  if (quoted) return std::nullopt;
  return out;
}

// Reads decimal digits at `pos`; false when there are none or the value exceeds 32 bits.
bool ReadNumber(std::string_view text, std::size_t& pos, std::uint32_t& value) {
  const std::size_t start = pos;
  std::uint64_t v = 0;
  while (pos < text.size() && IsDigit(text[pos])) {
    v = v * 10 + static_cast<unsigned>(text[pos] - '0');
    if (v > 0xFFFFFFFFull) return false;
    ++pos;
  }
  value = static_cast<std::uint32_t>(v);
  return pos > start;
}

}  // namespace

std::optional<std::vector<AtCommand>> SplitAtCommands(std::string_view body) {
  const auto text = Normalise(body);
  if (!text) return std::nullopt;
  const std::string_view s = *text;
  std::vector<AtCommand> commands;
  std::size_t pos = 0;
  while (pos < s.size()) {
    if (s[pos] == ';') {  // separator between commands, required after an extended one
      ++pos;
      continue;
    }
    AtCommand cmd;
    if (s[pos] == '+') {
      std::size_t end = pos + 1;
      while (end < s.size() && IsExtendedNameChar(s[end])) ++end;
      if (end == pos + 1) return std::nullopt;
      cmd.name = std::string(s.substr(pos, end - pos));
      pos = end;
      if (s.substr(pos, 2) == "=?") {
        cmd.form = AtCommand::Form::kTest;
        pos += 2;
      } else if (pos < s.size() && s[pos] == '?') {
        cmd.form = AtCommand::Form::kRead;
        ++pos;
      } else if (pos < s.size() && s[pos] == '=') {
        cmd.form = AtCommand::Form::kSet;
        std::size_t argEnd = ++pos;
        bool quoted = false;
        while (argEnd < s.size() && (quoted || s[argEnd] != ';')) {
          if (s[argEnd] == '"') quoted = !quoted;
          ++argEnd;
        }
        cmd.args = std::string(s.substr(pos, argEnd - pos));
        pos = argEnd;
      }
      // Anything but the end of the line or ';' after an extended command is malformed.
      if (pos < s.size() && s[pos] != ';') return std::nullopt;
    } else {
      std::size_t end = pos;
      if (s[end] == '&') ++end;
      if (end >= s.size() || !IsUpper(s[end])) return std::nullopt;
      ++end;
      cmd.name = std::string(s.substr(pos, end - pos));
      pos = end;
      if (pos < s.size() && s[pos] == '?') {
        cmd.form = AtCommand::Form::kRead;
        ++pos;
      } else if (pos < s.size() && IsDigit(s[pos])) {
        std::uint32_t v = 0;
        if (!ReadNumber(s, pos, v)) return std::nullopt;
        cmd.value = v;
      }
    }
    commands.push_back(std::move(cmd));
  }
  return commands;
}

std::optional<std::vector<AtArg>> ParseAtArgs(std::string_view args) {
  std::vector<AtArg> out;
  std::size_t pos = 0;
  while (true) {
    AtArg arg;
    if (pos < args.size() && args[pos] == '"') {
      const std::size_t close = args.find('"', pos + 1);
      if (close == std::string_view::npos) return std::nullopt;
      arg.kind = AtArg::Kind::kString;
      arg.text = std::string(args.substr(pos + 1, close - pos - 1));
      pos = close + 1;
    } else if (pos < args.size() && IsDigit(args[pos])) {
      arg.kind = AtArg::Kind::kNumber;
      if (!ReadNumber(args, pos, arg.number)) return std::nullopt;
    }
    out.push_back(std::move(arg));
    if (pos == args.size()) return out;
    if (args[pos] != ',') return std::nullopt;
    ++pos;
  }
}

}  // namespace qv::sim
