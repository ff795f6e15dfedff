#include "sim/object_frame.h"

namespace qv::sim {
namespace {

std::uint16_t Get16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t Get32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void Put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

ObjectFrameInfo Fail(FrameFault fault) {
  ObjectFrameInfo info;
  info.fault = fault;
  return info;
}

}  // namespace

ObjectFrameInfo CheckObjectFrame(const std::uint8_t* data, std::size_t size) {
  if (size < kObjectFrameOverhead) return Fail(FrameFault::kTooShort);
  // Every size is checked against what is really there before it is used as an offset, so a
  // corrupted field can never send the reader outside the buffer.
  if (Get32(data) != size - 4) return Fail(FrameFault::kLengthField);
  if (Get32(data + 4) != kObjectFrameVersion) return Fail(FrameFault::kVersion);
  if (Get16(data + 8) != 0 || Get16(data + 10) != 0) return Fail(FrameFault::kTitleTag);
  const std::uint32_t titleBytes = Get32(data + 12);
  if (titleBytes % 2 != 0 || titleBytes > size - kObjectFrameOverhead) {
    return Fail(FrameFault::kTitleSize);
  }
  const std::uint8_t* record = data + 16 + titleBytes;
  if (Get16(record + 2) != 1) return Fail(FrameFault::kContentTag);
  const std::uint32_t contentSize = Get32(record + 4);
  if (contentSize != size - kObjectFrameOverhead - titleBytes) {
    return Fail(FrameFault::kContentSize);
  }

  ObjectFrameInfo info;
  info.title.reserve(titleBytes / 2);
  for (std::uint32_t i = 0; i < titleBytes; i += 2) {
    info.title.push_back(static_cast<char16_t>(Get16(data + 16 + i)));
  }
  info.format = Get16(record);
  info.contentOffset = kObjectFrameOverhead + titleBytes;
  info.contentSize = contentSize;
  return info;
}

std::vector<std::uint8_t> BuildObjectFrame(std::string_view title, std::uint16_t format,
                                           const std::vector<std::uint8_t>& content) {
  const auto titleBytes = static_cast<std::uint32_t>(2 * title.size());
  const auto contentSize = static_cast<std::uint32_t>(content.size());
  std::vector<std::uint8_t> out;
  out.reserve(kObjectFrameOverhead + titleBytes + contentSize);
  Put32(out, 20 + titleBytes + contentSize);
  Put32(out, kObjectFrameVersion);
  Put16(out, 0);
  Put16(out, 0);
  Put32(out, titleBytes);
  for (char c : title) Put16(out, static_cast<unsigned char>(c));
  Put16(out, format);
  Put16(out, 1);
  Put32(out, contentSize);
  out.insert(out.end(), content.begin(), content.end());
  return out;
}

const char* FrameFaultName(FrameFault fault) {
  switch (fault) {
    case FrameFault::kNone: return "none";
    case FrameFault::kTooShort: return "too short";
    case FrameFault::kLengthField: return "length field";
    case FrameFault::kVersion: return "version";
    case FrameFault::kTitleTag: return "title tag";
    case FrameFault::kTitleSize: return "title size";
    case FrameFault::kContentTag: return "content tag";
    case FrameFault::kContentSize: return "content size";
  }
  return "?";
}

}  // namespace qv::sim
