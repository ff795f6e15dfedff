#include "drivertests/port_handle.h"

qv::engine::SharedWord<HANDLE> hPort{INVALID_HANDLE_VALUE};
