// Splitting an AT command line into its commands, as a modem's command interpreter reads it.
//
// After the "AT" prefix a line holds basic commands (a letter or '&' and a letter, with an
// optional number: E1, V0, &K3) and extended commands ('+' and a name, then nothing, "?", "=?"
// or "=" and arguments up to the next ';' outside quotes). Blanks outside quotes are ignored and
// letters outside quotes are not case-sensitive; quoted text is kept as typed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv::sim {

struct AtCommand {
  enum class Form { kAction, kSet, kRead, kTest };
  // Upper-case name: "E", "&K", "+CMEE".
  std::string name;
  Form form = Form::kAction;
  // Basic commands: the number after the name (absent when none was given).
  std::optional<std::uint32_t> value;
  // Extended set commands: the text after '=', quotes kept.
  std::string args;
};

// Splits the text that follows "AT". Returns nothing for a malformed line (an open quote, a
// character that starts no command, a number too large).
std::optional<std::vector<AtCommand>> SplitAtCommands(std::string_view body);

// One argument of an extended command: a number, a quoted string, or left out (",,").
struct AtArg {
  enum class Kind { kOmitted, kNumber, kString };
  Kind kind = Kind::kOmitted;
  std::uint32_t number = 0;
  std::string text;
};

// Parses a comma-separated argument list; nothing on a malformed list.
std::optional<std::vector<AtArg>> ParseAtArgs(std::string_view args);

}  // namespace qv::sim
