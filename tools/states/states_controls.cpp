#include "tools/states/states_controls.h"

namespace qv::states {

bool IsDrawnRed(int controlId, DWORD alertFlags, UINT dtrState) {
  switch (controlId) {
    case IDC_OUT_QUEUE: return alertFlags & kAlertOutQueued;
    case IDC_IN_QUEUE: return alertFlags & kAlertInQueued;
    case IDC_WRITE_COUNTS: return alertFlags & kAlertWritePending;
    case IDC_CTS:
    case IDC_CTS_FLOW: return alertFlags & kAlertCtsHold;
    case IDC_DSR: return alertFlags & (kAlertDsrHold | kAlertDsrDrops);
    case IDC_DSR_FLOW: return alertFlags & kAlertDsrHold;
    case IDC_SIGNALS_IN: return alertFlags & kAlertOddStatus;
    case IDC_BREAK: return alertFlags & kAlertBreakHold;
    case IDC_DSR_SENSITIVITY: return alertFlags & kAlertDsrDrops;
    case IDC_DTR: return dtrState == BST_UNCHECKED;
    default: return false;
  }
}

qv::ui::DialogTemplate StatesTemplate() {
  using qv::ui::Control;
  // Every control starts disabled; a connection enables them.
  constexpr DWORD off = WS_DISABLED;
  constexpr DWORD group = BS_GROUPBOX | off;
  constexpr DWORD threeState = BS_3STATE | WS_TABSTOP | off;
  constexpr DWORD autoCheck = BS_AUTOCHECKBOX | WS_TABSTOP | off;
  constexpr DWORD showOnly = BS_CHECKBOX | off;
  constexpr DWORD label = SS_LEFT | off;
  constexpr DWORD number = SS_RIGHT | off;
  constexpr DWORD edit = ES_NUMBER | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP | off;

  qv::ui::DialogTemplate t;
  t.id = 132;
  t.caption = QStringLiteral("Communication states");
  t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
  t.x = 360;
  t.y = 0;
  t.cx = 196;
  t.cy = 172;
  t.controls = {
      Control(IDC_SIGNALS_OUT, "BUTTON", QStringLiteral("Signals OUT"), group, 6, 3, 86, 48),
      Control(IDC_RTS, "BUTTON", QStringLiteral("RTS"), threeState, 13, 14, 60, 10),
      Control(IDC_DTR, "BUTTON", QStringLiteral("DTR"), threeState, 13, 25, 60, 10),
      Control(IDC_BREAK, "BUTTON", QStringLiteral("Break"), autoCheck, 13, 36, 60, 10),
      Control(IDC_SIGNALS_IN, "BUTTON", QStringLiteral("Signals IN"), group, 98, 3, 92, 48),
      Control(IDC_CTS, "BUTTON", QStringLiteral("CTS"), showOnly, 105, 14, 36, 10),
      Control(IDC_DSR, "BUTTON", QStringLiteral("DSR"), showOnly, 105, 25, 36, 10),
      Control(IDC_RING, "BUTTON", QStringLiteral("RING/RI"), showOnly, 143, 14, 45, 10),
      Control(IDC_RLSD, "BUTTON", QStringLiteral("RLSD/DCD"), showOnly, 143, 25, 45, 10),
      Control(IDC_FLOW_GROUP, "BUTTON", QStringLiteral("Flow Control"), group, 6, 54, 184, 46),
      Control(IDC_DSR_SENSITIVITY, "BUTTON", QStringLiteral("DSR sensitivity (input ignore)"),
              autoCheck, 13, 65, 170, 10),
      Control(IDC_CTS_FLOW, "BUTTON", QStringLiteral("CTS output flow control"), autoCheck, 13, 76,
              170, 10),
      Control(IDC_DSR_FLOW, "BUTTON", QStringLiteral("DSR output flow control"), autoCheck, 13, 87,
              170, 10),
      Control(IDC_COUNTERS_GROUP, "BUTTON", QStringLiteral("Transmitted bytes"), group, 6, 103, 184,
              66),
      Control(IDC_PURGE_ALL, "BUTTON", QStringLiteral("Purge all"),
              BS_PUSHBUTTON | WS_TABSTOP | off, 140, 114, 44, 14),
      Control(IDC_COUNTER_LABELS, "STATIC",
              QStringLiteral("WriteFile completed:\nReadFile completed:"), label, 13, 114, 72, 18),
      Control(IDC_WRITE_COUNTS, "STATIC", QStringLiteral("0/0"), number, 86, 114, 50, 9),
      Control(IDC_READ_COUNT, "STATIC", QStringLiteral("0"), number, 86, 123, 50, 9),
      Control(IDC_QUEUE_LABELS, "STATIC", QStringLiteral("Output Queue:\nInput Queue:"), label, 13,
              135, 72, 18),
      Control(IDC_OUT_QUEUE, "STATIC", QStringLiteral("0"), number, 86, 135, 50, 9),
      Control(IDC_IN_QUEUE, "STATIC", QStringLiteral("0"), number, 86, 144, 50, 9),
      Control(IDC_STATIC, "STATIC", QStringLiteral("Internal Input Size:"), label, 13, 156, 66, 9),
      Control(IDC_IN_QUEUE_SIZE, "EDIT", QString(), edit, 80, 154, 36, 12),
      Control(IDC_STATIC, "STATIC", QStringLiteral("Output:"), label, 122, 156, 26, 9),
      Control(IDC_OUT_QUEUE_SIZE, "EDIT", QString(), edit, 148, 154, 36, 12),
  };
  return t;
}

}  // namespace qv::states
