// Who asked for a write ("line", "char", "file", "object", a driver test's name), as a small
// number that travels with the request to the thread that writes it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qv::capture {

using SourceId = std::uint32_t;
inline constexpr SourceId kNoSource = 0;

// The same number for the same name, for the life of the process; kNoSource for an empty name
// or once the table is full (a few thousand names: far more than the program has).
SourceId InternSource(std::string_view name);
// Empty for kNoSource or an unknown number.
std::string SourceName(SourceId id);

}  // namespace qv::capture
