// The Win32 communications functions over the port objects.
#include "platform/comm/comm_api.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>

#include "platform/comm/dcb_rules.h"
#include "platform/comm/default_config_store.h"
#include "platform/comm/overlapped_io.h"
#include "platform/comm/port_names.h"
#include "platform/comm/port_object.h"
#include "platform/comm/posix_line.h"
#include "platform/comm/provider_data.h"
#include "platform/comm/virtual_port.h"
#include "platform/sync/last_error.h"

namespace qv::comm {

FileObject::~FileObject() {
  if (fd_ >= 0) ::close(fd_);
}

bool FileObject::OnClose() {
  const int fd = fd_;
  fd_ = -1;
  if (fd >= 0 && ::close(fd) != 0) {
    qv::sync::SetLastErrorFromErrno(errno);
    return false;
  }
  return true;
}

namespace {

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

BOOL Result(DWORD error) { return error == ERROR_SUCCESS ? TRUE : Fail(error); }

// The port behind a handle; a plain file reads as a device without the function.
std::shared_ptr<CommPort> PortOf(HANDLE handle, DWORD* error) {
  auto object = qv::sync::LookupHandle(handle);
  auto port = std::dynamic_pointer_cast<CommPort>(object);
  if (!port) {
    *error = std::dynamic_pointer_cast<FileObject>(object) ? ERROR_INVALID_FUNCTION
                                                           : ERROR_INVALID_HANDLE;
  }
  return port;
}

template <class F>
BOOL WithPort(HANDLE handle, F f) {
  DWORD error = ERROR_SUCCESS;
  auto port = PortOf(handle, &error);
  if (!port) return Fail(error);
  return Result(f(port->core()));
}

std::string DeviceName(const char* name) { return WithoutDevicePrefix(name); }

// The description of a named device without opening it; false when there is no such device.
bool DescribeDevice(const std::string& device, sim::DeviceDescription* description) {
  if (device.rfind(kDevicePrefix, 0) == 0 || device.empty()) return false;
  if (device.find('/') == std::string::npos) {
    if (auto port = FindVirtualPort(device)) {
      *description = port->Description();
      return true;
    }
  }
  struct stat st;
  if (::stat(ResolvePortName(device).name.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) {
    return false;
  }
  *description = sim::DeviceDescription{};
  return true;
}

BOOL FileRead(FileObject& file, void* buffer, DWORD count, DWORD* read, OVERLAPPED* ov) {
  ssize_t n;
  do {
    n = ::read(file.fd(), buffer, count);
  } while (n < 0 && errno == EINTR);
  const DWORD error = n < 0 ? qv::sync::Win32ErrorFromErrno(errno) : ERROR_SUCCESS;
  const DWORD done = n < 0 ? 0 : static_cast<DWORD>(n);
  if (read != nullptr) *read = done;
  if (ov != nullptr) PublishCompletion(ov, error, done);
  return Result(error);
}

BOOL FileWrite(FileObject& file, const void* buffer, DWORD count, DWORD* written, OVERLAPPED* ov) {
  ssize_t n;
  do {
    n = ::write(file.fd(), buffer, count);
  } while (n < 0 && errno == EINTR);
  const DWORD error = n < 0 ? qv::sync::Win32ErrorFromErrno(errno) : ERROR_SUCCESS;
  const DWORD done = n < 0 ? 0 : static_cast<DWORD>(n);
  if (written != nullptr) *written = done;
  if (ov != nullptr) PublishCompletion(ov, error, done);
  return Result(error);
}

}  // namespace
}  // namespace qv::comm

using namespace qv::comm;

HANDLE CreateFileA(const char* fileName, DWORD desiredAccess, DWORD shareMode,
                   void* securityAttributes, DWORD creationDisposition, DWORD flagsAndAttributes,
                   HANDLE templateFile) {
  (void)shareMode;  // ports are always exclusive
  (void)securityAttributes;
  (void)templateFile;
  if (fileName == nullptr || fileName[0] == '\0') {
    SetLastError(ERROR_INVALID_NAME);
    return INVALID_HANDLE_VALUE;
  }
  if (creationDisposition != OPEN_EXISTING) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  const bool overlapped = (flagsAndAttributes & FILE_FLAG_OVERLAPPED) != 0;
  const PortTarget target = ResolvePortName(fileName);
  const std::string device = DeviceName(fileName);

  if (target.isVirtual) {
    auto port = FindVirtualPort(target.name);
    if (!port) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return INVALID_HANDLE_VALUE;
    }
    if (const DWORD e = port->Acquire()) {
      SetLastError(e);
      return INVALID_HANDLE_VALUE;
    }
    auto object = std::make_shared<CommPort>(port, overlapped, device);
    if (const DWORD e = object->core().Open(OpeningDcb(device))) {
      port->Release();
      SetLastError(e);
      return INVALID_HANDLE_VALUE;
    }
    return qv::sync::RegisterHandle(std::move(object));
  }

