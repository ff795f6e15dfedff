// Builds a version resource in the Win32 VS_VERSIONINFO layout (wide-character form).
//
// The build runs this through a small generator (support/version_gen/version_gen_main.cpp) to embed the
// program's own resource as a byte array; tests build their blocks with the same code.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace qv::support {

struct VersionResourceFields {
  std::uint16_t major = 0;
  std::uint16_t minor = 0;
  std::uint16_t build = 0;
  std::uint16_t revision = 0;
  std::uint32_t fileFlags = 0;  // VS_FF_* bits
  // Translations written to "\VarFileInfo\Translation", each language << 16 | code page.
  // Empty: the block has no VarFileInfo (and no string table).
  std::vector<std::uint32_t> translations{0x040C04B0};
  // Strings of the first translation's table, in order (UTF-8 names and values).
  std::vector<std::pair<std::string, std::string>> strings;
};

std::vector<unsigned char> BuildVersionResource(const VersionResourceFields& fields);

}  // namespace qv::support
