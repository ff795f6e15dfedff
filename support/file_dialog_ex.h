// The program's file open/save dialog. It remembers, per file-type filter, the folder from which
// the user last chose a file, and opens there next time.
//
// The remembered folders live in the per-user store, section "FileDialogEx dirs", one string per
// filter named by the filter's key (FilterKey). A folder is read and stored only when the initial
// file name is bare (no folder part); a cancelled dialog stores nothing. The dialog runs through
// the dialog service (platform/ui/qt/dialog_service.h), so tests script it.
#pragma once

#include <QString>
#include <string>

#include "platform/types.h"

class QWidget;

constexpr DWORD OFN_READONLY = 0x00000001;
constexpr DWORD OFN_OVERWRITEPROMPT = 0x00000002;
constexpr DWORD OFN_HIDEREADONLY = 0x00000004;
constexpr DWORD OFN_NOCHANGEDIR = 0x00000008;
constexpr DWORD OFN_PATHMUSTEXIST = 0x00000800;
constexpr DWORD OFN_FILEMUSTEXIST = 0x00001000;
constexpr DWORD OFN_EXPLORER = 0x00080000;

class CFileDialogEx {
 public:
  static constexpr const char* kSection = "FileDialogEx dirs";

  // openFileDialog: open (TRUE) or save (FALSE). defaultExtension may be null. fileName is the
  // initial file name: bare, or with a folder (the dialog then opens in that folder and nothing is
  // remembered for this run). filter is in the form "desc|patterns|...||".
  CFileDialogEx(BOOL openFileDialog, const char* defaultExtension = nullptr,
                const char* fileName = nullptr,
                DWORD flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, const char* filter = nullptr,
                QWidget* parent = nullptr);

  // IDOK (1) or IDCANCEL (2).
  int DoModal();

  // After IDOK: the chosen file's full path, its name, and its folder (no trailing separator,
  // "/" for the root folder).
  std::string GetPathName() const { return pathName_; }
  std::string GetFileName() const;
  std::string GetFolderPath() const;

  // The key of a filter given in the program's form ("abc||" -> "00001b33"): a 32-bit rotate-xor
  // hash over the filter with every "|" as a NUL, up to the first pair of NULs, as "%.8x".
  static std::string FilterKey(const char* filter);
  // Whether a file name has no folder part (an empty name counts as bare).
  static bool IsBareFileName(const std::string& name);

 private:
  bool open_;
  std::string defaultExtension_;
  std::string initialName_;
  DWORD flags_;
  std::string filter_;  // empty when none was given
  bool hasFilter_;
  QWidget* parent_;
  std::string pathName_;
};
