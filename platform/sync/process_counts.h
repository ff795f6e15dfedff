// This process's open file descriptors and threads, read from /proc: what leak checks count.
#pragma once

namespace qv::sync {

struct ProcessCounts {
  int fds = 0;
  int threads = 0;
};

ProcessCounts CountProcess();

}  // namespace qv::sync
