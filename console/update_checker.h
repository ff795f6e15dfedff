// The update checker: a separate program of the maker, named in the machine-wide settings of
// its own application ("Zentrik", value "Path"). It is started at program start with this
// program's full path as its one argument, and neither waited for nor watched.
#pragma once

#include <QString>

namespace qv::console {

// Starts the checker when its path is set. False when there is none or it did not start;
// either is silent.
bool LaunchUpdateChecker();

}  // namespace qv::console
