// The framed phone object that follows an AT+KPSW write command.
//
// Layout (all integers little-endian; n = title length in characters, S = content size):
//   0        u32  20 + 2n + S, the number of bytes after this field
//   4        u32  0x00010001
//   8        u16  0, tag of the title record
//   10       u16  0
//   12       u32  2n, size of the title in bytes
//   16       2n   the title, one 16-bit unit per character, no terminator
//   16 + 2n  u16  object format number
//   18 + 2n  u16  1
//   20 + 2n  u32  S
//   24 + 2n  S    the content
// so a whole frame is 24 + 2n + S bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qv::sim {

constexpr std::size_t kObjectFrameOverhead = 24;
constexpr std::uint32_t kObjectFrameVersion = 0x00010001;

// What CheckObjectFrame found wrong, in the order the checks run.
enum class FrameFault {
  kNone,
  kTooShort,     // fewer bytes than the fixed fields need
  kLengthField,  // first field is not the count of the bytes that follow it
  kVersion,      // second field is not 0x00010001
  kTitleTag,     // title record header is not 0, 0
  kTitleSize,    // odd title size, or a title that runs past the frame
  kContentTag,   // content record's second word is not 1
  kContentSize,  // content size does not fill the rest of the frame exactly
};

struct ObjectFrameInfo {
  FrameFault fault = FrameFault::kNone;
  std::u16string title;
  std::uint16_t format = 0;
  std::size_t contentOffset = 0;
  std::size_t contentSize = 0;
};

// Checks that `size` bytes are exactly one well-formed object frame and reads its fields.
ObjectFrameInfo CheckObjectFrame(const std::uint8_t* data, std::size_t size);

// Builds a frame as the console sends it: each byte of the narrow title widened to one unit.
std::vector<std::uint8_t> BuildObjectFrame(std::string_view title, std::uint16_t format,
                                           const std::vector<std::uint8_t>& content);

const char* FrameFaultName(FrameFault fault);

}  // namespace qv::sim
