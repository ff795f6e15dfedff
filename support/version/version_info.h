// The program's version text, read from its version resource.
//
// The build embeds a version resource in the Win32 VS_VERSIONINFO layout (wide-character form):
// fixed file information, a "\VarFileInfo\Translation" list and a string table per translation.
// It is generated at build time from the project version (see support/version_gen/version_resource.h).
// VerQueryValueW reads such a block the way the platform function does.
#pragma once

#include <string>
#include <vector>

#include "platform/sync/library.h"
#include "platform/types.h"

// Fixed file information (VS_FIXEDFILEINFO), 52 bytes.
struct VS_FIXEDFILEINFO {
  DWORD dwSignature;  // 0xFEEF04BD
  DWORD dwStrucVersion;
  DWORD dwFileVersionMS;  // major << 16 | minor
  DWORD dwFileVersionLS;  // build << 16 | revision
  DWORD dwProductVersionMS;
  DWORD dwProductVersionLS;
  DWORD dwFileFlagsMask;
  DWORD dwFileFlags;
  DWORD dwFileOS;
  DWORD dwFileType;
  DWORD dwFileSubtype;
  DWORD dwFileDateMS;
  DWORD dwFileDateLS;
};
static_assert(sizeof(VS_FIXEDFILEINFO) == 52);

constexpr DWORD VS_FFI_SIGNATURE = 0xFEEF04BD;
constexpr DWORD VS_FFI_STRUCVERSION = 0x00010000;
constexpr DWORD VS_FFI_FILEFLAGSMASK = 0x0000003F;
constexpr DWORD VS_FF_DEBUG = 0x1;
constexpr DWORD VS_FF_PRERELEASE = 0x2;
constexpr DWORD VS_FF_PATCHED = 0x4;
constexpr DWORD VS_FF_PRIVATEBUILD = 0x8;
constexpr DWORD VS_FF_INFOINFERRED = 0x10;
constexpr DWORD VS_FF_SPECIALBUILD = 0x20;

// Looks up subBlock in a version block: "\" gives the VS_FIXEDFILEINFO (length 52 bytes),
// "\VarFileInfo\Translation" the translation list (length in bytes), and
// "\StringFileInfo\<translation>\<name>" a string (length in characters, terminator included).
// Keys compare without regard to case. *buffer points into block. FALSE when the path is not
// there or the block is malformed.
BOOL VerQueryValueW(const void* block, const WCHAR* subBlock, void** buffer, UINT* length);

namespace qv::support {

// The version resource of module: null is the running program, whose resource the build
// embedded. False (and nothing) for any other module.
bool FindVersionResource(HMODULE module, const void** data, DWORD* size);

}  // namespace qv::support

class VersionInfo {
 public:
  // Loads the version resource of module (null: the program itself).
  explicit VersionInfo(HMODULE module);
  // Uses a copy of the given block (tests, other files' resources).
  VersionInfo(const void* block, DWORD size);

  // False when the resource was missing or empty: the program must not start then.
  bool IsLoaded() const { return !block_.empty(); }

  // "%u.%02u" of major and minor; "%u.%02u.%04u" with the build number when the file is marked
  // pre-release. Empty when nothing is loaded.
  std::string GetVersionText() const;
  // The first translation as language << 16 | code page; 0 when there is none.
  DWORD GetTranslation() const;
  // The named string of that translation's string table, as UTF-8; empty when missing.
  std::string GetStringValue(DWORD translation, const char* name) const;
  // GetVersionText, then " " + "SpecialBuild" when flagged special, then " (" + "PrivateBuild" +
  // ")" when flagged private. This is what the console puts into its title.
  std::string GetFullVersionText() const;

  const VS_FIXEDFILEINFO* FixedInfo() const;

 private:
  std::vector<unsigned char> block_;
};
