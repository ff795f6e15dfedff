// The console's template (102): every control with its id, caption and place, in tab order.
//
// The log view's right edge and the "Raw file send" group's top edge are the layout manager's
// split lines: what lies right of the log moves with the width, what lies below the group's top
// moves with the height, and the log and the send-line combo stretch.
#include "console/quorvix_dlg.h"

qv::ui::DialogTemplate QuorvixDialogTemplate() {
  using qv::ui::Control;
  qv::ui::DialogTemplate t;
  t.id = CQuorvixDlg::kTemplateId;
  t.caption = QStringLiteral("quor_vix %1");
  t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_THICKFRAME;
  t.cx = 352;
  t.cy = 210;
  const DWORD check = BS_AUTOCHECKBOX | WS_TABSTOP;
  const DWORD toggle = BS_AUTOCHECKBOX | BS_PUSHLIKE | WS_TABSTOP;
  t.controls = {
      Control(IDC_STATIC, "STATIC", QStringLiteral("Port: "), SS_LEFT, 6, 8, 20, 8),
      Control(IDC_PORT, "COMBOBOX", QString(),
              CBS_DROPDOWN | CBS_SORT | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP, 26, 6, 108, 120),
      Control(IDC_PORTCONFIG, "BUTTON", QStringLiteral("..."), BS_PUSHBUTTON | WS_TABSTOP, 136, 5,
              14, 14),
      Control(IDC_SPEED, "COMBOBOX", QString(), CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 154, 6,
              56, 120),
      Control(IDC_OPENCLOSE, "BUTTON", QStringLiteral("Open"), BS_PUSHBUTTON | WS_TABSTOP, 214, 5,
              42, 14),
      Control(IDC_OPENTAPI, "BUTTON", QStringLiteral("Open with TAPI"), BS_PUSHBUTTON | WS_TABSTOP,
              262, 5, 84, 14),
      Control(IDC_LOG, "QV_LOGVIEW", QString(),
              ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY | WS_VSCROLL | WS_TABSTOP, 6, 24, 250,
              160),
      Control(IDC_HEXA, "BUTTON", QStringLiteral("Hexa"), check, 262, 26, 84, 10),
      Control(IDC_VERBOSE, "BUTTON", QStringLiteral("Verbose"), check, 262, 38, 84, 10),
      Control(IDC_VERBOSEMORE, "BUTTON", QStringLiteral("Verbose more"), check, 262, 50, 84, 10),
      Control(IDC_TIMESTAMP, "BUTTON", QStringLiteral("Timestamp"), check, 262, 62, 84, 10),
      Control(IDC_OPENONPNP, "BUTTON", QStringLiteral("Open on PNP"), check, 262, 74, 84, 10),
      Control(IDC_CLEARLOG, "BUTTON", QStringLiteral("Clear log"), BS_PUSHBUTTON | WS_TABSTOP, 262,
              88, 40, 13),
      Control(IDC_LOGFONT, "BUTTON", QStringLiteral("Log font..."), BS_PUSHBUTTON | WS_TABSTOP, 306,
              88, 40, 13),
      Control(IDC_TOOL_TESTS, "BUTTON", QStringLiteral("Miscellaneous tests"), toggle, 262, 104, 84,
              13),
      Control(IDC_TOOL_STATES, "BUTTON", QStringLiteral("Communication states"), toggle, 262, 118,
              84, 13),
      Control(IDC_TOOL_KDOBJ, "BUTTON", QStringLiteral("DOBX commands"), toggle, 262, 132, 84, 13),
      Control(IDC_RAWFILE_GROUP, "BUTTON", QStringLiteral("Raw file send"), BS_GROUPBOX, 262, 148,
              84, 38),
      Control(IDC_FILENAME, "EDIT", QString(), ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 266, 158,
              76, 12),
      Control(IDC_BROWSE, "BUTTON", QStringLiteral("..."), BS_PUSHBUTTON | WS_TABSTOP, 266, 172, 16,
              12),
      Control(IDC_SENDFILE, "BUTTON", QStringLiteral("Send"), BS_PUSHBUTTON | WS_TABSTOP, 286, 172,
              56, 12),
      Control(IDC_SENDLINE_TEXT, "QV_MRUCOMBOBOX", QString(),
              CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP, 6, 190, 252, 100),
      Control(IDC_SENDLINE, "BUTTON", QStringLiteral("Send Line"),
              BS_DEFPUSHBUTTON | WS_TABSTOP | WS_DISABLED, 262, 189, 44, 14),
      Control(IDC_SEND, "BUTTON", QStringLiteral("Send"), BS_PUSHBUTTON | WS_TABSTOP | WS_DISABLED,
              310, 189, 36, 14),
  };
  return t;
}
