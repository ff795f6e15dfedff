// The simulated phone behind the virtual port vphone0.
//
// An AT command interpreter as a phone's data port offers it: command lines end in CR (an LF
// after it is ignored), echo of the received characters (E), verbose or numeric result codes (V),
// quiet mode (Q), the flow-control and line-behaviour settings of a modem (&K, &C, &D), error
// reporting (+CMEE), keypad emulation (+CKPD), character set (+CSCS), identification (I, +CGMI,
// +CGMM, +CGMR), and the object upload commands:
//   AT+KDOBJ?              the object session state: "+KDOBJ: 0|1"
//   AT+KDOBJ=1,<0|1>       closes or opens the object session
//   AT+KDOBJ=2,a,b,c,<n>   announces n data bytes (a title or an object's content): the phone
//                          reads them without echo, then answers OK
//   AT+KPSL="<cat>"[,m]    selects the category that later writes go to
//   AT+KPSW="<type>",<n>   announces an object of n bytes: the phone reads them without echo and
//                          answers OK when they form one well-formed object frame, ERROR when
//                          not. The categories VCARDS, VEVENTS and VTODO take the raw entry
//                          instead of a frame.
// A data command must be the last one of its line. No prompt is sent before the data.
//
// Lines: DSR and DCD follow the host's DTR; CTS is on while the port is open. Dropping DTR or
// closing the port abandons an object that was still being received.
#pragma once

#include <memory>

#include "sim/device.h"

namespace qv::sim {

// Largest object the phone accepts; a write command announcing more is refused at once.
constexpr std::uint32_t kPhoneMaxObjectSize = 16u * 1024 * 1024;

std::unique_ptr<Device> MakePhone();

}  // namespace qv::sim
