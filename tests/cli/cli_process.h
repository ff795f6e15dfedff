// Runs the built quor_vix-cli as a child process, with its own working and settings folders,
// and gives back its exit status and output. Every run is bounded: a child still running at the
// bound is killed and reported as timed out.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace qv::test {

struct CliRun {
  int status = -1;  // the exit status; -1 when it did not exit normally
  bool timedOut = false;
  std::string out;
  std::string err;
};

inline std::string ReadWholeFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// The executable beside the suites' folder: <build>/quor_vix-cli for <build>/tests/test_cli.
inline std::filesystem::path CliPath() {
  return std::filesystem::canonical("/proc/self/exe").parent_path().parent_path() / "quor_vix-cli";
}

// A folder of its own under the system's temporary folder, removed at the end.
class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qv-cli-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Runs the CLI with args in folder (its working folder and settings home).
inline CliRun RunCli(const std::vector<std::string>& args, const std::filesystem::path& folder,
                     std::chrono::seconds bound = std::chrono::seconds(120)) {
  CliRun run;
  const std::filesystem::path outPath = folder / "cli.out";
  const std::filesystem::path errPath = folder / "cli.err";
  const std::string exe = CliPath().string();
  std::vector<std::string> argv = {exe};
  argv.insert(argv.end(), args.begin(), args.end());
  const pid_t child = ::fork();
  if (child == 0) {
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || err < 0 || ::chdir(folder.c_str()) != 0) ::_exit(127);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(err, STDERR_FILENO);
    ::setenv("XDG_CONFIG_HOME", (folder / "config").c_str(), 1);
    std::vector<char*> pointers;
    for (std::string& arg : argv) pointers.push_back(arg.data());
    pointers.push_back(nullptr);
    ::execv(exe.c_str(), pointers.data());
    ::_exit(127);
  }
  if (child < 0) return run;
  const auto deadline = std::chrono::steady_clock::now() + bound;
  int status = 0;
  for (;;) {
    const pid_t done = ::waitpid(child, &status, WNOHANG);
    if (done == child) break;
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(child, SIGKILL);
      ::waitpid(child, &status, 0);
      run.timedOut = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (!run.timedOut && WIFEXITED(status)) run.status = WEXITSTATUS(status);
  run.out = ReadWholeFile(outPath);
  run.err = ReadWholeFile(errPath);
  return run;
}

// The last line of a text (without its line end).
inline std::string LastLine(const std::string& text) {
  std::string trimmed = text;
  while (!trimmed.empty() && trimmed.back() == '\n') trimmed.pop_back();
  const std::size_t start = trimmed.rfind('\n');
  return start == std::string::npos ? trimmed : trimmed.substr(start + 1);
}

}  // namespace qv::test
