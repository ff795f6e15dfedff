// One place through which the program runs its modal common dialogs (the file dialog and the font
// dialog), so that tests can script them like message boxes.
//
// The program's provider draws them with Qt (QFileDialog without the native dialog, QFontDialog).
// Tests install a ScriptedDialogs, which records every request and answers from a queue.
// While no provider is installed the Qt one is used.
#pragma once

#include <QFont>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/types.h"

namespace qv::ui {

struct FileDialogRequest {
  HWND owner = nullptr;      // a QWidget*, or null
  bool open = true;          // open (true) or save (false)
  QString title;             // "Open" or "Save As"
  QString filter;            // the program's form: "All files|*.*||"
  QStringList nameFilters;   // the same for Qt: "All files (*)"
  QString initialFolder;     // empty: the platform decides
  QString initialName;       // file name to preselect (no folder), may be empty
  QString defaultExtension;  // without the dot; empty for none
  bool fileMustExist = false;
  bool overwritePrompt = false;
};

struct FileDialogResult {
  bool accepted = false;
  QString path;  // absolute path of the chosen file when accepted
};

struct FontDialogRequest {
  HWND owner = nullptr;
  QString title;
  QFont current;
};

struct FontDialogResult {
  bool accepted = false;
  QFont font;
};

class DialogProvider {
 public:
  virtual ~DialogProvider() = default;
  // Run on the UI thread.
  virtual FileDialogResult RunFileDialog(const FileDialogRequest& request) = 0;
  virtual FontDialogResult RunFontDialog(const FontDialogRequest& request) = 0;
};

// Installs the provider (not owned); null restores the Qt provider.
void SetDialogProvider(DialogProvider* provider);
DialogProvider* CurrentDialogProvider();

// Run a dialog through the current provider, on the UI thread (callable from any thread).
FileDialogResult RunFileDialog(const FileDialogRequest& request);
FontDialogResult RunFontDialog(const FontDialogRequest& request);

// Turns the program's filter form ("desc|patterns|desc|patterns||", patterns separated by ';')
// into Qt name filters ("desc (patterns)"). "*.*" means every file, as it does on Windows, and
// becomes "*".
QStringList QtNameFilters(const QString& filter);

class QtDialogs : public DialogProvider {
 public:
  FileDialogResult RunFileDialog(const FileDialogRequest& request) override;
  FontDialogResult RunFontDialog(const FontDialogRequest& request) override;
};

// Records every request and answers from one queue shared by both kinds of dialogs. A request
// with no answer left (or an answer of the other kind) is reported through onUnanswered and
// cancelled, so a test never hangs on it.
class ScriptedDialogs : public DialogProvider {
 public:
  enum class Kind { File, Font };
  struct Request {
    Kind kind;
    FileDialogRequest file;  // when kind == File
    FontDialogRequest font;  // when kind == Font
  };

  ScriptedDialogs();            // installs itself
  ~ScriptedDialogs() override;  // restores the previous provider

  void AcceptFile(const QString& path);
  void AcceptFont(const QFont& font);
  void CancelFile();
  void CancelFont();

  std::vector<Request> Requests() const;
  std::size_t Count() const;
  void Clear();
  std::function<void(const Request&)> onUnanswered;

  FileDialogResult RunFileDialog(const FileDialogRequest& request) override;
  FontDialogResult RunFontDialog(const FontDialogRequest& request) override;

 private:
  struct Answer {
    Kind kind;
    bool accepted;
    QString path;
    QFont font;
  };
  bool TakeAnswer(Kind kind, Answer* answer);

  mutable std::mutex lock_;
  std::deque<Answer> answers_;
  std::vector<Request> requests_;
  DialogProvider* previous_;
};

}  // namespace qv::ui
