#include "cli/options.h"

#include <cerrno>
#include <cstdlib>
#include <limits>

#include "cli/driver_tests.h"
#include "cli/soak.h"
#include "engine/comm.h"

namespace qv::cli {
namespace {

// A whole decimal number within [least, most]; false for anything else ("12x", "-1", "").
bool ParseNumber(const std::string& text, long long least, long long most, long long* value) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
  errno = 0;
  const long long parsed = std::strtoll(text.c_str(), nullptr, 10);
  if (errno != 0 || parsed < least || parsed > most) return false;
  *value = parsed;
  return true;
}

}  // namespace

std::string UsageText() {
  std::string tests;
  for (const std::string& name : DriverTestNames()) tests += (tests.empty() ? "" : ", ") + name;
  return "Usage:\n"
         "  quor_vix-cli ports\n"
         "      The ports the console's list offers, one a line: name, a tab, the source.\n"
         "  quor_vix-cli run TEST [TEST...] --port NAME [options]\n"
         "      Runs the driver tests on the port, one after the other.\n"
         "  quor_vix-cli run soak --port NAME [--seconds N] [--seed S] [--threads T] [options]\n"
         "      A seeded random stress of every port operation on a loop-back, every byte\n"
         "      accounted for (defaults: 60 s, a seed from the clock, 3 threads).\n"
         "  quor_vix-cli capture show FILE [--since S] [--kind KINDS]\n"
         "      A capture's events from S seconds on (default 0), of the kinds given: rx, tx,\n"
         "      lines (modem lines, line errors, breaks), config, port (open, close, plug and\n"
         "      play), tests (verdicts), separated by commas (default all); bytes 16 a row.\n"
         "  quor_vix-cli --version\n"
         "      The program's version.\n"
         "\n"
         "Tests: " +
         tests +
         "\n"
         "\n"
         "Options of run:\n"
         "  --port NAME          the port to test (vloop0, /dev/ttyUSB0, \\\\.\\COM1)\n"
         "  --speed BPS          the speed each test opens the port at (default 115200)\n"
         "  --cycles N           \"Loop tests\": how many cycles a looping test runs (default 1)\n"
         "  --interval MS        the open/close loop's pause between cycles, 0-65535 (default 0)\n"
         "  --block-size N       the echo test's block size in bytes (default 4096)\n"
         "  --source SRC         the echo test's data: Random, quor_vix.exe or a file (default Random)\n"
         "  --start-phase N      the timeouts phase the first cycle starts at, 1-7 (default 1)\n"
         "  --record             record all sent and received bytes (data_sent.log, data_recv.log)\n"
         "  --hold cts|none      the write tests hold the output with CTS flow control and RTS\n"
         "                       cleared where CTS follows RTS (default cts), or not at all\n"
         "  --junit FILE         write the verdicts and figures as a JUnit XML file\n"
         "  --report FILE        write them as one HTML page with a chart per test\n"
         "  --capture FILE       record everything on the line with time stamps, for the whole\n"
         "                       run (read it with \"capture show FILE\")\n"
         "  --seconds N          the soak's length (default 60)\n"
         "  --seed S             the soak's seed: the same seed and threads replay its operations\n"
         "  --threads T          the soak's writing threads, 1-" +
         std::to_string(kSoakMaxThreads) +
         " (default 3)\n"
         "  --verbose            the engine's trace and the console's log lines on standard error;\n"
         "                       the soak logs each operation on standard output\n"
         "  --fault F            virtual ports only, to see failing verdicts: ignore-read-timeouts,\n"
         "                       never-complete-writes, refuse-purge, alter-byte=N,\n"
         "                       drop-byte=N, duplicate-byte=N (the far end damages its Nth\n"
         "                       byte), refuse-open=N (every Nth open refused) (repeatable)\n"
         "\n"
         "Exit status: 0 all tests passed, 1 a test failed, 2 usage error or a port that cannot\n"
         "be opened.\n";
}

