// The console's side of a port: the messages it posts to itself about the port combo box, the
// size of its configuration buffers, and the line it logs for a port's default configuration.
#pragma once

#include <string>

#include "drivertests/port_path.h"
#include "platform/types.h"

namespace qv::console {

// Posted when a choice in the port combo box ends (accepted or cancelled).
constexpr UINT WM_PORT_CHOSEN = WM_APP + 1;
// ShowPortDefaults.
constexpr UINT WM_SHOW_PORT_DEFAULTS = WM_APP + 2;
// Posted by RequestClose: close the connection whose serial is wParam, if it still runs.
constexpr UINT WM_CLOSE_REQUEST = WM_APP + 16;

// The message box texts of opening a port.
using qv::drivertests::kDriverBaudFormat;
using qv::drivertests::kOpenErrorFormat;

// "DEFAULTCOMMCONFIG <version> <provider subtype>" and, for a modem, a second line with its
// MODEMSETTINGS. `size` is how many bytes of `config` are valid; provider data or texts that
// reach beyond them are left out.
std::string DefaultCommConfigLine(const BYTE* config, DWORD size);

}  // namespace qv::console
