#include "platform/sync/process_counts.h"

#include <dirent.h>

#include "platform/sync/kernel_object.h"

namespace qv::sync {
namespace {

// Entries of a /proc folder, without "." and "..".
int CountEntries(const char* path) {
  DIR* dir = ::opendir(path);
  if (dir == nullptr) return -1;
  int count = 0;
  while (const dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  ::closedir(dir);
  return count;
}

}  // namespace

ProcessCounts CountProcess() {
  ProcessCounts counts;
  // The folder's own descriptor, open while it is read, is not the program's.
  counts.fds = CountEntries("/proc/self/fd") - 1;
  counts.threads = CountEntries("/proc/self/task");
  counts.handles = static_cast<int>(OpenHandleCount());
  return counts;
}

}  // namespace qv::sync
