// The usage monitoring hook and the processor pinning of the application.
//
// The monitoring library "Fendrake.dll" (libfendrake.so, looked for beside the executable, then
// along the loader's path) is optional and not part of this program. When it is present with all
// three entry points the program tells it once that the application has finished its work
// (InfoApplication) and, at process exit, that the process ends (InfoEnd). Its C interface:
//
//   extern "C" uint32_t InfoApplication(uint32_t instance, uint32_t reserved);
//   extern "C" ... InfoEvenement(...);   // only looked up
//   extern "C" uint32_t InfoEnd(void);
//
// instance identifies the application: the program passes its process id (a Linux process has no
// module instance handle a library could use).
#pragma once

#include <cstdint>

#include "platform/sync/library.h"
#include "platform/types.h"

namespace qv::support {

class MonitoringHook {
 public:
  using InfoApplicationFn = std::uint32_t (*)(std::uint32_t, std::uint32_t);
  using InfoEndFn = std::uint32_t (*)();

  // Loads "Fendrake.dll" (the process-wide hook does this during static initialisation). A
  // missing library or entry point leaves the hook empty, silently.
  MonitoringHook();
  // Loads another library name by the same rule (tests).
  explicit MonitoringHook(const char* win32LibraryName);
  ~MonitoringHook();  // unloads
  MonitoringHook(const MonitoringHook&) = delete;
  MonitoringHook& operator=(const MonitoringHook&) = delete;

  bool IsLoaded() const { return library_ != nullptr; }

  // The application-end notice, once after the main dialog closed: InfoApplication(instance, 0)
  // when loaded, else 0.
  std::uint32_t NotifyApplicationEnd(std::uint32_t instance);
  // Calls InfoEnd (when loaded) and releases the library; the hook is empty afterwards. Returns
  // InfoEnd's result, 0 when nothing was loaded.
  std::uint32_t Unload();

 private:
  void Load(const char* win32LibraryName);

  HMODULE library_ = nullptr;
  InfoApplicationFn infoApplication_ = nullptr;
  FARPROC infoEvenement_ = nullptr;
  InfoEndFn infoEnd_ = nullptr;
};

// The process-wide hook, built during static initialisation and unloaded at process exit.
MonitoringHook& TheMonitoringHook();

// The instance value the application passes to NotifyApplicationEnd: the process id.
std::uint32_t ApplicationInstanceId();

// Pins the whole process (every thread it has, and so every thread it makes later) to the lowest
// processor of its allowed set. Writes one trace line first. Changes nothing when the allowed set
// cannot be read. Returns the processor number chosen, -1 when nothing changed.
int PinProcessToOneProcessor();

}  // namespace qv::support
