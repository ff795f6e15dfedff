// quor_vix-cli: the driver tests of the test panel without a display, for scripts and CI.
//
//   quor_vix-cli ports
//   quor_vix-cli run TEST [TEST...] --port NAME [options]
//   quor_vix-cli capture show FILE [--since S] [--kind KINDS]
//   quor_vix-cli --version
//
// Every message box a test shows is a line on standard output; the run ends with the line
// "N passed, N failed". Exit status 0 when all passed, 1 when a test failed, 2 for a usage error
// or a port that cannot be opened.
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "capture/capture_writer.h"
#include "cli/capture_show.h"
#include "cli/cli_host.h"
#include "cli/driver_tests.h"
#include "cli/html_report.h"
#include "cli/junit.h"
#include "cli/options.h"
#include "drivertests/port_path.h"
#include "engine/comm.h"
#include "platform/comm/port_names.h"
#include "platform/comm/virtual_port_control.h"
#include "platform/devices/offered_ports.h"
#include "platform/sync/debug_output.h"
#include "platform/sync/kernel_object.h"
#include "platform/sync/last_error.h"
#include "platform/ui/ui_thread.h"
#include "support/version/version_info.h"

namespace {

constexpr int kExitPassed = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

std::atomic<qv::cli::CliHost*> signalledHost{nullptr};

void OnTerminationSignal(int) {
  // Tests end at their next step; the run then reports what it has.
  if (qv::cli::CliHost* host = signalledHost.load()) host->SetEnding();
}

int UsageError(const std::string& what) {
  std::fprintf(stderr, "quor_vix-cli: %s\nRun \"quor_vix-cli --help\" for the usage.\n",
               what.c_str());
  return kExitUsage;
}

bool IsVirtualPort(const std::string& name) {
  for (const auto& port : qv::comm::ListVirtualPorts()) {
    if (port.name == qv::comm::WithoutDevicePrefix(name)) return true;
  }
  return false;
}

// Access refused to a device node: who may open it.
std::string AccessHint(const std::string& name) {
  std::string path = qv::comm::WithoutDevicePrefix(name);
  if (path.find('/') == std::string::npos) path = "/dev/" + path;
  struct stat info {};
  std::string groupName = "dialout";
  if (::stat(path.c_str(), &info) == 0) {
    if (const struct group* owner = ::getgrgid(info.st_gid)) groupName = owner->gr_name;
  }
  return "Hint: " + path + " may be opened by the members of group \"" + groupName +
         "\": sudo usermod -aG " + groupName + " \"$USER\", then log in again.";
}

// The port must open before any test runs; false (and why on standard error) when it does not.
std::string Reason(DWORD code) {
  std::string reason = qv::sync::SystemErrorText(code);
  while (!reason.empty() && std::isspace(static_cast<unsigned char>(reason.back())))
    reason.pop_back();
  return reason;
}

bool PortOpens(const std::string& name) {
  const HANDLE port = qv::drivertests::OpenPortOverlapped(name);
  if (port != INVALID_HANDLE_VALUE) {
    // A file or a device that is not a tty opens too, and then fails every comm call.
    DCB dcb{};
    const bool serial = GetCommState(port, &dcb) != FALSE;
    const DWORD code = serial ? 0 : GetLastError();
    CloseHandle(port);
    if (serial) return true;
    std::fprintf(stderr, "quor_vix-cli: %s is not a serial port: %s (error %u)\n", name.c_str(),
                 Reason(code).c_str(), unsigned(code));
    return false;
  }
  const DWORD code = GetLastError();
  std::fprintf(stderr, "quor_vix-cli: cannot open port \"%s\": %s (error %u)\n", name.c_str(),
               Reason(code).c_str(), unsigned(code));
  if (code == ERROR_ACCESS_DENIED) std::fprintf(stderr, "%s\n", AccessHint(name).c_str());
  return false;
}

std::string UtcTimestamp() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  ::gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  return text;
}

void PrintResult(const qv::cli::TestResult& result) {
  std::printf("%s %s (%.3f s)\n", result.passed ? "PASS" : "FAIL", result.name.c_str(),
              result.seconds);
  if (!result.passed) {
    // The whole text: a box's reason is often on its second line.
    std::string text = result.failure;
    std::erase(text, '\r');
    for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1))
      text.insert(at + 1, "           ");
    std::printf("  failure: %s\n", text.c_str());
  }
  for (const auto& [key, value] : result.figures)
    std::printf("  %s = %s\n", key.c_str(), value.c_str());
  std::fflush(stdout);
}

int ListPorts() {
  for (const qv::devices::PortEntry& entry : qv::devices::OfferedPorts())
    std::printf("%s\t%s\n", entry.name.c_str(), entry.source.c_str());
  return kExitPassed;
}

