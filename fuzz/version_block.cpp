// The version block reader: a block of any bytes, as another file's resource may hold, read the
// way the console's title and the runner's --version read the program's own.
#include <cstdint>
#include <string>

#include "fuzz/fuzz_trace.h"
#include "support/version/version_info.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const qv::fuzz::QuietTrace trace;
  const VersionInfo info(data, static_cast<DWORD>(size));
  if (!info.IsLoaded()) return 0;
  (void)info.GetVersionText();
  (void)info.GetFullVersionText();
  const DWORD translation = info.GetTranslation();
  for (const char* name : {"FileVersion", "ProductName", "SpecialBuild", "PrivateBuild", ""})
    (void)info.GetStringValue(translation, name);
  return 0;
}