  std::shared_ptr<PosixLine> line;
  bool notTty = false;
  int fd = -1;
  if (const DWORD e = PosixLine::Open(target.name, &line, &notTty, &fd)) {
    SetLastError(e);
    return INVALID_HANDLE_VALUE;
  }
  if (notTty) {
    // Any other file opens too; only a character device reads as one.
    struct stat st;
    const DWORD type =
        ::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) ? FILE_TYPE_CHAR : FILE_TYPE_DISK;
    // Plain files are used blocking.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    (void)desiredAccess;
    return qv::sync::RegisterHandle(std::make_shared<FileObject>(fd, type));
  }
  auto object = std::make_shared<CommPort>(line, overlapped, device);
  if (const DWORD e = object->core().Open(OpeningDcb(device))) {
    SetLastError(e);
    return INVALID_HANDLE_VALUE;
  }
  return qv::sync::RegisterHandle(std::move(object));
}

DWORD GetFileType(HANDLE file) {
  auto object = qv::sync::LookupHandle(file);
  if (std::dynamic_pointer_cast<CommPort>(object)) return FILE_TYPE_CHAR;
  if (auto f = std::dynamic_pointer_cast<FileObject>(object)) return f->type();
  SetLastError(ERROR_INVALID_HANDLE);
  return FILE_TYPE_UNKNOWN;
}

BOOL GetCommState(HANDLE file, DCB* dcb) {
  return WithPort(file, [&](DriverCore& c) { return c.GetState(dcb); });
}

BOOL SetCommState(HANDLE file, const DCB* dcb) {
  if (dcb == nullptr) return Result(ERROR_INVALID_PARAMETER);
  return WithPort(file, [&](DriverCore& c) { return c.SetState(*dcb); });
}

BOOL GetCommTimeouts(HANDLE file, COMMTIMEOUTS* timeouts) {
  return WithPort(file, [&](DriverCore& c) { return c.GetTimeouts(timeouts); });
}

BOOL SetCommTimeouts(HANDLE file, const COMMTIMEOUTS* timeouts) {
  if (timeouts == nullptr) return Result(ERROR_INVALID_PARAMETER);
  return WithPort(file, [&](DriverCore& c) { return c.SetTimeouts(*timeouts); });
}

BOOL SetupComm(HANDLE file, DWORD inQueue, DWORD outQueue) {
  return WithPort(file, [&](DriverCore& c) { return c.Setup(inQueue, outQueue); });
}

BOOL GetCommProperties(HANDLE file, COMMPROP* properties) {
  return WithPort(file, [&](DriverCore& c) {
    DWORD in = 0, out = 0;
    if (const DWORD e = c.QueueSizes(&in, &out)) return e;
    return BuildCommProp(c.Caps(), in, out, properties);
  });
}

BOOL GetCommConfig(HANDLE file, COMMCONFIG* config, DWORD* size) {
  return WithPort(file, [&](DriverCore& c) {
    DCB dcb;
    if (const DWORD e = c.GetState(&dcb)) return e;
    return BuildCommConfig(dcb, c.Caps().description, config, size);
  });
}

