// The "DOBX commands" panel (template 131): the phone's object upload commands. It holds its
// stored values from construction on; the console enables its commands while a port is open and
// reads the category and the object type text for its object file sends.
#pragma once

#include <QString>

#include "tools/tool_panel.h"

class CToolKDOBJ : public CToolPanel {
 public:
  static constexpr int kTemplateId = 131;
  static constexpr int kToggleId = 1040;

  explicit CToolKDOBJ(qv::ui::TemplateDialog* console);

  // true after a port has been opened, false after it has been closed.
  void EnableCommands(bool enable);
  bool CommandsEnabled() const { return commandsEnabled_; }

  // The values kept in the settings ("KDOBJ_Type" and "KPSL_Category").
  int ObjectType() const { return kdobjType_; }
  QString Category() const { return category_; }

 private:
  int kdobjType_ = 1;
  QString category_;
  bool commandsEnabled_ = false;
};
