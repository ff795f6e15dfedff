#include "platform/comm/port_names.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "platform/comm/virtual_port.h"

namespace qv::comm {
namespace {

constexpr const char* kDevFolder = "/dev/";

// "COM1" .. "COM256" (case-insensitive, as the Windows names are), else 0.
int ComNumber(const std::string& name) {
  if (name.size() < 4 || name.size() > 6) return 0;
  if (std::toupper(static_cast<unsigned char>(name[0])) != 'C' ||
      std::toupper(static_cast<unsigned char>(name[1])) != 'O' ||
      std::toupper(static_cast<unsigned char>(name[2])) != 'M') {
    return 0;
  }
  int n = 0;
  for (std::size_t i = 3; i < name.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(name[i]))) return 0;
    n = n * 10 + (name[i] - '0');
  }
  return n >= 1 && n <= 256 ? n : 0;
}

}  // namespace

std::string WithoutDevicePrefix(const std::string& name) {
  const std::string prefix = kDevicePrefix;
  return name.rfind(prefix, 0) == 0 ? name.substr(prefix.size()) : name;
}

std::string RecordNameOfPort(const std::string& name) {
  const std::string device = WithoutDevicePrefix(name);
  const bool prefixed = device.size() != name.size();
  // "\\.\/dev/ttyACM0" opens the path after the prefix: the same port.
  const bool inDev = device.rfind(kDevFolder, 0) == 0;
  if (!prefixed && !inDev) return {};
  const std::string port = inDev ? device.substr(std::strlen(kDevFolder)) : device;
  if (port.find('/') != std::string::npos) return {};
  // "\\.\COM7" opens /dev/ttyS6, which the records name ttyS6 (a virtual port keeps its name).
  if (const int n = ComNumber(port); n != 0 && prefixed && !inDev && !FindVirtualPort(port))
    return "ttyS" + std::to_string(n - 1);
  return port;
}

PortTarget ResolvePortName(const std::string& given) {
  const std::string name = WithoutDevicePrefix(given);
  if (name.find('/') != std::string::npos) return {false, name};
  if (FindVirtualPort(name)) return {true, name};
  if (const int n = ComNumber(name)) return {false, "/dev/ttyS" + std::to_string(n - 1)};
  return {false, kDevFolder + name};
}

std::string ConfigFileName(const std::string& device) {
  std::string out;
  for (unsigned char c : device) {
    if (std::isalnum(c) || c == '.' || c == '_' || c == '-') {
      out += static_cast<char>(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    }
  }
  if (out.empty() || out == "." || out == "..") out = "%" + out;  // never a directory name
  return out;
}

}  // namespace qv::comm
