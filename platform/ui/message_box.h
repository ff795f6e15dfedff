// Message boxes with the Win32 flags and results, callable from any thread.
//
// A worker's box is shown by the UI thread (see ui_thread.h) and the worker blocks until the user
// answered. The drawing is done by a provider: the Qt one in the program, a scripted one in tests.
#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/types.h"

constexpr UINT MB_OK = 0x00000000;
constexpr UINT MB_OKCANCEL = 0x00000001;
constexpr UINT MB_ABORTRETRYIGNORE = 0x00000002;
constexpr UINT MB_YESNOCANCEL = 0x00000003;
constexpr UINT MB_YESNO = 0x00000004;
constexpr UINT MB_RETRYCANCEL = 0x00000005;
constexpr UINT MB_TYPEMASK = 0x0000000F;
constexpr UINT MB_ICONHAND = 0x00000010;
constexpr UINT MB_ICONERROR = MB_ICONHAND;
constexpr UINT MB_ICONSTOP = MB_ICONHAND;
constexpr UINT MB_ICONQUESTION = 0x00000020;
constexpr UINT MB_ICONEXCLAMATION = 0x00000030;
constexpr UINT MB_ICONWARNING = MB_ICONEXCLAMATION;
constexpr UINT MB_ICONASTERISK = 0x00000040;
constexpr UINT MB_ICONINFORMATION = MB_ICONASTERISK;
constexpr UINT MB_ICONMASK = 0x000000F0;
constexpr UINT MB_DEFBUTTON2 = 0x00000100;
constexpr UINT MB_APPLMODAL = 0x00000000;
constexpr UINT MB_SYSTEMMODAL = 0x00001000;
constexpr UINT MB_TASKMODAL = 0x00002000;
constexpr UINT MB_SETFOREGROUND = 0x00010000;
constexpr UINT MB_TOPMOST = 0x00040000;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// Shows a box and returns the button chosen (0 when no box could be shown).
int MessageBoxA(HWND owner, const char* text, const char* caption, UINT flags);

namespace qv::ui {

class MessageBoxProvider {
 public:
  virtual ~MessageBoxProvider() = default;
  // Runs on the UI thread (or the calling thread when there is none).
  virtual int Show(HWND owner, const std::string& text, const std::string& caption, UINT flags) = 0;
};

// The window that owns a box the calling thread shows when its caller names none: the thread's
// first visible top-level window that has no owner of its own. Null on a thread without windows
// (every worker, the UI thread before its first window, a program without a window system).
HWND FirstVisibleUnownedWindowOfThisThread();
// The window system's answer to it (the Qt side installs one); null: no thread has windows.
void SetThreadWindowLookup(HWND (*lookup)());

// Installs the provider (not owned); null restores "no provider": boxes then answer 0.
void SetMessageBoxProvider(MessageBoxProvider* provider);
MessageBoxProvider* CurrentMessageBoxProvider();

// Records every box and answers from a queue. A box with no answer left is reported through
// onUnanswered (tests turn it into a failure) and answered with 0, so a test never hangs on it.
class ScriptedMessageBoxes : public MessageBoxProvider {
 public:
  struct Shown {
    std::string caption;
    std::string text;
    UINT flags;
  };

  ScriptedMessageBoxes();
  ~ScriptedMessageBoxes() override;

  void Answer(int result);
  std::vector<Shown> Boxes() const;
  std::size_t Count() const;
  void Clear();
  std::function<void(const Shown&)> onUnanswered;

  int Show(HWND owner, const std::string& text, const std::string& caption, UINT flags) override;

 private:
  mutable std::mutex lock_;
  std::deque<int> answers_;
  std::vector<Shown> shown_;
  MessageBoxProvider* previous_;
};

}  // namespace qv::ui
