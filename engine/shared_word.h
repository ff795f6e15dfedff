// A word that the engine's threads share "without locks": a relaxed atomic, so every access is
// one indivisible load or store (no data race) and nothing more is ordered by it, as with the
// plain 32-bit words the connection has always used.
#pragma once

#include <atomic>

namespace qv::engine {

template <class T>
class SharedWord {
 public:
  constexpr SharedWord() noexcept : value_(T{}) {}
  constexpr SharedWord(T initial) noexcept : value_(initial) {}  // NOLINT: reads like a plain word
  SharedWord(const SharedWord&) = delete;
  SharedWord& operator=(const SharedWord&) = delete;

  operator T() const noexcept { return value_.load(std::memory_order_relaxed); }  // NOLINT
  T Load() const noexcept { return value_.load(std::memory_order_relaxed); }
  SharedWord& operator=(T value) noexcept {
    value_.store(value, std::memory_order_relaxed);
    return *this;
  }
  T Exchange(T value) noexcept { return value_.exchange(value, std::memory_order_relaxed); }
  // Stores desired only while the word still holds expected; true when it did.
  bool CompareExchange(T expected, T desired) noexcept {
    return value_.compare_exchange_strong(expected, desired, std::memory_order_relaxed);
  }
  // Counters: one writer adds, another may zero them; readers accept a slightly stale value.
  T operator+=(T delta) noexcept {
    return value_.fetch_add(delta, std::memory_order_relaxed) + delta;
  }

 private:
  std::atomic<T> value_;
};

}  // namespace qv::engine
