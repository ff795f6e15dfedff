// The configuration round trip: the driver must keep a changed baud rate through both
// configuration routes, the port's default configuration (by device name) and the open port's
// configuration (by handle), and each is put back as it was.
#pragma once

#include <string>

#include "drivertests/host.h"
#include "platform/types.h"
#include "resources/tests_panel_ids.h"

namespace qv::drivertests {


inline constexpr const char* kSetConfigSuccess = "Success";
inline constexpr const char* kSetDefaultCommConfigFailed = "SetDefaultCommConfig failed";
inline constexpr const char* kSetCommConfigFailed = "SetCommConfig failed";

// The device name of a port combo text: at most 127 characters, without the "\\.\" prefix.
std::string SetConfigDeviceName(const std::string& portText);

// Halves the rate of the device's default configuration, reads it back, puts the old rate back
// (also when the driver kept another rate than the half); then the same with the port's
// configuration. Returns the verdict: kSetConfigSuccess, or the failed route (the default route
// first; the port route is tried only when it passed). A route whose configuration cannot be
// read, or that does not take the old rate back, has failed too.
std::string SetConfigRoundTrip(const std::string& device, HANDLE port);

// The panel's test, on the UI thread: "Running", then the verdict, in 1040. The device is the
// console's port combo text, the port the console's open port.
void RunSetConfigTest(TestHost& host);

}  // namespace qv::drivertests
