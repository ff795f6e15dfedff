// The port configuration dialog: speed, data bits, parity, stop bits and flow control of a port's
// DCB, shown for a COMMCONFIG record as CommConfigDialogA does.
//
// The program's provider draws it with a template-built dialog. Tests install a
// ScriptedCommConfig, which records every request and answers from a queue.
#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/comm/comm_api.h"
#include "platform/types.h"

// Shows the dialog for the port `name` (a device name such as "vloop0") over config->dcb.
// OK writes the chosen fields into config->dcb and returns TRUE; every other field of the record
// stays as it was. Cancel returns FALSE with ERROR_CANCELLED (1223) and leaves the record alone.
// A null or empty name, a null record or one smaller than its header fail with
// ERROR_INVALID_PARAMETER. Callable from any thread: the UI thread shows the dialog.
BOOL CommConfigDialogA(const char* name, HWND owner, COMMCONFIG* config);

namespace qv::ui {

// Control ids of the dialog's template.
enum CommConfigControlId : int {
  IDC_CC_SPEED = 1100,
  IDC_CC_DATABITS = 1101,
  IDC_CC_PARITY = 1102,
  IDC_CC_STOPBITS = 1103,
  IDC_CC_FLOW = 1104,
};

// The flow control choices the dialog offers, read from and written into a DCB.
enum class FlowControl { kNone, kXonXoff, kHardware };
FlowControl FlowControlOf(const DCB& dcb);
// Sets the flow fields for `flow` and leaves the rest of the DCB alone. Hardware flow control is
// RTS/CTS (what a Linux tty can do): CTS holds output, RTS follows the input queue; DSR does not
// hold output and DTR stays on.
void ApplyFlowControl(DCB& dcb, FlowControl flow);

struct CommConfigRequest {
  HWND owner = nullptr;  // a QWidget*, or null
  std::string device;
  DCB dcb{};
};

struct CommConfigResult {
  // 0: accepted, dcb holds the choice; otherwise the Win32 error (ERROR_CANCELLED for Cancel).
  DWORD error = ERROR_CANCELLED;
  DCB dcb{};
};

class CommConfigProvider {
 public:
  virtual ~CommConfigProvider() = default;
  // Runs on the UI thread.
  virtual CommConfigResult RunCommConfigDialog(const CommConfigRequest& request) = 0;
};

// Installs the provider (not owned); null restores the Qt provider.
void SetCommConfigProvider(CommConfigProvider* provider);
CommConfigProvider* CurrentCommConfigProvider();

class QtCommConfigDialog : public CommConfigProvider {
 public:
  CommConfigResult RunCommConfigDialog(const CommConfigRequest& request) override;
};

// Records every request and answers from a queue. A request with no answer left is reported
// through onUnanswered and cancelled, so a test never hangs on it.
class ScriptedCommConfig : public CommConfigProvider {
 public:
  ScriptedCommConfig();            // installs itself
  ~ScriptedCommConfig() override;  // restores the previous provider

  // OK, after `edit` changed the DCB shown (no edit: OK on what was shown).
  void Accept(std::function<void(DCB&)> edit = {});
  void Cancel();
  // The dialog fails with this error.
  void Fail(DWORD error);

  std::vector<CommConfigRequest> Requests() const;
  std::function<void(const CommConfigRequest&)> onUnanswered;

  CommConfigResult RunCommConfigDialog(const CommConfigRequest& request) override;

 private:
  struct Answer {
    DWORD error;
    std::function<void(DCB&)> edit;
  };
  mutable std::mutex lock_;
  std::deque<Answer> answers_;
  std::vector<CommConfigRequest> requests_;
  CommConfigProvider* previous_;
};

}  // namespace qv::ui
