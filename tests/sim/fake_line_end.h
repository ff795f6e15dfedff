// A LineEnd that records what a device sends and which lines it raises, for driving a device
// directly without a port.
#pragma once

#include <mutex>
#include <string>

#include "sim/device.h"

namespace qv::sim::testing {

class FakeLineEnd : public LineEnd {
 public:
  void SendToHost(const std::uint8_t* data, std::size_t count) override {
    std::lock_guard lock(mutex_);
    received_.append(reinterpret_cast<const char*>(data), count);
  }
  void SetDeviceLines(bool cts, bool dsr, bool dcd, bool ring) override {
    std::lock_guard lock(mutex_);
    cts_ = cts;
    dsr_ = dsr;
    dcd_ = dcd;
    ring_ = ring;
  }

  // Everything received since the last call.
  std::string Take() {
    std::lock_guard lock(mutex_);
    std::string out;
    out.swap(received_);
    return out;
  }
  bool cts() const { return cts_; }
  bool dsr() const { return dsr_; }
  bool dcd() const { return dcd_; }
  bool ring() const { return ring_; }

 private:
  std::mutex mutex_;
  std::string received_;
  bool cts_ = false, dsr_ = false, dcd_ = false, ring_ = false;
};

}  // namespace qv::sim::testing
