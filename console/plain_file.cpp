#include "console/plain_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/sync/last_error.h"

namespace qv::console {

namespace {
// One read(2) hands back at most about 2 GiB; larger requests go in pieces of this size.
constexpr std::uint64_t kReadPiece = 1u << 30;
}  // namespace

PlainFile::~PlainFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool PlainFile::Open(const char* path) {
  if (fd_ >= 0) Close();
  if (path == nullptr || path[0] == '\0') {
    SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  // Only a regular file is read whole. A FIFO would block the open (and the window) until a
  // writer came, a device node may never reach its end or may act on being opened (a tty raises
  // its modem lines): such names are refused before anything is opened.
  struct stat st;
  if (::stat(path, &st) != 0) {
    qv::sync::SetLastErrorFromErrno(errno);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  // Non-blocking, in case the name was replaced by a FIFO since: the open returns at once and
  // the kind is checked again on what was really opened.
  int fd;
  do {
    fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    qv::sync::SetLastErrorFromErrno(errno);
    return false;
  }
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  // Regular files never block; the flag is cleared so that reads keep their plain meaning.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  fd_ = fd;
  return true;
}

bool PlainFile::Size(std::uint64_t* size) {
  if (fd_ < 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  struct stat st;
  if (::fstat(fd_, &st) != 0) {
    qv::sync::SetLastErrorFromErrno(errno);
    return false;
  }
  *size = st.st_size < 0 ? 0 : static_cast<std::uint64_t>(st.st_size);
  return true;
}

bool PlainFile::Read(void* buffer, std::uint64_t count, std::uint64_t* done) {
  *done = 0;
  if (fd_ < 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  auto* bytes = static_cast<char*>(buffer);
  while (*done < count) {
    const std::uint64_t piece = std::min(count - *done, kReadPiece);
    const ssize_t n = ::read(fd_, bytes + *done, static_cast<std::size_t>(piece));
    if (n < 0) {
      if (errno == EINTR) continue;
      qv::sync::SetLastErrorFromErrno(errno);
      return false;
    }
    if (n == 0) break;  // the end of the file came first: the caller sees the short count
    *done += static_cast<std::uint64_t>(n);
  }
  return true;
}

bool PlainFile::Close() {
  if (fd_ < 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  const int fd = fd_;
  fd_ = -1;
  // The descriptor is gone after close(2) whatever it answers; EINTR is not a failure to retry.
  if (::close(fd) != 0 && errno != EINTR) {
    qv::sync::SetLastErrorFromErrno(errno);
    return false;
  }
  return true;
}

}  // namespace qv::console