int Run(const std::vector<std::string>& args) {
  qv::cli::RunOptions options;
  std::string error;
  if (!qv::cli::ParseRunOptions(args, &options, &error)) return UsageError(error);
  const bool faults = options.ignoreReadTimeouts || options.neverCompleteWrites ||
                      options.refusePurge || options.refuseOpenEvery != 0 ||
                      options.host.alterByte >= 0 || options.host.dropByte >= 0 ||
                      options.host.duplicateByte >= 0;
  if (faults && !IsVirtualPort(options.host.port))
    return UsageError("--fault works on virtual ports only, not on " + options.host.port);
  // The JUnit file is created before the tests run, so that a bad path is no surprise after a
  // long run.
  if (!options.junit.empty() && !std::ofstream(options.junit)) {
    return UsageError("cannot write the JUnit file \"" + options.junit + "\"");
  }
  if (!options.report.empty() && !std::ofstream(options.report)) {
    return UsageError("cannot write the report \"" + options.report + "\"");
  }

  qv::ui::SetUiThread();
  // The engine's trace is for the one who asks for it; standard error keeps the errors.
  qv::sync::SetDebugOutputToStderr(options.host.verbose);
  if (!PortOpens(options.host.port)) return kExitUsage;
  qv::capture::CaptureWriter& capture = qv::capture::LineCapture();
  if (!options.capture.empty()) {
    // Started before the first test, so that a file that cannot be written ends the run here.
    const std::string settings = "speed=" + std::to_string(options.host.speed);
    if (!capture.StartFile(options.capture, options.host.port, settings, &error))
      return UsageError(error);
    capture.SetOnFailure([](const std::string& why) {
      std::fprintf(stderr, "quor_vix-cli: the capture stopped: %s\n", why.c_str());
    });
  }
  if (faults) {
    qv::comm::DriverFaults driver;
    driver.ignoreReadTimeouts = options.ignoreReadTimeouts;
    driver.neverCompleteWrites = options.neverCompleteWrites;
    driver.refusePurge = options.refusePurge;
    driver.refuseEveryNthOpen = options.refuseOpenEvery;
    qv::comm::SetDriverFaults(qv::comm::WithoutDevicePrefix(options.host.port), driver);
  }
  CommConnection.LogData = options.record ? 1 : 0;
  if (options.blockSize != 0) SetCommBlockSize(options.blockSize);

  std::vector<qv::cli::TestResult> results;
  int failed = 0;
  {
    qv::cli::CliHost host(options.host);
    signalledHost = &host;
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    for (const std::string& test : options.tests) {
      if (host.Ending()) break;
      std::printf("--- %s on %s at %u bps\n", test.c_str(), options.host.port.c_str(),
                  unsigned(options.host.speed));
      std::fflush(stdout);
      results.push_back(qv::cli::RunDriverTest(host, test));
      qv::capture::Record(qv::capture::Kind::kVerdict,
                          test + (results.back().passed ? " PASS" : " FAIL"));
      PrintResult(results.back());
      if (!results.back().passed) ++failed;
    }
    host.CloseConnection();
    signalledHost = nullptr;
  }
  std::printf("%d passed, %d failed\n", int(results.size()) - failed, failed);
  std::fflush(stdout);
  if (!options.capture.empty()) {
    const qv::capture::CaptureSummary summary = capture.Stop();
    if (summary.dropped != 0)
      std::fprintf(stderr, "quor_vix-cli: the capture dropped %llu events (%llu bytes)\n",
                   static_cast<unsigned long long>(summary.dropped),
                   static_cast<unsigned long long>(summary.droppedBytes));
    // A capture that stopped short is no complete record of the run.
    if (!summary.failure.empty()) return kExitUsage;
  }

  const qv::cli::RunDescription run{options.host.port, options.host.speed, UtcTimestamp()};
  const struct {
    const std::string& path;
    std::string text;
    const char* what;
  } outputs[] = {
      {options.junit, options.junit.empty() ? "" : qv::cli::JUnitXml(run, results), "JUnit file"},
      {options.report, options.report.empty() ? "" : qv::cli::HtmlReport(run, results), "report"},
  };
  for (const auto& output : outputs) {
    if (output.path.empty()) continue;
    std::ofstream file(output.path, std::ios::binary | std::ios::trunc);
    file << output.text;
    if (!file.flush()) {
      std::fprintf(stderr, "quor_vix-cli: cannot write the %s \"%s\"\n", output.what,
                   output.path.c_str());
      return kExitUsage;
    }
  }
  return failed == 0 && !results.empty() ? kExitPassed : kExitFailed;
}

int ShowCaptureCommand(const std::vector<std::string>& args) {
  qv::cli::ShowOptions options;
  std::string error;
  if (!qv::cli::ParseShowOptions(args, &options, &error)) return UsageError(error);
  std::ifstream file(options.file, std::ios::binary);
  if (!file) {
    std::fprintf(stderr, "quor_vix-cli: cannot read the capture \"%s\"\n", options.file.c_str());
    return kExitUsage;
  }
  std::ios::sync_with_stdio(false);
  const qv::cli::ShowEnd end = qv::cli::ShowCapture(file, options, std::cout, &error);
  std::cout.flush();
  if (end == qv::cli::ShowEnd::kComplete) return kExitPassed;
  std::fprintf(stderr, "quor_vix-cli: %s: %s\n", options.file.c_str(), error.c_str());
  // A capture cut short is still shown up to where it ends.
  return end == qv::cli::ShowEnd::kIncomplete ? kExitPassed : kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  int status = kExitUsage;
  if (args.empty()) {
    status = UsageError("a command is needed: ports, run or capture show");
  } else if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    std::fputs(qv::cli::UsageText().c_str(), stdout);
    status = kExitPassed;
  } else if (args[0] == "--version" || args[0] == "version") {
    const VersionInfo version(nullptr);
    std::printf("quor_vix-cli %s\n", version.GetFullVersionText().c_str());
    status = kExitPassed;
  } else if (args[0] == "ports") {
    status = args.size() == 1 ? ListPorts() : UsageError("ports takes no arguments");
  } else if (args[0] == "capture") {
    status = args.size() >= 2 && args[1] == "show"
                 ? ShowCaptureCommand(std::vector<std::string>(args.begin() + 2, args.end()))
                 : UsageError("capture takes show FILE");
  } else if (args[0] == "run") {
    status = Run(std::vector<std::string>(args.begin() + 1, args.end()));
  } else {
    status = UsageError("unknown command \"" + args[0] + "\"");
  }
  // A test thread that a watchdog abandoned may still be on its way out: the process ends here
  // without running the static destructors under it.
  std::fflush(stdout);
  std::fflush(stderr);
  ::_exit(status);
}
