#include "platform/devices/port_source.h"

#include <atomic>

#include "platform/devices/system_ports.h"

namespace qv::devices {
namespace {

std::atomic<PortSource*> g_installed{nullptr};

}  // namespace

PortSource& CurrentPortSource() {
  if (PortSource* installed = g_installed.load()) return *installed;
  static SystemPortSource system;
  return system;
}

ScopedPortSource::ScopedPortSource(PortSource& source) : previous_(g_installed.exchange(&source)) {}

ScopedPortSource::~ScopedPortSource() { g_installed.store(previous_); }

}  // namespace qv::devices
