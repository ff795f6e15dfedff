// Helpers shared by the port tests: events, bounded waits, a private settings folder, and
// pseudo-terminal pairs whose far end the test drives.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "tests/common/pty_pair.h"

#include "platform/comm/comm_api.h"
#include "platform/sync/event.h"
#include "platform/sync/kernel_object.h"
#include "platform/sync/last_error.h"

namespace qv::comm::testing {

using Ms = std::chrono::milliseconds;
using SteadyClock = std::chrono::steady_clock;

inline double SecondsSince(SteadyClock::time_point start) {
  return std::chrono::duration<double>(SteadyClock::now() - start).count();
}

// Polls pred until it holds or the bound passes.
inline bool WaitUntil(const std::function<bool()>& pred, Ms bound = Ms(3000)) {
  const auto end = SteadyClock::now() + bound;
  while (!pred()) {
    if (SteadyClock::now() > end) return false;
    std::this_thread::sleep_for(Ms(2));
  }
  return true;
}

// An OVERLAPPED record with its own manual-reset event.
struct Overlapped {
  OVERLAPPED ov{};
  Overlapped() { ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr); }
  ~Overlapped() { CloseHandle(ov.hEvent); }
  bool Signalled(DWORD ms) { return WaitForSingleObject(ov.hEvent, ms) == WAIT_OBJECT_0; }
};

// The records of a fixture's requests, kept until the fixture goes, after its TearDown closed the
// port. A request still pending when a test's body ends (an assertion that returned early, or a
// write the driver still counts in the kernel's queue after its echo came back) is completed by
// the close into a record that still exists: a record on the body's stack would be gone by then,
// and the close's result would land in whatever frame took its place.
class Records {
 public:
  Overlapped& New() { return records_.emplace_back(); }

 private:
  std::deque<Overlapped> records_;
};

// Points the per-user settings at a fresh temporary folder for the test's lifetime.
class ScopedConfigHome {
 public:
  ScopedConfigHome() {
    char pattern[] = "/tmp/qv-comm-XXXXXX";
    dir_ = ::mkdtemp(pattern);
    const char* old = std::getenv("XDG_CONFIG_HOME");
    if (old != nullptr) saved_ = old, hadOld_ = true;
    ::setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
  }
  ~ScopedConfigHome() {
    if (hadOld_) {
      ::setenv("XDG_CONFIG_HOME", saved_.c_str(), 1);
    } else {
      ::unsetenv("XDG_CONFIG_HOME");
    }
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  const std::string& dir() const { return dir_; }

 private:
  std::string dir_;
  std::string saved_;
  bool hadOld_ = false;
};

using PtyPair = qv::test::PtyPair;

}  // namespace qv::comm::testing
