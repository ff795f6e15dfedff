// Requests that must not run inside a box's event loop: a close that would wait for an engine
// thread which itself waits for that box, or an open whose state the box's caller would undo
// when the box returns. They are held back until the box (or other modal window) has gone.
#pragma once

#include <functional>

class QObject;
class QWidget;

namespace qv::console {

// Queues `run` for `context`'s thread once `modal` hides or is destroyed; nothing runs when
// `context` has gone by then. The caller checks again when it runs: another box may be open.
void RunAfterModal(QWidget* modal, QObject* context, std::function<void()> run);

}  // namespace qv::console
