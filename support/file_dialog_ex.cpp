#include "support/file_dialog_ex.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QWidget>
#include <cstdint>
#include <cstdio>

#include "platform/store/profile_store.h"
#include "platform/ui/message_box.h"
#include "platform/ui/qt/dialog_service.h"

CFileDialogEx::CFileDialogEx(BOOL openFileDialog, const char* defaultExtension,
                             const char* fileName, DWORD flags, const char* filter, QWidget* parent)
    : open_(openFileDialog != FALSE),
      defaultExtension_(defaultExtension != nullptr ? defaultExtension : ""),
      initialName_(fileName != nullptr ? fileName : ""),
      flags_(flags),
      filter_(filter != nullptr ? filter : ""),
      hasFilter_(filter != nullptr),
      parent_(parent) {}

std::string CFileDialogEx::FilterKey(const char* filter) {
  std::uint32_t h = 0;
  if (filter != nullptr) {
    // The platform form has a NUL for every "|"; the hash runs up to the first pair of NULs.
    for (const char* p = filter; *p != '\0'; ++p) {
      const bool separator = *p == '|';
      if (separator && (p[1] == '|' || p[1] == '\0')) break;
      const auto c = static_cast<std::uint32_t>(separator ? 0 : static_cast<unsigned char>(*p));
      h = (h << 3) | (h >> 29);
      h ^= c;
    }
  }
  char key[16];
  std::snprintf(key, sizeof key, "%.8x", static_cast<unsigned>(h));
  return key;
}

bool CFileDialogEx::IsBareFileName(const std::string& name) {
  return name.find('/') == std::string::npos;
}

std::string CFileDialogEx::GetFileName() const {
  const auto slash = pathName_.find_last_of('/');
  return slash == std::string::npos ? pathName_ : pathName_.substr(slash + 1);
}

std::string CFileDialogEx::GetFolderPath() const {
  const auto slash = pathName_.find_last_of('/');
  if (slash == std::string::npos) return {};
  // A file in the root folder: its folder is the root itself, not an empty text.
  return slash == 0 ? std::string("/") : pathName_.substr(0, slash);
}

int CFileDialogEx::DoModal() {
  pathName_.clear();
  qv::ui::FileDialogRequest request;
  request.owner = static_cast<HWND>(parent_);
  request.open = open_;
  request.title = open_ ? QStringLiteral("Open") : QStringLiteral("Save As");
  request.filter = QString::fromStdString(filter_);
  request.nameFilters = qv::ui::QtNameFilters(request.filter);
  request.defaultExtension = QString::fromStdString(defaultExtension_);
  request.fileMustExist = (flags_ & OFN_FILEMUSTEXIST) != 0;
  request.overwritePrompt = (flags_ & OFN_OVERWRITEPROMPT) != 0;

  // An initial name with a folder opens in that folder and remembers nothing for this run.
  const QString initial = QString::fromStdString(initialName_);
  if (IsBareFileName(initialName_)) {
    request.initialName = initial;
  } else {
    const QFileInfo info(initial);
    request.initialFolder = info.path();
    request.initialName = info.fileName();
  }

  std::string key;
  if (QCoreApplication::instance() != nullptr && IsBareFileName(initialName_) && hasFilter_) {
    key = FilterKey(filter_.c_str());
    const QString folder =
        qv::store::GetProfileString(QString::fromLatin1(kSection), QString::fromStdString(key));
    if (!folder.isEmpty()) request.initialFolder = folder;
  }

  const qv::ui::FileDialogResult result = qv::ui::RunFileDialog(request);
  if (!result.accepted) return IDCANCEL;
  pathName_ = result.path.toStdString();

  // The folder is stored only when the chosen path has one (a file-name offset other than 0).
  const std::string folder = GetFolderPath();
  if (!key.empty() && !folder.empty()) {
    qv::store::WriteProfileString(QString::fromLatin1(kSection), QString::fromStdString(key),
                                  QString::fromStdString(folder));
  }
  return IDOK;
}
