// The test panel as the host of its tests: every request is carried out on the UI thread, on the
// panel and on the console that owns it. Once the panel's window has ended (Detach), requests do
// nothing and answer as an unchecked box, an empty text and a box that was not shown (0).
#pragma once

#include <QPointer>
#include <atomic>

#include "drivertests/host.h"
#include "platform/ui/qt/dialog_template.h"

class CToolTests;

class PanelTestHost : public qv::drivertests::TestHost {
 public:
  PanelTestHost(CToolTests* panel, qv::ui::TemplateDialog* console);

  // UI thread: the panel's window ends.
  void Detach();

  bool IsChecked(int id) override;
  std::string ItemText(int id) override;
  void SetItemText(int id, const std::string& text) override;
  void EnableItem(int id, bool enable) override;
  void ConsoleOpenClose() override;
  void ConsolePortOpened(int start) override;
  bool ConsoleSelectSpeed(const std::string& prefix) override;
  std::string ConsolePortText() override;
  std::string ConsoleCommandLineText() override;
  int ShowBox(const std::string& text, const std::string& caption, UINT flags) override;
  void BindTimer(WPARAM id, std::function<void()> onExpiry) override;
  void ArmTimer(WPARAM id, UINT milliseconds) override;
  void DisarmTimer(WPARAM id) override;
  void SetWaitCursor(bool wait) override;
  bool Ending() override { return ending_.load(); }

 private:
  // Runs fn(panel, console) on the UI thread while the panel lives; the result, or fallback.
  template <class R, class F>
  R OnPanel(R fallback, F&& fn);
  // The same for a command of the console: never inside another command of the UI thread (a
  // test's, the user's open or close, any wait of the UI thread). Those waits serve the
  // requests of other threads, so a command could otherwise run inside a close and close again
  // in it; it waits until that has returned, as a sent message does.
  template <class R, class F>
  R OnConsole(R fallback, F&& fn);

  // Read on the UI thread only.
  QPointer<CToolTests> panel_;
  QPointer<qv::ui::TemplateDialog> console_;
  std::atomic<bool> ending_{false};
  int waitCursors_ = 0;  // UI thread
};
