#include "tools/tool_panel.h"

#include <QCloseEvent>

CToolPanel::CToolPanel(const qv::ui::DialogTemplate& dialogTemplate, qv::ui::TemplateDialog* owner,
                       int toggleId)
    : TemplateDialog(dialogTemplate, owner), owner_(owner), toggleId_(toggleId) {
  // A tool window above its owner, without a taskbar entry.
  setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  setModal(false);
  // The default OK and Cancel actions are empty: Enter and Escape leave the panel as it is.
  OnCommand(IDOK, [] {});
  OnCommand(IDCANCEL, [] {});
}

void CToolPanel::closeEvent(QCloseEvent* event) {
  // Closing hides the panel; the object and its values stay.
  event->ignore();
  hide();
  if (owner_) owner_->CheckDlgButton(toggleId_, BST_UNCHECKED);
}
