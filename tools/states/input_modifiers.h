// The modifier keys of the user's latest mouse or key input, as the program sees them while it
// handles that input (what Win32's GetKeyState gives a message handler): a click handler reads
// the modifiers of the click itself, not the keyboard as it is by the time the handler runs.
//
// Every mouse-button and key event that reaches the application counts, whoever made it (the
// window system, an accessibility tool, a test), so the answer never depends on where an event
// came from. UI thread only.
#pragma once

#include <Qt>

namespace qv::states {

// Starts watching the application's input (idempotent; needs the QApplication).
void WatchInputModifiers();
Qt::KeyboardModifiers InputModifiers();
inline bool CtrlKeyDown() { return InputModifiers().testFlag(Qt::ControlModifier); }

}  // namespace qv::states
