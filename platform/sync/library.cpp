#include "platform/sync/library.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "platform/sync/last_error.h"

namespace qv::sync {

std::string SharedLibraryFileName(const std::string& win32Name) {
  std::string base = win32Name;
  const auto slash = base.find_last_of("/\\");
  if (slash != std::string::npos) base = base.substr(slash + 1);
  std::string lower = base;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (lower.size() > 4 && lower.compare(lower.size() - 4, 4, ".dll") == 0)
    lower.resize(lower.size() - 4);
  return "lib" + lower + ".so";
}

std::string ExecutableFolder() {
  char path[4096];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return {};
  std::string full(path, static_cast<std::size_t>(n));
  const auto slash = full.find_last_of('/');
  return slash == std::string::npos ? std::string() : full.substr(0, slash);
}

}  // namespace qv::sync

HMODULE LoadLibraryA(const char* name) {
  if (name == nullptr || *name == '\0') {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const std::string file = qv::sync::SharedLibraryFileName(name);
  const std::string folder = qv::sync::ExecutableFolder();
  void* module = nullptr;
  if (!folder.empty()) module = ::dlopen((folder + "/" + file).c_str(), RTLD_NOW | RTLD_LOCAL);
  // A bare name makes the loader search its usual path (rpath, LD_LIBRARY_PATH, cache), not ".".
  if (module == nullptr) module = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) SetLastError(ERROR_MOD_NOT_FOUND);
  return module;
}

FARPROC GetProcAddress(HMODULE module, const char* procName) {
  if (module == nullptr || procName == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  void* symbol = ::dlsym(module, procName);
  if (symbol == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(symbol);
}

BOOL FreeLibrary(HMODULE module) {
  if (module == nullptr || ::dlclose(module) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

DWORD GetModuleFileNameA(HMODULE module, char* fileName, DWORD size) {
  if (module != nullptr || fileName == nullptr || size == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  char path[4096];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) {
    qv::sync::SetLastErrorFromErrno(errno);
    return 0;
  }
  const auto length = static_cast<DWORD>(n);
  if (length >= size) {
    std::memcpy(fileName, path, size - 1);
    fileName[size - 1] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  std::memcpy(fileName, path, length);
  fileName[length] = '\0';
  return length;
}
