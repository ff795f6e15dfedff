#include "platform/devices/offered_ports.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <string>

#include "platform/devices/port_source.h"

namespace qv::devices {
namespace {

// Case-insensitive, as the sorted combo box compares its entries.
bool LessNoCase(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) <
           std::tolower(static_cast<unsigned char>(y));
  });
}

}  // namespace

std::vector<PortEntry> OfferedPorts() {
  std::map<std::string, PortEntry> byLabel;  // a label that occurs twice is kept once
  for (PortEntry& entry : CurrentPortSource().Ports()) {
    if (entry.name.empty()) continue;
    // Labels stay within the longest the list takes; a name too long for any label is left out.
    if (!FitSourceToLabel(entry.name, entry.source)) continue;
    byLabel.emplace(PortLabel(entry), entry);
  }
  std::vector<std::pair<std::string, PortEntry>> sorted(byLabel.begin(), byLabel.end());
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const auto& a, const auto& b) { return LessNoCase(a.first, b.first); });
  std::vector<PortEntry> ports;
  for (auto& [label, entry] : sorted) ports.push_back(std::move(entry));
  return ports;
}

}  // namespace qv::devices
