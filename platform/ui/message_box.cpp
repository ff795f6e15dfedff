#include "platform/ui/message_box.h"

#include <atomic>

#include "platform/sync/debug_output.h"
#include "platform/ui/ui_thread.h"

namespace qv::ui {
namespace {
std::atomic<MessageBoxProvider*> provider{nullptr};
std::atomic<HWND (*)()> windowLookup{nullptr};
}  // namespace

HWND FirstVisibleUnownedWindowOfThisThread() {
  HWND (*lookup)() = windowLookup.load();
  return lookup == nullptr ? nullptr : lookup();
}

void SetThreadWindowLookup(HWND (*lookup)()) { windowLookup.store(lookup); }

void SetMessageBoxProvider(MessageBoxProvider* p) { provider.store(p); }
MessageBoxProvider* CurrentMessageBoxProvider() { return provider.load(); }

ScriptedMessageBoxes::ScriptedMessageBoxes() : previous_(CurrentMessageBoxProvider()) {
  SetMessageBoxProvider(this);
}

ScriptedMessageBoxes::~ScriptedMessageBoxes() { SetMessageBoxProvider(previous_); }

void ScriptedMessageBoxes::Answer(int result) {
  std::lock_guard guard(lock_);
  answers_.push_back(result);
}

std::vector<ScriptedMessageBoxes::Shown> ScriptedMessageBoxes::Boxes() const {
  std::lock_guard guard(lock_);
  return shown_;
}

std::size_t ScriptedMessageBoxes::Count() const {
  std::lock_guard guard(lock_);
  return shown_.size();
}

void ScriptedMessageBoxes::Clear() {
  std::lock_guard guard(lock_);
  shown_.clear();
  answers_.clear();
}

int ScriptedMessageBoxes::Show(HWND, const std::string& text, const std::string& caption,
                               UINT flags) {
  Shown box{caption, text, flags};
  int answer = 0;
  bool answered = false;
  {
    std::lock_guard guard(lock_);
    shown_.push_back(box);
    if (!answers_.empty()) {
      answer = answers_.front();
      answers_.pop_front();
      answered = true;
    }
  }
  if (!answered && onUnanswered) onUnanswered(box);
  return answer;
}

}  // namespace qv::ui

int MessageBoxA(HWND owner, const char* text, const char* caption, UINT flags) {
  using namespace qv::ui;
  const std::string body = text ? text : "";
  const std::string title = caption ? caption : "Error";
  int result = 0;
  RunOnUiThread([&] {
    if (MessageBoxProvider* p = CurrentMessageBoxProvider()) {
      result = p->Show(owner, body, title, flags);
    } else {
      OutputDebugStringA(("Message box without a display: " + title + ": " + body + "\n").c_str());
    }
  });
  return result;
}
