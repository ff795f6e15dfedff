// The "Communication states" panel (template 132): line signals, queues and byte counters of the
// open port. The console tells it the connection state and the size of every received chunk.
#pragma once

#include "engine/shared_word.h"
#include "tools/tool_panel.h"

class CToolStates : public CToolPanel {
 public:
  static constexpr int kTemplateId = 132;
  static constexpr int kToggleId = 1039;  // the console's button for this panel

  explicit CToolStates(qv::ui::TemplateDialog* console);

  // 0 closed, 1 open, 2 configuration changed.
  void SetConnectionState(int state);
  int ConnectionState() const { return connectionState_; }
  // On the engine's read thread: counts the bytes received since creation.
  void AddReceivedBytes(DWORD count);
  long ReceivedBytes() const { return receivedBytes_; }

 private:
  int connectionState_ = 0;
  qv::engine::SharedWord<long> receivedBytes_;
};
