#include "tools/tool_kdobj.h"

#include "platform/store/profile_store.h"

namespace {

qv::ui::DialogTemplate KdobjTemplate() {
  qv::ui::DialogTemplate t;
  t.id = CToolKDOBJ::kTemplateId;
  t.caption = QStringLiteral("DOBX commands");
  t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
  t.x = 300;
  t.y = 100;
  t.cx = 184;
  t.cy = 200;
  return t;
}

}  // namespace

CToolKDOBJ::CToolKDOBJ(qv::ui::TemplateDialog* console)
    : CToolPanel(KdobjTemplate(), console, kToggleId) {
  using namespace qv::store;
  kdobjType_ = GetProfileInt(QStringLiteral("Settings"), QStringLiteral("KDOBJ_Type"), 1);
  category_ = GetProfileString(QStringLiteral("Settings"), QStringLiteral("KPSL_Category"),
                               QStringLiteral("SOUNDS"));
}

void CToolKDOBJ::EnableCommands(bool enable) { commandsEnabled_ = enable; }
