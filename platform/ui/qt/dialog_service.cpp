#include "platform/ui/qt/dialog_service.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <QWidget>
#include <atomic>

#include "platform/ui/ui_thread.h"

namespace qv::ui {
namespace {

std::atomic<DialogProvider*> installed{nullptr};

DialogProvider& QtProvider() {
  static QtDialogs qt;
  return qt;
}

}  // namespace

void SetDialogProvider(DialogProvider* provider) { installed.store(provider); }

DialogProvider* CurrentDialogProvider() {
  DialogProvider* p = installed.load();
  return p != nullptr ? p : &QtProvider();
}

FileDialogResult RunFileDialog(const FileDialogRequest& request) {
  FileDialogResult result;
  RunOnUiThread([&] { result = CurrentDialogProvider()->RunFileDialog(request); });
  return result;
}

FontDialogResult RunFontDialog(const FontDialogRequest& request) {
  FontDialogResult result;
  RunOnUiThread([&] { result = CurrentDialogProvider()->RunFontDialog(request); });
  return result;
}

QStringList QtNameFilters(const QString& filter) {
  // Items alternate between a description and its patterns; an empty item ends the list.
  const QStringList items = filter.split(QLatin1Char('|'));
  QStringList result;
  for (qsizetype i = 0; i + 1 < items.size(); i += 2) {
    const QString& description = items[i];
    if (description.isEmpty()) break;
    QStringList patterns;
    for (const QString& p : items[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
      const QString pattern = p.trimmed();
      // On Windows "*.*" also matches names without a dot; here only "*" does.
      patterns << (pattern == QLatin1String("*.*") ? QStringLiteral("*") : pattern);
    }
    if (patterns.isEmpty()) patterns << QStringLiteral("*");
    result << description + QLatin1String(" (") + patterns.join(QLatin1Char(' ')) +
                  QLatin1Char(')');
  }
  return result;
}

FileDialogResult QtDialogs::RunFileDialog(const FileDialogRequest& request) {
  QFileDialog dialog(static_cast<QWidget*>(request.owner), request.title);
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  dialog.setAcceptMode(request.open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
  dialog.setFileMode(request.open && request.fileMustExist ? QFileDialog::ExistingFile
                                                           : QFileDialog::AnyFile);
  if (!request.open) dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.overwritePrompt);
  if (!request.nameFilters.isEmpty()) dialog.setNameFilters(request.nameFilters);
  if (!request.defaultExtension.isEmpty()) dialog.setDefaultSuffix(request.defaultExtension);
  if (!request.initialFolder.isEmpty()) dialog.setDirectory(request.initialFolder);
  if (!request.initialName.isEmpty()) dialog.selectFile(request.initialName);
  FileDialogResult result;
  if (dialog.exec() != QDialog::Accepted) return result;
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty()) return result;
  result.accepted = true;
  result.path = QFileInfo(files.first()).absoluteFilePath();
  return result;
}

FontDialogResult QtDialogs::RunFontDialog(const FontDialogRequest& request) {
  QFontDialog dialog(request.current, static_cast<QWidget*>(request.owner));
  dialog.setOption(QFontDialog::DontUseNativeDialog, true);
  if (!request.title.isEmpty()) dialog.setWindowTitle(request.title);
  FontDialogResult result;
  if (dialog.exec() != QDialog::Accepted) return result;
  result.accepted = true;
  result.font = dialog.selectedFont();
  return result;
}

ScriptedDialogs::ScriptedDialogs() : previous_(installed.load()) { SetDialogProvider(this); }

ScriptedDialogs::~ScriptedDialogs() { SetDialogProvider(previous_); }

void ScriptedDialogs::AcceptFile(const QString& path) {
  std::lock_guard guard(lock_);
  answers_.push_back({Kind::File, true, path, QFont()});
}

void ScriptedDialogs::AcceptFont(const QFont& font) {
  std::lock_guard guard(lock_);
  answers_.push_back({Kind::Font, true, QString(), font});
}

void ScriptedDialogs::CancelFile() {
  std::lock_guard guard(lock_);
  answers_.push_back({Kind::File, false, QString(), QFont()});
}

void ScriptedDialogs::CancelFont() {
  std::lock_guard guard(lock_);
  answers_.push_back({Kind::Font, false, QString(), QFont()});
}

std::vector<ScriptedDialogs::Request> ScriptedDialogs::Requests() const {
  std::lock_guard guard(lock_);
  return requests_;
}

std::size_t ScriptedDialogs::Count() const {
  std::lock_guard guard(lock_);
  return requests_.size();
}

void ScriptedDialogs::Clear() {
  std::lock_guard guard(lock_);
  requests_.clear();
  answers_.clear();
}

bool ScriptedDialogs::TakeAnswer(Kind kind, Answer* answer) {
  std::lock_guard guard(lock_);
  // An answer of the other kind stays queued: the script and the program disagree, and the test
  // hears of it through onUnanswered.
  if (answers_.empty() || answers_.front().kind != kind) return false;
  *answer = answers_.front();
  answers_.pop_front();
  return true;
}

FileDialogResult ScriptedDialogs::RunFileDialog(const FileDialogRequest& request) {
  Request recorded{Kind::File, request, FontDialogRequest()};
  {
    std::lock_guard guard(lock_);
    requests_.push_back(recorded);
  }
  Answer answer;
  FileDialogResult result;
  if (!TakeAnswer(Kind::File, &answer)) {
    if (onUnanswered) onUnanswered(recorded);
    return result;
  }
  result.accepted = answer.accepted;
  if (answer.accepted) result.path = answer.path;
  return result;
}

FontDialogResult ScriptedDialogs::RunFontDialog(const FontDialogRequest& request) {
  Request recorded{Kind::Font, FileDialogRequest(), request};
  {
    std::lock_guard guard(lock_);
    requests_.push_back(recorded);
  }
  Answer answer;
  FontDialogResult result;
  if (!TakeAnswer(Kind::Font, &answer)) {
    if (onUnanswered) onUnanswered(recorded);
    return result;
  }
  result.accepted = answer.accepted;
  result.font = answer.accepted ? answer.font : request.current;
  return result;
}

}  // namespace qv::ui
