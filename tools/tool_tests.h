// The "Miscellaneous tests" panel (template 130): the driver stress tests. The console tells it
// when a connection starts and ends, hands it every received chunk, and releases a test waiting
// for a block through blockReceived when it closes the port.
#pragma once

#include "engine/shared_word.h"
#include "tools/tool_panel.h"

class CToolTests : public CToolPanel {
 public:
  static constexpr int kTemplateId = 130;
  static constexpr int kToggleId = 1038;

  explicit CToolTests(qv::ui::TemplateDialog* console);
  ~CToolTests() override;

  // 1 when a connection has started, 0 when the port is being closed.
  void EnableConnectionControls(int enable);
  int ConnectionControlsEnabled() const { return connectionControls_; }
  // On the engine's read thread, for every received chunk: compared only while the overlapped
  // block test runs.
  void CheckReceivedBlock(const BYTE* data, DWORD count);

  // Auto-reset events of the overlapped block test (created non-signalled with the panel).
  HANDLE blockReceived = nullptr;
  HANDLE blockAcknowledged = nullptr;
  qv::engine::SharedWord<int> overlapRunning;

 private:
  int connectionControls_ = 0;
};
