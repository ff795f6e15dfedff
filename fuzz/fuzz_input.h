// The fuzz targets' view of one input: values taken from its front, in order, each falling back
// to zero (or empty) once the input runs out, so that every input is a valid sequence of choices.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace qv::fuzz {

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::size_t Left() const { return size_ - at_; }
  bool Empty() const { return at_ == size_; }

  std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  bool Bool() { return Byte() & 1; }
  std::uint32_t U32() {
    std::uint32_t v = 0;
    const std::size_t n = std::min<std::size_t>(4, Left());
    std::memcpy(&v, data_ + at_, n);
    at_ += n;
    return v;
  }
  std::int32_t I32() { return static_cast<std::int32_t>(U32()); }
  // A value in [0, bound) (bound > 0).
  std::uint32_t Below(std::uint32_t bound) { return U32() % bound; }

  // Up to n bytes.
  std::vector<std::uint8_t> Bytes(std::size_t n) {
    n = std::min(n, Left());
    std::vector<std::uint8_t> out(data_ + at_, data_ + at_ + n);
    at_ += n;
    return out;
  }
  // A text of a length given by the next byte (at most 255 bytes).
  std::string ShortText() {
    const std::vector<std::uint8_t> b = Bytes(Byte());
    return std::string(b.begin(), b.end());
  }
  // Everything not taken yet.
  std::vector<std::uint8_t> Rest() { return Bytes(Left()); }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

}  // namespace qv::fuzz
