// A FIFO of bytes in a ring that grows on demand: a driver queue of a few KiB to many MiB costs
// only what it holds.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace qv::comm {

class ByteQueue {
 public:
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

  void Push(const std::uint8_t* data, std::size_t count) {
    if (size_ + count > ring_.size()) Grow(size_ + count);
    std::size_t tail = (head_ + size_) % ring_.size();
    const std::size_t first = std::min(count, ring_.size() - tail);
    std::memcpy(ring_.data() + tail, data, first);
    std::memcpy(ring_.data(), data + first, count - first);
    size_ += count;
  }

  // Moves up to max bytes out; returns how many.
  std::size_t Pop(std::uint8_t* out, std::size_t max) {
    const std::size_t count = std::min(max, size_);
    if (count == 0) return 0;
    const std::size_t first = std::min(count, ring_.size() - head_);
    std::memcpy(out, ring_.data() + head_, first);
    std::memcpy(out + first, ring_.data(), count - first);
    head_ = (head_ + count) % ring_.size();
    size_ -= count;
    return count;
  }

  void Clear() {
    head_ = 0;
    size_ = 0;
  }

 private:
  void Grow(std::size_t needed) {
    std::size_t capacity = std::max<std::size_t>(ring_.size() * 2, 4096);
    while (capacity < needed) capacity *= 2;
    std::vector<std::uint8_t> bigger(capacity);
    const std::size_t held = size_;
    Pop(bigger.data(), held);
    ring_.swap(bigger);
    head_ = 0;
    size_ = held;
  }

  std::vector<std::uint8_t> ring_;
  std::size_t head_ = 0;
  std::size_t size_ = 0;
};

}  // namespace qv::comm
