// The panel's handlers of the non-overlapped I/O and timeouts test (1032, its watchdog) and of
// the write-then-interrupt tests (1049 to 1054); their logic is in drivertests/.
#include "tools/tool_tests.h"

qv::drivertests::TimeoutsTest& CToolTests::Timeouts() {
  if (!timeouts_) {
    qv::drivertests::TimeoutsState state;
    state.stepCounter = &stepCounter;
    state.savedTimeouts = &savedTimeouts;
    state.thread = &timeoutsThread;
    timeouts_ = std::make_unique<qv::drivertests::TimeoutsTest>(
        Host(), state, [this](std::function<void(qv::drivertests::TestHost&)> body) {
          return StartWorker(std::move(body));
        });
  }
  return *timeouts_;
}

qv::drivertests::WriteInterruptTests* CToolTests::WriteTests() {
  if (!writeTests_) writeTests_ = std::make_unique<qv::drivertests::WriteInterruptTests>(Host());
  return writeTests_.get();
}

void CToolTests::OnRunTimeouts() { Timeouts().Start(); }
void CToolTests::OnWriteCloseHandle() { WriteTests()->CloseHandleTest(); }
void CToolTests::OnWriteBaudrate() { WriteTests()->BaudrateChangeTest(); }
void CToolTests::OnWriteFlush() { WriteTests()->FlushTest(); }
void CToolTests::OnWriteTxAbort() { WriteTests()->PurgeAbortTest(); }
void CToolTests::OnWriteTxClear() { WriteTests()->PurgeClearTest(); }
void CToolTests::OnWriteCancelIo() { WriteTests()->CancelTest(); }
