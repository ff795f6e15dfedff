// The window that owns an error box shown by the calling thread.
#pragma once

#include "platform/types.h"

namespace qv::support {

// The first visible top-level window of the calling thread that has no owner of its own; null
// when the thread has none (every worker thread, and the UI thread before its first window).
HWND FirstVisibleUnownedWindowOfThisThread();

}  // namespace qv::support
