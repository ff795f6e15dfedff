// The "Miscellaneous tests" panel (template 130): the driver stress tests and the settings they
// share (loop mode, record files, block size, data source). The console tells it when a
// connection starts and ends, hands it every received chunk, and releases a test waiting for a
// block through Echo().blockReceived when it closes the port.
//
// Each test's logic lives in drivertests/ against the TestHost interface; the panel is its host:
// it binds the buttons (one dispatch table in tool_tests.cpp), starts the worker threads and
// carries out their requests on the UI thread.
#pragma once

#include <QString>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "drivertests/block_echo.h"
#include "drivertests/host.h"
#include "drivertests/timeouts.h"
#include "drivertests/write_interrupt.h"
#include "engine/shared_word.h"
#include "platform/comm/comm_api.h"
#include "resources/console_ids.h"
#include "tools/tool_panel.h"

class QTimer;
class PanelTestHost;

class CToolTests : public CToolPanel {
 public:
  // What the panel's workers share with it. Each worker holds the record too, so that one still
  // inside a blocking call when the panel's end stops waiting touches nothing of the panel.
  struct WorkerShared {
    qv::engine::SharedWord<DWORD> loopInterval;
    qv::drivertests::BlockEchoShared echo;
  };

 private:
  const std::shared_ptr<WorkerShared> shared_ = std::make_shared<WorkerShared>();

 public:
  static constexpr int kTemplateId = 130;
  static constexpr int kToggleId = IDC_TOOL_TESTS;  // the console's button for this panel
  // Sent by test threads: start timer wParam with lParam ms; kill timer wParam.
  static constexpr UINT WM_START_TIMER = WM_APP + 4;
  static constexpr UINT WM_STOP_TIMER = WM_APP + 5;

  explicit CToolTests(qv::ui::TemplateDialog* console);
  ~CToolTests() override;

  // 1 when a connection has started, 0 when the port is being closed: enables or disables every
  // control after the Non-Overlap "Run Test" button (1032).
  void EnableConnectionControls(int enable);
  int ConnectionControlsEnabled() const { return connectionControls_; }
  // On the engine's read thread, for every received chunk: compared only while the overlapped
  // block test runs.
  void CheckReceivedBlock(const BYTE* data, DWORD count);

  // Data exchange of LoopTests (1030), LogData (1033) and LoopInterval (1037). From the
  // controls, a repeat interval outside 0 to 65535 is refused with the range prompt, the focus
  // goes back to 1037 and the result is false (the values exchanged before it stay taken).
  bool UpdateData(bool fromControls);

  // The overlapped block test's state (its events live as long as the panel or a worker).
  qv::drivertests::BlockEchoShared& Echo() { return shared_->echo; }

  // The host the tests run against (any thread may use it).
  qv::drivertests::TestHost& Host();
  // Starts a worker thread (normal priority) that runs body against the host. The handle stays
  // valid while the thread runs; the panel closes it, and its end waits for every worker. UI
  // thread.
  HANDLE StartWorker(std::function<void(qv::drivertests::TestHost&)> body);

  // The console's configuration of a port just opened (its PortOpened), set by the console.
  std::function<void(int start)> portOpened;

  // Values of the tests.
  int LoopTests = 0;                                                    // 1030, by data exchange
  qv::engine::SharedWord<DWORD>& LoopInterval = shared_->loopInterval;  // 1037, by data
                                                                        // exchange, ms
  qv::engine::SharedWord<int> stepCounter;  // the timeouts test's position, 0 when idle
  COMMTIMEOUTS savedTimeouts{};             // the timeouts of its current phase
  HANDLE timeoutsThread = nullptr;          // its running thread

  // The write-then-interrupt tests, which keep their writes' records while those are pending.
  qv::drivertests::WriteInterruptTests* WriteTests();

 protected:
  bool OnInitDialog() override;
  void OnDestroy() override;

 private:
  friend class PanelTestHost;

  void BindHandlers();
  // True for the controls after 1032, which are usable only while a connection runs.
  bool FollowsConnection(int id) const;
  // Button handlers, bound by control ID in the dispatch table of tool_tests.cpp.
  void OnExchange();
  void OnRunOpenClose();
  void OnRunOverlap();
  // The SetConfig test (UI thread) and the valid baud rates scan (worker): tool_tests_config.cpp.
  void OnRunSetConfig();
  void OnRunBaudScan();
  // The timeouts test (UI, then worker) and the write-then-interrupt tests (UI thread):
  // tool_tests_io.cpp.
  void OnRunTimeouts();
  void OnWriteCloseHandle();
  void OnWriteBaudrate();
  void OnWriteFlush();
  void OnWriteTxAbort();
  void OnWriteTxClear();
  void OnWriteCancelIo();
  qv::drivertests::TimeoutsTest& Timeouts();
  void OnBlockSizeChange();
  // Timers of WM_START_TIMER / WM_STOP_TIMER; an expiry runs the handler bound to its id.
  void StartTimer(WPARAM id, UINT milliseconds);
  void StopTimer(WPARAM id);
  void OnTimer(WPARAM id);

  int connectionControls_ = 0;
  bool initialising_ = false;
  std::shared_ptr<PanelTestHost> host_;
  std::vector<HANDLE> workers_;                            // UI thread only
  std::map<WPARAM, QTimer*> timers_;                       // UI thread only
  std::map<WPARAM, std::function<void()>> timerHandlers_;  // UI thread only
  std::unique_ptr<qv::drivertests::TimeoutsTest> timeouts_;
  std::unique_ptr<qv::drivertests::WriteInterruptTests> writeTests_;
};
