// The console's port handle, process-wide: INVALID_HANDLE_VALUE while no port is open. The
// console opens and closes it; the engine, the panels and their test threads only use it. It is
// one shared word, read by those threads while the UI thread may close the port. Closed, it reads
// INVALID_HANDLE_VALUE, the value CreateFileA fails with, so a failed open leaves it closed; the
// engine's own copy (CommConnection.hPort) reads null instead while no connection runs.
#pragma once

#include "engine/shared_word.h"
#include "platform/types.h"

extern qv::engine::SharedWord<HANDLE> hPort;
