// A far end that nobody here wrote: socat owns a pseudo-terminal, gives it a path, and runs a
// shell command behind it; "cat" sends everything back. The test opens path() as a port. socat
// is stopped, and its folder removed, at the end.
#pragma once

#include <fcntl.h>
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
    const char* argv[] = {"socat", pty.c_str(), farEnd.c_str(), nullptr};
    // socat's own complaints (a missing program, a refused pty) stay out of the test's output.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    if (::posix_spawnp(&pid_, "socat", &actions, nullptr, const_cast<char**>(argv), environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (pid_ > 0 && !ok() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  ~SocatCat() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
  }
  SocatCat(const SocatCat&) = delete;
  SocatCat& operator=(const SocatCat&) = delete;

  // socat runs and its terminal's path exists.
  bool ok() const { return pid_ > 0 && ::access(link_.c_str(), F_OK) == 0; }
  const std::string& path() const { return link_; }

 private:
  std::string dir_;
  std::string link_;
  pid_t pid_ = -1;
};

}  // namespace qv::test
