#include "sim/loopback_plug.h"

namespace qv::sim {
namespace {

class LoopbackPlug final : public Device {
 public:
  void Attach(LineEnd* line) override { line_ = line; }
  void OnHostBytes(const std::uint8_t* data, std::size_t count) override {
    if (line_ != nullptr) line_->SendToHost(data, count);
  }
  void OnHostLines(bool dtr, bool rts) override {
    if (line_ != nullptr) line_->SetDeviceLines(rts, dtr, dtr, false);
  }
  void OnBreak(bool) override {}  // a wire carries the break back, but no byte
  DeviceDescription Describe() const override {
    DeviceDescription d;
    d.providerSubType = 1;  // PST_RS232
    return d;
  }

 private:
  LineEnd* line_ = nullptr;  // only touched from the line's calls, one at a time
};

}  // namespace

std::unique_ptr<Device> MakeLoopbackPlug() { return std::make_unique<LoopbackPlug>(); }

}  // namespace qv::sim
