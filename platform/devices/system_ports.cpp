#include "platform/devices/system_ports.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace qv::devices {

namespace fs = std::filesystem;

std::map<std::string, std::string> ReadDeviceLinks(const std::string& dir) {
  std::map<std::string, std::string> links;
  std::error_code ec;
  std::vector<fs::path> entries;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    entries.push_back(it->path());
  }
  // Sorted, so that a node with several links always gets the same one.
  std::sort(entries.begin(), entries.end());
  for (const fs::path& link : entries) {
    if (!fs::is_symlink(link, ec)) continue;
    const fs::path target = fs::canonical(link, ec);
    if (ec) continue;  // a link to a node that is gone
    links.emplace(target.filename().string(), link.filename().string());
  }
  return links;
}

std::vector<PortEntry> ScanInfraredPorts(const std::string& devDir) {
  std::vector<PortEntry> ports;
  std::error_code ec;
  for (fs::directory_iterator it(devDir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.rfind("ircomm", 0) != 0 || name.size() == 6) continue;
    if (!it->is_character_file(ec) && !it->is_symlink(ec)) continue;
    PortEntry entry;
    entry.name = name;
    entry.source = "Infrared";
    if (FitSourceToLabel(entry.name, entry.source)) ports.push_back(std::move(entry));
  }
  return ports;
}

std::vector<PortEntry> SystemPortSource::Ports() {
  std::vector<PortEntry> ports = ScanTtyDevices();
  auto infrared = ScanInfraredPorts();
  ports.insert(ports.end(), infrared.begin(), infrared.end());
  auto virtualPorts = VirtualPortEntries();
  ports.insert(ports.end(), virtualPorts.begin(), virtualPorts.end());
  return ports;
}

DeviceList SystemPortSource::DeviceDescriptions() { return ScanDeviceDescriptions(); }

}  // namespace qv::devices
