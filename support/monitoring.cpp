#include "support/monitoring.h"

#include <dirent.h>
#include <sched.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/sync/debug_output.h"

namespace qv::support {

MonitoringHook::MonitoringHook() { Load("Fendrake.dll"); }

MonitoringHook::MonitoringHook(const char* win32LibraryName) { Load(win32LibraryName); }

MonitoringHook::~MonitoringHook() { Unload(); }

void MonitoringHook::Load(const char* win32LibraryName) {
  library_ = LoadLibraryA(win32LibraryName);
  if (library_ == nullptr) return;
  infoApplication_ =
      reinterpret_cast<InfoApplicationFn>(GetProcAddress(library_, "InfoApplication"));
  infoEvenement_ = GetProcAddress(library_, "InfoEvenement");
  infoEnd_ = reinterpret_cast<InfoEndFn>(GetProcAddress(library_, "InfoEnd"));
  // An incomplete library is not used; it still hears that the process is done with it.
  if (infoApplication_ == nullptr || infoEvenement_ == nullptr || infoEnd_ == nullptr) Unload();
}

std::uint32_t MonitoringHook::NotifyApplicationEnd(std::uint32_t instance) {
  if (library_ == nullptr) return 0;
  return infoApplication_(instance, 0);
}

std::uint32_t MonitoringHook::Unload() {
  std::uint32_t result = 0;
  if (library_ != nullptr) {
    if (infoEnd_ != nullptr) result = infoEnd_();
    FreeLibrary(library_);
  }
  library_ = nullptr;
  infoApplication_ = nullptr;
  infoEvenement_ = nullptr;
  infoEnd_ = nullptr;
  return result;
}

MonitoringHook& TheMonitoringHook() {
  // Built on first use; the definition below makes that first use happen during static
  // initialisation, before the application runs. Destroyed at process exit.
  static MonitoringHook hook;
  return hook;
}

namespace {
[[maybe_unused]] MonitoringHook& processHook = TheMonitoringHook();
}

std::uint32_t ApplicationInstanceId() { return static_cast<std::uint32_t>(::getpid()); }

int PinProcessToOneProcessor() {
  OutputDebugStringA("Pinning the process to a single processor\n");
  cpu_set_t allowed;
  CPU_ZERO(&allowed);
  if (::sched_getaffinity(0, sizeof allowed, &allowed) != 0) return -1;
  int lowest = -1;
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (CPU_ISSET(cpu, &allowed)) {
      lowest = cpu;
      break;
    }
  }
  if (lowest < 0) return -1;
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(lowest, &one);
  // Linux keeps the affinity per thread: set it on every thread the process has now (libraries
  // may have started some); threads made later inherit it from their creator.
  std::vector<pid_t> threads;
  if (DIR* tasks = ::opendir("/proc/self/task")) {
    while (dirent* entry = ::readdir(tasks)) {
      const pid_t tid = static_cast<pid_t>(std::atoi(entry->d_name));
      if (tid > 0) threads.push_back(tid);
    }
    ::closedir(tasks);
  }
  if (::sched_setaffinity(0, sizeof one, &one) != 0) return -1;
  // A thread that ended meanwhile needs nothing.
  for (pid_t tid : threads) ::sched_setaffinity(tid, sizeof one, &one);
  return lowest;
}

}  // namespace qv::support
