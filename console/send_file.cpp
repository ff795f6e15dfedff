#include "console/send_file.h"

#include <sys/resource.h>
#include <unistd.h>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>

#include "console/plain_file.h"
#include "engine/comm.h"
#include "platform/ui/message_box.h"
#include "support/reporting/checked_call.h"

namespace qv::console {

namespace {

constexpr const char* kModule = "quor_vixDlg";
constexpr const char* kCaption = "quor_vix";
constexpr std::uint64_t kRequestMax = 0xFFFFFFFFu;  // a write request's byte count is 32 bits
constexpr std::uint64_t kFrameFixed = 24;           // the frame's bytes besides title and content

void PutU16(BYTE* at, std::uint16_t v) {
  at[0] = BYTE(v);
  at[1] = BYTE(v >> 8);
}
void PutU32(BYTE* at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) at[i] = BYTE(v >> (8 * i));
}

void ErrorMessage(HWND owner, const char* text) {
  MessageBoxA(owner, text, kCaption, MB_OK | MB_ICONERROR);
}

// The control group's memory limit (cgroup v2), when the process has one.
std::optional<std::uint64_t> GroupMemoryLimit() {
  std::ifstream in("/sys/fs/cgroup/memory.max");
  std::string value;
  if (!(in >> value) || value.empty() || value == "max") return std::nullopt;
  char* end = nullptr;
  const unsigned long long limit = std::strtoull(value.c_str(), &end, 10);
  if (end == value.c_str() || *end != '\0') return std::nullopt;
  return limit;
}

std::uint64_t ProcessMemoryLimit() {
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long pageSize = ::sysconf(_SC_PAGESIZE);
  std::uint64_t limit = pages > 0 && pageSize > 0 ? std::uint64_t(pages) * std::uint64_t(pageSize)
                                                  : std::uint64_t(-1);
  for (int resource : {RLIMIT_AS, RLIMIT_DATA}) {
    struct rlimit r;
    if (::getrlimit(resource, &r) == 0 && r.rlim_cur != RLIM_INFINITY)
      limit = std::min<std::uint64_t>(limit, r.rlim_cur);
  }
  if (auto group = GroupMemoryLimit()) limit = std::min(limit, *group);
  return limit;
}

struct FreeBytes {
  void operator()(BYTE* p) const { std::free(p); }
};
using FileBytes = std::unique_ptr<BYTE, FreeBytes>;

// Closes the file as a checked call: a failure asks Retry/Ignore/Abort.
void CloseChecked(PlainFile& file) {
  qv::support::CheckLastError(kModule, [&] { return file.Close() ? 1 : 0; });
}

// Opens, sizes and reads the whole file. framing is what the send adds around the content in
// one count (it must still fit a request's 32-bit count). Every failure has been reported when
// this returns false, and the file is closed in every case.
bool ReadWholeFile(const char* path, std::uint64_t framing, bool zeroFill, HWND owner,
                   FileBytes* bytes, std::uint64_t* size) {
  PlainFile file;
  if (!file.Open(path)) {
    ErrorMessage(owner, "Unable to open file");
    return false;
  }
  *size = 0;
  const int sized = qv::support::CheckLastError(kModule, [&] { return file.Size(size) ? 1 : 0; });
  if (!sized) {
    // Ignored: the size is unknown, so what follows can only be a short read.
    ErrorMessage(owner, "Unable to read file");
    CloseChecked(file);
    return false;
  }
  // Refused before any memory is taken: a request counts its bytes in 32 bits, and the file is
  // held twice while it is handed over.
  const std::uint64_t limit =
      std::min(kRequestMax - std::min(framing, kRequestMax), SendSizeLimit());
  if (*size > limit) {
    char text[200];
    std::snprintf(text, sizeof text,
                  "File too large to send: %llu bytes (one send holds at most %llu bytes)",
                  static_cast<unsigned long long>(*size), static_cast<unsigned long long>(limit));
    ErrorMessage(owner, text);
    CloseChecked(file);
    return false;
  }
  // One byte at least, so that an empty file still has a buffer to hand over.
  const std::size_t allocation = std::max<std::size_t>(std::size_t(*size), 1);
  BYTE* raw = static_cast<BYTE*>(zeroFill ? std::calloc(allocation, 1) : std::malloc(allocation));
  if (raw == nullptr) {
    char text[200];
    std::snprintf(text, sizeof text, "Not enough memory to send file: %llu bytes",
                  static_cast<unsigned long long>(*size));
    ErrorMessage(owner, text);
    CloseChecked(file);
    return false;
  }
  bytes->reset(raw);
  // A retried read goes on where the failed one stopped.
  std::uint64_t done = 0;
  qv::support::CheckLastError(kModule, [&] {
    std::uint64_t got = 0;
    const bool ok = file.Read(raw + done, *size - done, &got);
    done += got;
    return ok ? 1 : 0;
  });
  // Fewer bytes than the size said: the file shrank (or could not be read) meanwhile.
  if (done != *size) {
    ErrorMessage(owner, "Unable to read file");
    bytes->reset();
    CloseChecked(file);
    return false;
  }
  CloseChecked(file);
  return true;
}

}  // namespace

