// What a driver test of the "Miscellaneous tests" panel needs from the window that runs it.
//
// Each test's logic is written against this interface, not against widgets, so that the same
// code runs in the panel and in a window-less runner. Every method may be called from any
// thread: the panel's implementation carries it out on the UI thread and returns when it is
// done (a worker waits; the UI thread itself runs it at once). A box shown for a worker blocks
// that worker only.
#pragma once

#include <functional>
#include <string>

#include "platform/types.h"
#include "platform/ui/message_box.h"  // MB_* flags and ID* results

namespace qv::drivertests {

// The caption of the tests' verdict boxes: the application's title.
inline constexpr const char* kAppTitle = "quor_vix";

class TestHost {
 public:
  virtual ~TestHost() = default;

  // The panel's own controls, by control ID. A check state is the live one, as the user sees
  // it now (not a value taken by data exchange).
  virtual bool IsChecked(int id) = 0;
  virtual std::string ItemText(int id) = 0;
  virtual void SetItemText(int id, const std::string& text) = 0;
  virtual void EnableItem(int id, bool enable) = 0;

  // The console, driven through its own commands so that its window shows the port state.
  // Open/Close (its button 1001): opens the port when closed, closes it when open, through the
  // console's full path; returns when that is done (an error box of the console included).
  virtual void ConsoleOpenClose() = 0;
  // Configures the port in hPort as the console does after opening it; start = 1 also starts
  // the connection, 0 leaves it without one.
  virtual void ConsolePortOpened(int start) = 0;
  // Selects the first entry of the console's speed combo (1019) that begins with prefix and
  // tells the console, which applies the speed to an open port. False when no entry matches.
  virtual bool ConsoleSelectSpeed(const std::string& prefix) = 0;
  // The texts of the console's port combo (1000) and command-line combo (1020), unchanged.
  virtual std::string ConsolePortText() = 0;
  virtual std::string ConsoleCommandLineText() = 0;

  // A message box (Win32 flags and result).
  virtual int ShowBox(const std::string& text, const std::string& caption, UINT flags) = 0;
  // A verdict: plain OK box with the application's title.
  int Verdict(const std::string& text) { return ShowBox(text, kAppTitle, MB_OK); }

  // Timers owned by the host's UI thread. BindTimer sets what an expiry of timer id runs (on the
  // UI thread); ArmTimer starts or restarts it (repeating, as a Win32 timer, until disarmed);
  // both return once the timer runs or has stopped, so a guarded call starts only after its
  // watchdog is armed.
  virtual void BindTimer(WPARAM id, std::function<void()> onExpiry) = 0;
  virtual void ArmTimer(WPARAM id, UINT milliseconds) = 0;
  virtual void DisarmTimer(WPARAM id) = 0;

  // The wait cursor over the host's windows while a test blocks the UI.
  virtual void SetWaitCursor(bool wait) = 0;

  // True once the host is going away (the program ends): a test ends at its next step, shows
  // no more boxes and leaves the port to the host.
  virtual bool Ending() = 0;
};

}  // namespace qv::drivertests
