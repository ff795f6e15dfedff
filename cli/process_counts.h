// The process's open file descriptors and threads, read from /proc.
#pragma once

namespace qv::cli {

struct ProcessCounts {
  int fds = 0;
  int threads = 0;
};

ProcessCounts CountProcess();

}  // namespace qv::cli
