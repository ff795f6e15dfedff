// The program's icon (resource 128), in the large and the small size.
#pragma once

#include <QIcon>

namespace qv::console {

QIcon ApplicationIcon();

}  // namespace qv::console