bool ParseRunOptions(const std::vector<std::string>& args, RunOptions* options,
                     std::string* error) {
  bool havePort = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    std::string value;
    bool inlineValue = false;
    if (arg.rfind("--", 0) == 0) {
      const std::size_t equals = arg.find('=');
      if (equals != std::string::npos) {
        value = arg.substr(equals + 1);
        arg.resize(equals);
        inlineValue = true;
      }
    }
    // The value of an option that takes one: after "=", or the next argument.
    auto takeValue = [&]() -> bool {
      if (inlineValue) return true;
      if (i + 1 >= args.size()) {
        *error = arg + " needs a value";
        return false;
      }
      value = args[++i];
      return true;
    };
    auto number = [&](long long least, long long most, long long* out) -> bool {
      if (!takeValue()) return false;
      if (ParseNumber(value, least, most, out)) return true;
      *error = arg + " takes a number from " + std::to_string(least) + " to " +
               std::to_string(most) + ", not \"" + value + "\"";
      return false;
    };
    long long n = 0;
    if (arg == "--port") {
      if (!takeValue()) return false;
      if (value.empty()) {
        *error = "--port needs a port name";
        return false;
      }
      options->host.port = value;
      havePort = true;
    } else if (arg == "--speed") {
      if (!number(1, kMaxSpeed, &n)) return false;
      options->host.speed = DWORD(n);
    } else if (arg == "--cycles") {
      if (!number(1, std::numeric_limits<int>::max(), &n)) return false;
      options->host.cycles = int(n);
    } else if (arg == "--interval") {
      if (!number(0, 65535, &n)) return false;
      options->host.interval = DWORD(n);
    } else if (arg == "--block-size") {
      if (!number(1, kMaxBlockSize, &n)) return false;
      options->blockSize = DWORD(n);
    } else if (arg == "--source") {
      if (!takeValue()) return false;
      if (value.empty()) {
        *error = "--source needs Random, quor_vix.exe or a file name";
        return false;
      }
      options->host.source = value;
    } else if (arg == "--seconds") {
      if (!number(1, 7 * 24 * 3600, &n)) return false;
      options->host.soakSeconds = int(n);
    } else if (arg == "--seed") {
      if (!takeValue()) return false;
      if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos ||
          value.size() > 20) {
        *error = "--seed takes a whole number, not \"" + value + "\"";
        return false;
      }
      errno = 0;
      const unsigned long long seed = std::strtoull(value.c_str(), nullptr, 10);
      if (errno != 0) {
        *error = "--seed takes a number below 2^64, not \"" + value + "\"";
        return false;
      }
      options->host.seed = seed;
      options->host.haveSeed = true;
    } else if (arg == "--threads") {
      if (!number(1, kSoakMaxThreads, &n)) return false;
      options->host.soakThreads = int(n);
    } else if (arg == "--start-phase") {
      if (!number(1, 7, &n)) return false;
      options->host.startPhase = int(n);
    } else if (arg == "--hold") {
      if (!takeValue()) return false;
      if (value != "cts" && value != "none") {
        *error = "--hold takes cts or none, not \"" + value + "\"";
        return false;
      }
      options->host.holdCts = value == "cts";
    } else if (arg == "--report") {
      if (!takeValue()) return false;
      if (value.empty()) {
        *error = "--report needs a file name";
        return false;
      }
      options->report = value;
    } else if (arg == "--capture") {
      if (!takeValue()) return false;
      if (value.empty()) {
        *error = "--capture needs a file name";
        return false;
      }
      options->capture = value;
    } else if (arg == "--junit") {
      if (!takeValue()) return false;
      if (value.empty()) {
        *error = "--junit needs a file name";
        return false;
      }
      options->junit = value;
    } else if (arg == "--fault") {
      if (!takeValue()) return false;
      if (value == "ignore-read-timeouts") {
        options->ignoreReadTimeouts = true;
      } else if (value == "never-complete-writes") {
        options->neverCompleteWrites = true;
      } else if (value == "refuse-purge") {
        options->refusePurge = true;
      } else if (value.rfind("alter-byte=", 0) == 0 &&
                 ParseNumber(value.substr(11), 0, std::numeric_limits<int>::max(), &n)) {
        options->host.alterByte = n;
      } else if (value.rfind("drop-byte=", 0) == 0 &&
                 ParseNumber(value.substr(10), 0, std::numeric_limits<int>::max(), &n)) {
        options->host.dropByte = n;
      } else if (value.rfind("duplicate-byte=", 0) == 0 &&
                 ParseNumber(value.substr(15), 0, std::numeric_limits<int>::max(), &n)) {
        options->host.duplicateByte = n;
      } else if (value.rfind("refuse-open=", 0) == 0 &&
                 ParseNumber(value.substr(12), 1, std::numeric_limits<DWORD>::max(), &n)) {
        options->refuseOpenEvery = DWORD(n);
      } else {
        *error = "unknown fault \"" + value +
                 "\" (ignore-read-timeouts, never-complete-writes, refuse-purge, alter-byte=N, "
                 "drop-byte=N, duplicate-byte=N, refuse-open=N)";
        return false;
      }
    } else if ((arg == "--record" || arg == "--verbose") && !inlineValue) {
      (arg == "--record" ? options->record : options->host.verbose) = true;
    } else if (arg.rfind("-", 0) == 0) {
      *error = "unknown option " + args[i];
      return false;
    } else if (IsDriverTest(arg) || arg == kSoakTest) {
      options->tests.push_back(arg);
    } else {
      *error = "unknown test \"" + arg + "\"";
      return false;
    }
  }
  if (options->tests.empty()) {
    *error = "no test given";
    return false;
  }
  if (!havePort) {
    *error = "no port given (--port NAME)";
    return false;
  }
  return true;
}

}  // namespace qv::cli
