// The controls of the "Communication states" panel (template 132) and the alert bits that turn
// their labels red.
#pragma once

#include "platform/types.h"
#include "platform/ui/qt/dialog_template.h"

namespace qv::states {

enum StatesControlId : int {
  IDC_RTS = 1002,
  IDC_DTR = 1003,
  IDC_CTS = 1004,
  IDC_DSR = 1005,
  IDC_RING = 1006,
  IDC_RLSD = 1007,
  IDC_SIGNALS_IN = 1008,
  IDC_WRITE_COUNTS = 1024,  // "completed/requested" bytes of the engine's write thread
  IDC_OUT_QUEUE = 1025,     // driver output queue fill
  IDC_READ_COUNT = 1026,    // bytes received
  IDC_IN_QUEUE = 1028,      // driver input queue fill
  IDC_BREAK = 1034,
  IDC_PURGE_ALL = 1039,
  IDC_CTS_FLOW = 1043,
  IDC_DSR_FLOW = 1044,
  IDC_DSR_SENSITIVITY = 1045,
  IDC_IN_QUEUE_SIZE = 1046,
  IDC_OUT_QUEUE_SIZE = 1047,
  IDC_COUNTERS_GROUP = 1048,
  IDC_COUNTER_LABELS = 1049,
  IDC_QUEUE_LABELS = 1050,
  IDC_SIGNALS_OUT = 1051,
  IDC_FLOW_GROUP = 1052,
};

// Bits of the panel's alert word; each names what holds data up and which labels show it.
enum AlertBit : DWORD {
  kAlertOutQueued = 0x01,     // the driver output queue holds bytes: 1025
  kAlertInQueued = 0x02,      // the driver input queue holds bytes: 1028
  kAlertWritePending = 0x04,  // the write thread has not written all it was given: 1024
  kAlertCtsHold = 0x08,       // output queued, CTS flow on, CTS off: 1004, 1043
  kAlertDsrHold = 0x10,       // output queued, DSR flow on, DSR off: 1005, 1044
  kAlertOddStatus = 0x20,     // the modem-status word has bits outside the four lines: 1008
  kAlertBreakHold = 0x40,     // output queued during a break: 1034
  kAlertDsrDrops = 0x80,      // DSR sensitivity on, DSR off: the driver drops input: 1045, 1005
};

// The four modem lines; any other bit in a status word is unexpected.
constexpr DWORD kModemLineBits = 0xF0;

// Whether the text of a control is drawn red, for an alert word and the DTR box's state (DTR is
// red whenever its box is unchecked).
bool IsDrawnRed(int controlId, DWORD alertFlags, UINT dtrState);

qv::ui::DialogTemplate StatesTemplate();

}  // namespace qv::states
