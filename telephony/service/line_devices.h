// The line devices of the line service: one for each port whose device is a modem, as port
// discovery finds ports (the virtual phone, CDC-ACM modems). A device keeps its identifier for as
// long as the service is loaded; one whose port went away stays in the table as absent.
#pragma once

#include <string>
#include <vector>

#include "platform/types.h"

namespace qv::tapi {

struct LineDevice {
  std::string port;      // what opens it, and its data-modem port name: "vphone0", "ttyACM0"
  std::string lineName;  // "QUELM Virtual Phone (vphone0)"
  bool present = true;
};

struct ModemPort {
  std::string port;
  std::string description;
};

// The modem ports present now.
std::vector<ModemPort> ScanModemPorts();

// The line name of a modem port: its description (or "Modem"), then the port in parentheses.
std::string LineNameOf(const ModemPort& modem);

// Brings `devices` up to date with `present`: known ports are marked present again (same
// identifier), new ones are appended, missing ones marked absent. Returns the identifiers of the
// appended devices and, in *gone, those that went absent now.
std::vector<DWORD> MergeModemPorts(std::vector<LineDevice>& devices,
                                   const std::vector<ModemPort>& present, std::vector<DWORD>* gone);

}  // namespace qv::tapi
