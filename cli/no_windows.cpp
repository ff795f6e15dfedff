// The runner has no windows: an error box has no owner.
#include "support/error_box_owner.h"

namespace qv::support {

HWND FirstVisibleUnownedWindowOfThisThread() { return nullptr; }

}  // namespace qv::support