bool IsRawObjectCategory(std::string_view category) {
  return category == "VCARDS" || category == "VEVENTS" || category == "VTODO";
}

std::string ObjectTitle(std::string_view path) {
  const std::size_t separator = path.find_last_of("/\\");
  const std::string_view name =
      separator == std::string_view::npos ? path : path.substr(separator + 1);
  const std::size_t dot = name.find('.');
  return dot == std::string_view::npos ? std::string() : std::string(name.substr(0, dot));
}

std::uint16_t ObjectFormatNumber(const std::string& text) {
  // atoi is strtol's result as an int; strtol is defined where atoi is not (overflow).
  return static_cast<std::uint16_t>(static_cast<int>(std::strtol(text.c_str(), nullptr, 10)));
}

std::array<BYTE, 8> ObjectFrameStart(std::size_t titleLength, std::uint32_t contentSize) {
  std::array<BYTE, 8> b{};
  PutU32(&b[0], std::uint32_t(20 + 2 * titleLength + contentSize));
  PutU32(&b[4], 0x00010001u);
  return b;
}

std::array<BYTE, 8> ObjectTitleHeader(std::size_t titleLength) {
  std::array<BYTE, 8> b{};
  PutU16(&b[0], 0);
  PutU16(&b[2], 0);
  PutU32(&b[4], std::uint32_t(2 * titleLength));
  return b;
}

std::vector<BYTE> ObjectTitleUnits(std::string_view title) {
  // The title's characters in UTF-16, low byte first: a name in the local 8-bit encoding (UTF-8)
  // keeps its characters on the phone, and an ASCII name gives one unit per byte.
  const QString text = QString::fromLocal8Bit(title.data(), qsizetype(title.size()));
  std::vector<BYTE> units(2 * std::size_t(text.size()));
  for (qsizetype i = 0; i < text.size(); ++i) PutU16(&units[2 * std::size_t(i)], text[i].unicode());
  return units;
}

std::array<BYTE, 8> ObjectContentHeader(std::uint16_t format, std::uint32_t contentSize) {
  std::array<BYTE, 8> b{};
  PutU16(&b[0], format);
  PutU16(&b[2], 1);
  PutU32(&b[4], contentSize);
  return b;
}

std::uint64_t SendSizeLimit() { return std::min(kRequestMax, ProcessMemoryLimit() / 2); }

void SendWholeFile(const char* path, HWND owner) {
  FileBytes bytes;
  std::uint64_t size = 0;
  if (!ReadWholeFile(path, 0, false, owner, &bytes, &size)) return;
  WriteCommBufferFrom("file", bytes.get(), DWORD(size));
}

void SendFramedObject(const char* path, const ObjectSendValues& values, HWND owner) {
  const std::vector<BYTE> units = ObjectTitleUnits(ObjectTitle(path ? path : ""));
  const std::size_t titleLength = units.size() / 2;  // in 16-bit units
  FileBytes bytes;
  std::uint64_t size = 0;
  if (!ReadWholeFile(path, kFrameFixed + units.size(), true, owner, &bytes, &size)) return;
  const auto content = static_cast<std::uint32_t>(size);
  const std::uint16_t format = ObjectFormatNumber(values.objectTypeText);

  // Five requests; when one cannot be posted the others are still tried (WriteComm reports).
  const auto start = ObjectFrameStart(titleLength, content);
  const auto titleHeader = ObjectTitleHeader(titleLength);
  const auto contentHeader = ObjectContentHeader(format, content);
  WriteCommBufferFrom("file", start.data(), DWORD(start.size()));
  WriteCommBufferFrom("file", titleHeader.data(), DWORD(titleHeader.size()));
  WriteCommBufferFrom("file", units.data(), DWORD(units.size()));
  WriteCommBufferFrom("file", contentHeader.data(), DWORD(contentHeader.size()));
  WriteCommBufferFrom("file", bytes.get(), content);
}

}  // namespace qv::console
