// One serial port that the system offers, as port discovery shows it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qv::devices {

struct PortEntry {
  // What opens the port: a device node's name (ttyUSB0, ttyACM0, ttyS0, rfcomm0, ircomm0) or a
  // virtual port's name (vloop0).
  std::string name;
  // Which device it is: the driver behind a tty with what tells the device apart
  // ("ftdi_sio, 0403:6001 FT232R USB UART, usb-FTDI_..._A50285BI-if00-port0",
  // "rfcomm, 00:1a:7d:da:71:13 channel 3"), "Infrared", or a virtual port's text
  // ("virtual loop-back plug").
  std::string source;
  // The device's model or product name; empty when the system knows none.
  std::string description;
};

// The longest label a port list entry may have.
constexpr std::size_t kMaxPortLabel = 259;
// Between the port name and the opening parenthesis of the source in a label.
constexpr std::string_view kPortLabelPadding = "                      ";  // 22 blanks

// "name" + 22 blanks + "(" + source + ")".
std::string PortLabel(const PortEntry& entry);

// Shortens `source` so that the label of a port called `name` stays within kMaxPortLabel.
// Returns false when even an empty source would not fit (the name alone is too long).
bool FitSourceToLabel(std::string_view name, std::string& source);

}  // namespace qv::devices
