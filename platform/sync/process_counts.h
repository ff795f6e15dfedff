// What leak checks count: this process's open file descriptors and threads, read from /proc, and
// the handles open in the platform's handle table (a handle can leak without a descriptor: an
// event, a thread's handle, a virtual port).
#pragma once

namespace qv::sync {

struct ProcessCounts {
  int fds = 0;
  int threads = 0;
  int handles = 0;
};

ProcessCounts CountProcess();

}  // namespace qv::sync
