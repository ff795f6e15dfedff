#include "platform/devices/port_entry.h"

namespace qv::devices {

std::string PortLabel(const PortEntry& entry) {
  std::string label;
  label.reserve(entry.name.size() + kPortLabelPadding.size() + entry.source.size() + 2);
  label += entry.name;
  label += kPortLabelPadding;
  label += '(';
  label += entry.source;
  label += ')';
  return label;
}

bool FitSourceToLabel(std::string_view name, std::string& source) {
  const std::size_t fixed = name.size() + kPortLabelPadding.size() + 2;
  if (fixed > kMaxPortLabel) return false;
  const std::size_t room = kMaxPortLabel - fixed;
  if (source.size() > room) source.resize(room);
  return true;
}

}  // namespace qv::devices
