#include "tools/tool_states.h"

namespace {

qv::ui::DialogTemplate StatesTemplate() {
  qv::ui::DialogTemplate t;
  t.id = CToolStates::kTemplateId;
  t.caption = QStringLiteral("Communication states");
  t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
  t.x = 360;
  t.y = 0;
  t.cx = 196;
  t.cy = 160;
  return t;
}

}  // namespace

CToolStates::CToolStates(qv::ui::TemplateDialog* console)
    : CToolPanel(StatesTemplate(), console, kToggleId) {}

void CToolStates::SetConnectionState(int state) { connectionState_ = state; }

void CToolStates::AddReceivedBytes(DWORD count) { receivedBytes_ += long(count); }
