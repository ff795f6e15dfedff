#include "tools/tool_tests.h"

#include "platform/sync/event.h"
#include "platform/sync/kernel_object.h"

namespace {

qv::ui::DialogTemplate TestsTemplate() {
  qv::ui::DialogTemplate t;
  t.id = CToolTests::kTemplateId;
  t.caption = QStringLiteral("Miscellaneous tests");
  t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
  t.x = 360;
  t.y = 170;
  t.cx = 230;
  t.cy = 190;
  return t;
}

}  // namespace

CToolTests::CToolTests(qv::ui::TemplateDialog* console)
    : CToolPanel(TestsTemplate(), console, kToggleId) {
  blockReceived = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  blockAcknowledged = CreateEventA(nullptr, FALSE, FALSE, nullptr);
}

CToolTests::~CToolTests() {
  if (blockReceived) CloseHandle(blockReceived);
  if (blockAcknowledged) CloseHandle(blockAcknowledged);
}

void CToolTests::EnableConnectionControls(int enable) { connectionControls_ = enable; }

void CToolTests::CheckReceivedBlock(const BYTE*, DWORD) {
  // Only the overlapped block test looks at received data, and only while it runs; that test
  // (and so the comparison) is not part of the panel yet, so every chunk passes untouched.
  if (overlapRunning == 0) return;
}
