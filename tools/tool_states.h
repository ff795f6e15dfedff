// The "Communication states" panel (template 132): line signals, queues and byte counters of the
// open port. The console tells it the connection state and the size of every received chunk.
//
// While a connection runs, a 100 ms poll shows the modem input lines, the driver's queue fill
// and the engine's byte counters; the user drives RTS, DTR and break, the driver's hardware flow
// control options and queue sizes, and purges the port. Labels whose state means that data is
// held up are drawn red. The panel works on the console's handle (hPort) and owns none.
#pragma once

#include <QTimer>
#include <atomic>
#include <optional>
#include <source_location>

#include "engine/shared_word.h"
#include "platform/comm/comm_api.h"
#include "resources/console_ids.h"
#include "tools/tool_panel.h"

class CToolStates : public CToolPanel {
 public:
  static constexpr int kTemplateId = 132;
  static constexpr int kToggleId = IDC_TOOL_STATES;  // the console's button for this panel
  // The poll timer: its identifier ("CYCL") and period.
  static constexpr UINT kPollTimerId = 0x4359434C;
  static constexpr int kPollIntervalMs = 100;

  explicit CToolStates(qv::ui::TemplateDialog* console);

  // 0: the connection is about to end (the handle is still open); 1: a connection has started;
  // 2: the line settings of the open port were changed by the console's configuration dialog.
  // With Ctrl held, 0 writes the boxes to the port and 1 takes the flow-control boxes from it.
  void SetConnectionState(int state);
  int ConnectionState() const { return connectionState_; }
  // On the engine's read thread: counts the bytes received since creation or the last purge,
  // and has the UI thread show the total.
  void AddReceivedBytes(DWORD count);
  long ReceivedBytes() const { return receivedBytes_; }

  // What the poll and the handlers decided, for a look from outside.
  DWORD AlertFlags() const { return alertFlags_; }
  bool IsPolling() const { return poll_.isActive(); }
  unsigned PollCount() const { return pollCount_; }
  // Whether the control's text is drawn red now.
  bool IsDrawnRed(int controlId) const;

 protected:
  bool OnInitDialog() override;

 private:
  // RTS (1002) and DTR (1003) share their click rule; the escape codes differ.
  struct OutputLine {
    int id;
    DWORD setCode;
    DWORD clearCode;
    bool toggleMode = false;  // the port had the line in toggle mode (3), shown indeterminate
  };

  void BindHandlers();
  void EnableControls(bool enable);
  void EnableSignals(bool enable);
  void EnableQueues(bool enable);
  void ShowControlMode(OutputLine& line, DWORD mode);
  DWORD ModeOf(const OutputLine& line) const;
  // Checked calls: a failure's box names the line of the handler that asked.
  bool ReadDcb(DCB* dcb, std::source_location where = std::source_location::current());
  void WriteDcb(const DCB& dcb, std::source_location where = std::source_location::current());
  void ApplyLineBoxes();
  void OnOutputLineClicked(OutputLine& line, bool isRts);
  void OnBreakClicked();
  void OnPurgeAll();
  void OnQueueSizeEdited();
  bool TakeQueueSize(int id, qv::engine::SharedWord<DWORD>& size);
  void OnPollTimer();
  void ShowStatus(DWORD status);
  void SetAlert(DWORD bit, bool on);
  void ShowCounters();
  void ShowReceivedCount();
  // The colours of all controls for the current alert word and DTR box.
  void Recolour();

  int connectionState_ = 0;
  qv::engine::SharedWord<long> receivedBytes_;
  std::atomic<bool> countShowQueued_{false};
  DWORD alertFlags_ = 0;
  bool signalsEnabled_ = false;
  bool queuesEnabled_ = false;
  std::optional<DWORD> lastModemStatus_;
  OutputLine rts_;
  OutputLine dtr_;
  QTimer poll_;
  unsigned pollCount_ = 0;
};
