// The console's file sends: a whole file as one write request, and a file wrapped in the phone's
// object frame as five write requests. Both read the file into memory first and hand copies to
// the engine's write path; nothing is sent when the file cannot be read in full.
//
// Object frame (integers little-endian; n = title length in UTF-16 units, S = file size):
//   0       u32  20 + 2n + S          4       u32  0x00010001
//   8       u16  0 (title tag)        10      u16  0
//   12      u32  2n                   16      2n   the title in UTF-16
//   16+2n   u16  format number        18+2n   u16  1
//   20+2n   u32  S                    24+2n   S    the file's bytes
// sent as: bytes 0-7, the title header, the title, the content header, the content.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/types.h"

namespace qv::console {

// What an object send takes from the object panel: its SyncAT category and the text of its
// object type (DFOM) selection, whose leading number is the object format.
struct ObjectSendValues {
  std::string category;
  std::string objectTypeText;
};

// The categories whose entries go to the phone as the file's raw bytes, without a frame
// (exact, case-sensitive).
bool IsRawObjectCategory(std::string_view category);

// The object's title: the file name after the path's last "/" or "\", up to its first "."; empty
// when the name has no ".".
std::string ObjectTitle(std::string_view path);

// The leading decimal number of the text as atoi reads it (leading blanks, an optional sign, the
// digits up to the first non-digit; 0 when there is none), cut to 16 bits.
std::uint16_t ObjectFormatNumber(const std::string& text);

// The frame's pieces around the title and the content.
// titleLength counts 16-bit units; ObjectTitleUnits gives the title's units (UTF-16LE of the
// title read in the local 8-bit encoding).
std::array<BYTE, 8> ObjectFrameStart(std::size_t titleLength, std::uint32_t contentSize);
std::array<BYTE, 8> ObjectTitleHeader(std::size_t titleLength);
std::vector<BYTE> ObjectTitleUnits(std::string_view title);
std::array<BYTE, 8> ObjectContentHeader(std::uint16_t format, std::uint32_t contentSize);

// The most bytes one send may read: a write request counts its bytes in 32 bits, and a sent
// file is held twice at once (the read buffer and the write request's copy), so it may take at
// most half of the memory the process may use (physical memory, the process's data and
// address-space limits, its control group's memory limit).
std::uint64_t SendSizeLimit();

// SendFile's work once the console's controls are read: the file in one write request.
void SendWholeFile(const char* path, HWND owner);
// SendObjectFile's work once the console's controls are read (the raw categories are the
// caller's business): the framed object in five write requests.
void SendFramedObject(const char* path, const ObjectSendValues& values, HWND owner);

}  // namespace qv::console
