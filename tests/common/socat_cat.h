// A far end that nobody here wrote: socat owns a pseudo-terminal, gives it a path, and runs a
// shell command behind it; "cat" sends everything back. The test opens path() as a port. socat
// is stopped, and its folder removed, at the end.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

namespace qv::test {

class SocatCat {
 public:
  explicit SocatCat(const std::string& command = "cat") {
    char pattern[] = "/tmp/qv-socat-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) return;
    dir_ = pattern;
    link_ = dir_ + "/port";
    const std::string pty = "pty,raw,echo=0,link=" + link_;
    const std::string farEnd = "system:" + command;
    // socat makes the path before it has set the terminal up (raw, no echo): a port opened at
    // once may have its own settings overwritten. It is ready when it says it starts moving data
    // (a notice, hence -d -d); its other complaints go to the same pipe, which is never read
    // again and never fills in a test's time.
    const char* argv[] = {"socat", "-d", "-d", pty.c_str(), farEnd.c_str(), nullptr};
    int log[2];
    if (::pipe2(log, O_CLOEXEC) != 0) return;
    logFd_ = log[0];
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, log[1], STDERR_FILENO);
    if (::posix_spawnp(&pid_, "socat", &actions, nullptr, const_cast<char**>(argv), environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(log[1]);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    std::string said;
    while (pid_ > 0 && !started_ && std::chrono::steady_clock::now() < deadline) {
      pollfd p{logFd_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      char chunk[512];
      const ssize_t n = ::read(logFd_, chunk, sizeof chunk);
      if (n <= 0) break;  // socat has gone
      said.append(chunk, static_cast<std::size_t>(n));
      started_ = said.find("starting data transfer loop") != std::string::npos;
    }
  }
  ~SocatCat() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    if (logFd_ >= 0) ::close(logFd_);
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
  }
  SocatCat(const SocatCat&) = delete;
  SocatCat& operator=(const SocatCat&) = delete;

  // socat runs, has set its terminal up, and the terminal's path exists.
  bool ok() const { return started_ && ::access(link_.c_str(), F_OK) == 0; }
  const std::string& path() const { return link_; }

 private:
  std::string dir_;
  std::string link_;
  pid_t pid_ = -1;
  int logFd_ = -1;
  bool started_ = false;
};

}  // namespace qv::test