BOOL SetCommConfig(HANDLE file, const COMMCONFIG* config, DWORD size) {
  if (config == nullptr || size < offsetof(COMMCONFIG, wcProviderData)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // The provider part (modem settings) has nothing to steer on these lines; the DCB counts.
  return WithPort(file, [&](DriverCore& c) { return c.SetState(config->dcb); });
}

BOOL GetDefaultCommConfigA(const char* name, COMMCONFIG* config, DWORD* size) {
  if (name == nullptr || size == nullptr) return Result(ERROR_INVALID_PARAMETER);
  const std::string device = name;
  qv::sim::DeviceDescription description;
  if (!DescribeDevice(device, &description)) return Result(ERROR_FILE_NOT_FOUND);
  std::string stored;
  const bool haveStored = LoadDefaultConfig(device, &stored);
  DCB dcb = OpeningDcb(device);
  if (const DWORD e = BuildCommConfig(dcb, description, config, size)) return Result(e);
  // Modem settings the user changed are kept with the default (the texts stay the device's).
  if (haveStored && config->dwProviderSubType == PST_MODEM) {
    COMMCONFIG head;
    std::memcpy(&head, stored.data(), offsetof(COMMCONFIG, wcProviderData));
    constexpr std::size_t kSettable = offsetof(MODEMSETTINGS, dwNegotiatedModemOptions);
    constexpr std::size_t kFrom = offsetof(MODEMSETTINGS, dwCallSetupFailTimer);
    if (head.dwProviderSubType == PST_MODEM && head.dwProviderSize >= kSettable) {
      std::memcpy(reinterpret_cast<std::uint8_t*>(config) + config->dwProviderOffset + kFrom,
                  stored.data() + head.dwProviderOffset + kFrom, kSettable - kFrom);
    }
  }
  return TRUE;
}

BOOL SetDefaultCommConfigA(const char* name, const COMMCONFIG* config, DWORD size) {
  if (name == nullptr || config == nullptr || size < offsetof(COMMCONFIG, wcProviderData)) {
    return Result(ERROR_INVALID_PARAMETER);
  }
  if (config->dwProviderSize != 0 &&
      (config->dwProviderOffset < offsetof(COMMCONFIG, wcProviderData) ||
       std::uint64_t{config->dwProviderOffset} + config->dwProviderSize > size)) {
    return Result(ERROR_INVALID_PARAMETER);
  }
  const std::string device = name;
  qv::sim::DeviceDescription description;
  if (!DescribeDevice(device, &description)) return Result(ERROR_FILE_NOT_FOUND);
  if (const DWORD e = ValidateDcb(config->dcb)) return Result(e);
  // A virtual port's driver keeps in its default only a rate it would run: it refuses or rounds
  // the others as SetCommState does.
  const PortTarget target = ResolvePortName(device);
  if (auto port = target.isVirtual ? FindVirtualPort(target.name) : nullptr) {
    DWORD rate = 0;
    if (const DWORD e = port->AcceptRate(config->dcb.BaudRate, &rate)) return Result(e);
    if (rate != config->dcb.BaudRate) {
      std::string copy(reinterpret_cast<const char*>(config), size);
      std::memcpy(copy.data() + offsetof(COMMCONFIG, dcb) + offsetof(DCB, BaudRate), &rate,
                  sizeof rate);
      return Result(SaveDefaultConfig(device, copy.data(), size));
    }
  }
  return Result(SaveDefaultConfig(device, config, size));
}

BOOL SetCommMask(HANDLE file, DWORD eventMask) {
  return WithPort(file, [&](DriverCore& c) { return c.SetMask(eventMask); });
}

BOOL GetCommMask(HANDLE file, DWORD* eventMask) {
  return WithPort(file, [&](DriverCore& c) { return c.GetMask(eventMask); });
}

BOOL WaitCommEvent(HANDLE file, DWORD* eventMask, OVERLAPPED* overlapped) {
  return WithPort(file, [&](DriverCore& c) { return c.WaitEvent(eventMask, overlapped); });
}

BOOL ClearCommError(HANDLE file, DWORD* errors, COMSTAT* status) {
  return WithPort(file, [&](DriverCore& c) { return c.ClearError(errors, status); });
}

BOOL GetCommQueueStatus(HANDLE file, COMSTAT* status) {
  return WithPort(file, [&](DriverCore& c) { return c.QueueStatus(status); });
}

BOOL PurgeComm(HANDLE file, DWORD flags) {
  return WithPort(file, [&](DriverCore& c) { return c.Purge(flags); });
}

BOOL EscapeCommFunction(HANDLE file, DWORD function) {
  return WithPort(file, [&](DriverCore& c) { return c.Escape(function); });
}

BOOL SetCommBreak(HANDLE file) { return EscapeCommFunction(file, SETBREAK); }
BOOL ClearCommBreak(HANDLE file) { return EscapeCommFunction(file, CLRBREAK); }

BOOL GetCommModemStatus(HANDLE file, DWORD* modemStatus) {
  return WithPort(file, [&](DriverCore& c) { return c.ModemStatus(modemStatus); });
}

BOOL TransmitCommChar(HANDLE file, char c) {
  return WithPort(file, [&](DriverCore& core) { return core.TransmitChar(c); });
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD toRead, DWORD* read, OVERLAPPED* overlapped) {
  auto object = qv::sync::LookupHandle(file);
  if (auto f = std::dynamic_pointer_cast<FileObject>(object)) {
    return FileRead(*f, buffer, toRead, read, overlapped);
  }
  return WithPort(file, [&](DriverCore& c) { return c.Read(buffer, toRead, read, overlapped); });
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD toWrite, DWORD* written,
               OVERLAPPED* overlapped) {
  auto object = qv::sync::LookupHandle(file);
  if (auto f = std::dynamic_pointer_cast<FileObject>(object)) {
    return FileWrite(*f, buffer, toWrite, written, overlapped);
  }
  return WithPort(file,
                  [&](DriverCore& c) { return c.Write(buffer, toWrite, written, overlapped); });
}

BOOL FlushFileBuffers(HANDLE file) {
  auto object = qv::sync::LookupHandle(file);
  if (auto f = std::dynamic_pointer_cast<FileObject>(object)) {
    ::fsync(f->fd());  // a character device has nothing to sync: not a failure
    return TRUE;
  }
  return WithPort(file, [&](DriverCore& c) { return c.Flush(); });
}

BOOL CancelIo(HANDLE file) {
  return WithPort(file, [&](DriverCore& c) { return c.Cancel(std::this_thread::get_id()); });
}
