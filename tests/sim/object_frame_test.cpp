#include <gtest/gtest.h>

#include "sim/object_frame.h"

namespace {

using qv::sim::BuildObjectFrame;
using qv::sim::CheckObjectFrame;
using qv::sim::FrameFault;

TEST(ObjectFrame, BuildsTheConsoleLayout) {
  const auto frame = BuildObjectFrame("song", 0x0102, {0xAA, 0xBB});
  const std::vector<std::uint8_t> expected = {
      30,  0, 0,   0, 1,   0, 1,   0, 0,    0,   0, 0, 8, 0, 0, 0,  // length, version, title header
      's', 0, 'o', 0, 'n', 0, 'g', 0,                               // title, 16-bit units
      2,   1, 1,   0, 2,   0, 0,   0, 0xAA, 0xBB};                  // content header and content
  EXPECT_EQ(frame, expected);

  const auto info = CheckObjectFrame(frame.data(), frame.size());
  EXPECT_EQ(info.fault, FrameFault::kNone);
  EXPECT_EQ(info.title, u"song");
  EXPECT_EQ(info.format, 0x0102);
  EXPECT_EQ(info.contentOffset, 32u);
  EXPECT_EQ(info.contentSize, 2u);
}

TEST(ObjectFrame, NamesEachFault) {
  const auto good = BuildObjectFrame("ab", 1, {1, 2, 3});
  auto check = [](std::vector<std::uint8_t> f) {
    return CheckObjectFrame(f.data(), f.size()).fault;
  };
  auto patched = [&](std::size_t offset, std::uint8_t value) {
    auto f = good;
    f[offset] = value;
    return f;
  };
  EXPECT_EQ(check({good.begin(), good.begin() + 23}), FrameFault::kTooShort);
  EXPECT_EQ(check(patched(0, 0)), FrameFault::kLengthField);
  EXPECT_EQ(check(patched(7, 1)), FrameFault::kVersion);
  EXPECT_EQ(check(patched(10, 1)), FrameFault::kTitleTag);
  EXPECT_EQ(check(patched(12, 5)), FrameFault::kTitleSize);     // odd
  EXPECT_EQ(check(patched(15, 0x80)), FrameFault::kTitleSize);  // far past the end
  EXPECT_EQ(check(patched(12, 0)), FrameFault::kContentTag);    // title shorter than sent
  EXPECT_EQ(check(patched(22, 0)), FrameFault::kContentTag);
  EXPECT_EQ(check(patched(24, 4)), FrameFault::kContentSize);
}

}  // namespace

namespace {

// Every prefix of a frame is refused, and no corruption of the size fields makes the check read
// past the bytes it was given (run under the address sanitizer to see the latter).
TEST(ObjectFrame, RefusesTruncationsAndHostileSizes) {
  const auto good = BuildObjectFrame("title", 7, std::vector<std::uint8_t>(40, 0x11));
  for (std::size_t size = 0; size < good.size(); ++size) {
    std::vector<std::uint8_t> prefix(good.begin(), good.begin() + size);
    EXPECT_NE(CheckObjectFrame(prefix.data(), prefix.size()).fault, FrameFault::kNone) << size;
  }
  for (std::size_t field : {0u, 12u, 30u}) {  // total length, title size, content size
    for (std::uint32_t value : {0u, 1u, 0x7FFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFF0u}) {
      auto bad = good;
      for (int i = 0; i < 4; ++i) bad[field + i] = static_cast<std::uint8_t>(value >> (8 * i));
      EXPECT_NE(CheckObjectFrame(bad.data(), bad.size()).fault, FrameFault::kNone)
          << field << " " << value;
    }
  }
}

}  // namespace
