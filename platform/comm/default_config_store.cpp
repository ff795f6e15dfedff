#include "platform/comm/default_config_store.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "platform/comm/dcb_rules.h"
#include "platform/comm/port_names.h"
#include "platform/sync/debug_output.h"
#include "platform/sync/last_error.h"

namespace qv::comm {
namespace {

constexpr DWORD kHeader = offsetof(COMMCONFIG, wcProviderData);
constexpr std::size_t kLargest = 64 * 1024;

int MakeFolders(const std::string& path) {
  for (std::size_t i = 1; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != '/') continue;
    const std::string part = path.substr(0, i);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return errno;
  }
  return 0;
}

}  // namespace

std::string DefaultConfigFolder() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && xdg[0] == '/') return std::string(xdg) + "/QUELM";
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : "") + "/.config/QUELM";
}

bool LoadDefaultConfig(const std::string& device, std::string* bytes) {
  const std::string path = DefaultConfigFolder() + "/" + ConfigFileName(device) + ".commconfig";
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const char* damage = nullptr;
  COMMCONFIG head{};
  if (data.size() < kHeader || data.size() > kLargest) {
    damage = "not a record's size";
  } else {
    std::memcpy(&head, data.data(), kHeader);
    if (head.dwProviderSize != 0 &&
        (head.dwProviderOffset < kHeader ||
         std::uint64_t{head.dwProviderOffset} + head.dwProviderSize > data.size()))
      damage = "provider data outside the record";
    else if (ValidateDcb(head.dcb) != ERROR_SUCCESS) damage = "line settings no port takes";
  }
  if (damage != nullptr) {
    // The built-in default serves instead; the file stays for a look (the next save replaces it).
    OutputDebugStringA(
        (path + " is damaged (" + damage + "): the built-in default is used\n").c_str());
    return false;
  }
  *bytes = std::move(data);
  return true;
}

DWORD SaveDefaultConfig(const std::string& device, const void* config, DWORD size) {
  if (size > kLargest) return ERROR_INVALID_PARAMETER;
  const std::string folder = DefaultConfigFolder();
  if (const int e = MakeFolders(folder)) return qv::sync::Win32ErrorFromErrno(e);
  const std::string path = folder + "/" + ConfigFileName(device) + ".commconfig";
  const std::string temp = path + ".new";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) return qv::sync::Win32ErrorFromErrno(errno);
    out.write(static_cast<const char*>(config), size);
    out.close();
    if (!out) {
      std::remove(temp.c_str());
      return ERROR_WRITE_FAULT;
    }
  }
  // Replacing by rename: a reader never sees half a record.
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    const int e = errno;
    std::remove(temp.c_str());
    return qv::sync::Win32ErrorFromErrno(e);
  }
  return ERROR_SUCCESS;
}

DCB OpeningDcb(const std::string& device) {
  std::string bytes;
  if (!LoadDefaultConfig(device, &bytes)) return DefaultDcb();
  COMMCONFIG head;
  std::memcpy(&head, bytes.data(), kHeader);
  DCB dcb = head.dcb;
  dcb.DCBlength = sizeof(DCB);
  return dcb;
}

}  // namespace qv::comm
