// The console's port path without any window: opening a port by name, the line settings that a
// port gets when it opens and when its speed changes, the check that the driver kept the speed,
// and the end of a connection. The console and the headless runner both call it; what they show
// (boxes, controls, panels) stays theirs.
//
// Checked calls report under the caller's source module; a refused SetCommState (87) is the
// driver's answer and is not reported, it shows in the rate read back.
#pragma once

#include <string>

#include "platform/comm/comm_api.h"
#include "platform/types.h"

namespace qv::drivertests {

// The texts of opening a port.
inline constexpr const char* kOpenErrorFormat = "An error %d occured on %s:\n\n%s";
inline constexpr const char* kDriverBaudFormat =
    "The driver did not accept baudrate %d bps\nand switched to another baudrate: %d bps";

// The port named as the console names it ("\\.\vloop0", "/dev/ttyUSB0"), opened for overlapped
// I/O and for no one else. INVALID_HANDLE_VALUE with the thread's last error when it fails. A
// running capture gets an OPEN event with the name.
HANDLE OpenPortOverlapped(const std::string& name);

// "An error <code> occured on <operation>:" and the system's text for the code.
std::string OpenErrorText(DWORD code, const char* operation);
// The driver-speed text; empty when the driver kept the rate asked for.
std::string DriverBaudText(int requested, int accepted);

// The line settings of a port just opened: 8 data bits, no parity, one stop bit, binary, no
// software flow control, at `speed`; everything else as the driver has it. Returns the state
// the driver reads back.
DCB ApplyOpenLineSettings(HANDLE port, DWORD speed, const char* module);
// Nothing left over from before goes out: the transmit side purged (after the speed check, just
// before the connection starts).
void PurgeLeftOverOutput(HANDLE port, const char* module);

// A new speed on an open port, the rest of its state kept. Returns the state read back.
DCB ApplySpeed(HANDLE port, DWORD speed, const char* module);

// The line settings as a capture shows them: "115200 8N1 flow=none", "9600 7E2 flow=cts+rts".
std::string DescribeLineSettings(const DCB& dcb);
// A CONFIG event with the settings the driver reads back, when a capture runs.
void RecordLineSettings(HANDLE port);
// A MODEM event with the four input lines of GetCommModemStatus, "CTS=1 DSR=1 RING=0 DCD=0",
// when a capture runs.
void RecordModemStatus(DWORD status);

// The end of the console's connection: the engine's threads first, then the handle in hPort,
// which becomes INVALID_HANDLE_VALUE.
void CloseConsolePort();

}  // namespace qv::drivertests
