// A file on disk opened for reading by the console's file sends, with the meaning the send code
// expects of its calls: every operation answers success or failure and leaves the calling
// thread's last error in Win32 numbering on failure.
//
// A path is always a file system path here (relative to the current directory or absolute):
// unlike a port name, "test.wav" is the file test.wav and never a device.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace qv::console {

class PlainFile {
 public:
  PlainFile() = default;
  ~PlainFile();  // closes a file still open, silently
  PlainFile(const PlainFile&) = delete;
  PlainFile& operator=(const PlainFile&) = delete;

  // Opens an existing regular file for reading, without ever blocking. Anything else (a folder,
  // a FIFO, a device node, a socket) is refused with ERROR_ACCESS_DENIED (5) before it is opened,
  // as the system refuses to open a folder as a file.
  bool Open(const char* path);
  bool IsOpen() const { return fd_ >= 0; }
  // The size in bytes, in full (no 32-bit cut).
  bool Size(std::uint64_t* size);
  // Reads up to count bytes into buffer, going on after partial reads until count bytes are in
  // or the end of the file is reached; *done tells how many arrived. An I/O error fails with the
  // bytes read so far in *done.
  bool Read(void* buffer, std::uint64_t count, std::uint64_t* done);
  bool Close();

 private:
  int fd_ = -1;
};

}  // namespace qv::console
