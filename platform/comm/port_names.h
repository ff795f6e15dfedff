// What a port name given to CreateFileA opens.
//
// "\\.\NAME" and "NAME" open the virtual port NAME when there is one, else /dev/NAME; "COMn" is
// an alias of /dev/ttyS(n-1); a name with "/" opens as the path given.
#pragma once

#include <cstddef>
#include <string>

namespace qv::comm {

// The prefix of the device namespace: "\\.\vloop0" names the port vloop0.
inline constexpr const char* kDevicePrefix = "\\\\.\\";

// Port names are read into buffers of this size, their NUL included: at most 127 characters.
inline constexpr std::size_t kPortNameSize = 128;

// The name without a leading device prefix ("\\.\ttyACM0" gives "ttyACM0"); any other name as
// it is.
std::string WithoutDevicePrefix(const std::string& name);

// The port a name opens as the system's device records name it: "\\.\ttyACM0" and
// "/dev/ttyACM0" both give "ttyACM0", "\\.\COM7" gives "ttyS6" (the device it opens). Empty
// for a name in neither form (typed without the prefix, or a path below a folder of /dev), which
// no record names.
std::string RecordNameOfPort(const std::string& name);

struct PortTarget {
  bool isVirtual = false;
  std::string name;  // the virtual port's name, or the device path
};

PortTarget ResolvePortName(const std::string& name);

// The file name under which a port's default configuration is kept: the device name with every
// character outside [A-Za-z0-9._-] written as %XX, so that distinct names stay distinct.
std::string ConfigFileName(const std::string& device);

}  // namespace qv::comm
