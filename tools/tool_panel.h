// What the three tool panels share: a modeless tool window owned by the console, created hidden.
// Its own close box hides it and unchecks the console's toggle button for it (the console
// shows and hides panels with that button); Enter and Escape do nothing.
#pragma once

#include "platform/ui/qt/dialog_template.h"

class CToolPanel : public qv::ui::TemplateDialog {
 public:
  // owner: the console dialog; toggleId: the console's button for this panel.
  CToolPanel(const qv::ui::DialogTemplate& dialogTemplate, qv::ui::TemplateDialog* owner,
             int toggleId);

  int ToggleButtonId() const { return toggleId_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  qv::ui::TemplateDialog* owner_;
  int toggleId_;
};
