// A pseudo-terminal pair for tests: the port under test opens the terminal side by its path, the
// test is the far end on the master side. No real serial device is ever involved.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qv::test {

class PtyPair {
 public:
  PtyPair() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0) {
      char name[128];
      if (::ptsname_r(master_, name, sizeof name) == 0) path_ = name;
    }
  }
  ~PtyPair() { CloseFarEnd(); }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool ok() const { return master_ >= 0 && !path_.empty(); }
  // The terminal side, which the port opens.
  const std::string& path() const { return path_; }
  int master() const { return master_; }

  // Writes all bytes from the far end, waiting while the terminal's buffer is full (at most
  // `bound` in all). False when not everything could be written.
  bool Write(std::string_view bytes, std::chrono::milliseconds bound = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
        continue;
      }
      if (master_ < 0 || std::chrono::steady_clock::now() >= deadline) return false;
      pollfd p{master_, POLLOUT, 0};
      ::poll(&p, 1, 100);
    }
    return true;
  }
  bool Write(const std::vector<std::uint8_t>& bytes) {
    return Write(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  }

  // The far end as a loop-back: sends back what the terminal side sent, until stop is set.
  template <class Flag>
  void EchoUntil(const Flag& stop) {
    while (!stop) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      char buffer[4096];
      const ssize_t n = ::read(master_, buffer, sizeof buffer);
      if (n > 0) [[maybe_unused]]
        auto w = ::write(master_, buffer, n);
    }
  }

  // Reads what the terminal side sent, until `count` bytes arrived or `bound` ran out.
  std::string Receive(std::size_t count,
                      std::chrono::milliseconds bound = std::chrono::seconds(3)) {
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (got.size() < count && master_ >= 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now())
                            .count();
      if (left <= 0) break;
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(std::min<long long>(left, 50))) <= 0) continue;
      char buffer[4096];
      const ssize_t n = ::read(master_, buffer, std::min(sizeof buffer, count - got.size()));
      if (n > 0) got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
  }
  std::vector<std::uint8_t> ReadBytes(std::size_t count,
                                      std::chrono::milliseconds bound = std::chrono::seconds(20)) {
    const std::string got = Receive(count, bound);
    return std::vector<std::uint8_t>(got.begin(), got.end());
  }

  // Closes the far end: the terminal side sees a hang-up.
  void CloseFarEnd() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

 private:
  int master_ = -1;
  std::string path_;
};

}  // namespace qv::test
