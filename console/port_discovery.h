// The console's port list: which ports the system offers now, their labels in the port combo box,
// the port name read back out of the combo box, and the list of present devices for the log.
//
// The combo box is an editable one whose list keeps the control's case-insensitive order; its
// edit text is the port to open and is never touched by a refresh.
#pragma once

#include <functional>
#include <set>
#include <string>

#include "platform/comm/port_names.h"

class QComboBox;
class QString;

namespace qv::console {

using qv::comm::kPortNameSize;

// Adds the label of every port the current port source offers ("name" + 22 blanks + "(source)").
// Entries without a name give none; a label that occurs twice is kept once.
void DiscoverPorts(std::set<std::string>& labels);

// Rebuilds the combo box's list from DiscoverPorts. The edit text, its selection and the caret
// stay as they were, even when the port shown has left the list. The drop-down list is widened
// again to its widest label (FitDroppedWidth).
void RefreshPortList(QComboBox* combo);

// The drop-down list's width: at least minimumPixels, and as wide as the widest entry, so that
// labels show in full (a fixed width cuts the longer Linux labels). Kept by every refresh.
void SetDroppedWidth(QComboBox* combo, int minimumPixels);
// Applies the width rule of SetDroppedWidth to the entries the list has now.
void FitDroppedWidth(QComboBox* combo);

// The port name in the combo box: its text without leading blanks and without a label's padded
// source suffix. When it had either, the combo box is left showing the bare name with no list
// entry selected. A typed name ("\\.\COM1", "/dev/pts/3") comes back as typed.
std::string PortNameFromCombo(QComboBox* combo);

// Logs the description of every present device (an empty line for a device without one). A
// failed enumeration is reported with the checked-call box, again for as long as the user
// answers Retry.
void DeviceListCommand(const std::function<void(const char*)>& logText);

// Adds an entry to a sorted combo box as the control does: after the entries that compare less
// or equal without regard to case. Returns its index. The edit text is not touched.
int AddSortedString(QComboBox* combo, const QString& text);

// The list entry the combo box has selected (-1 for none): the current entry, when the edit field
// shows its text. Typing over it, or PortNameFromCombo shortening it, ends the selection.
int ComboSelection(const QComboBox* combo);

}  // namespace qv::console
