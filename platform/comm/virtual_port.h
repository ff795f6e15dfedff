// A virtual port: a simulated driver and wire with a device at the far end.
//
// The wire is paced at the configured rate in both directions (start bit, data bits, parity,
// stop bits per character). Output is held while CTS output flow is on and CTS is off, while an
// XOFF from the device holds it (fOutX), and during a break. One service thread per open port
// moves bytes when their time on the wire is over, runs the driver core's timers and makes every
// call into the device, outside any lock.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/comm/line.h"
#include "platform/comm/virtual_port_control.h"

namespace qv::comm {

class VirtualPort final : public Line, public sim::LineEnd {
 public:
  VirtualPort(std::string name, std::string source,
              std::function<std::unique_ptr<sim::Device>()> makeDevice);
  ~VirtualPort() override;

  const std::string& name() const { return name_; }
  const std::string& source() const { return source_; }

  // Opening: ERROR_FILE_NOT_FOUND when unplugged, the refusal set by a test, ERROR_ACCESS_DENIED
  // when already open. Waits for the open delay first. Release undoes a successful Acquire that
  // was not followed by Start.
  DWORD Acquire();
  void Release();
  sim::DeviceDescription Description();
  VirtualPortInfo Info();

  // Test controls (see virtual_port_control.h).
  void SetFarEndLines(const FarEndLines& lines);
  void SetModemStatusExtraBits(DWORD bits);
  bool InjectLineErrors(DWORD ceBits);
  bool InjectBreak();
  void InjectFromFarEnd(const std::uint8_t* data, std::size_t count);
  void SetBaudPolicy(const BaudPolicy& policy);
  // The rate the driver runs for a requested one under the policy: ERROR_INVALID_PARAMETER when
  // it refuses it, else *accepted (a listed neighbour when it rounds).
  DWORD AcceptRate(DWORD requested, DWORD* accepted) const;
  void SetOpenBehaviour(DWORD refuseError, DWORD delayMs);
  void SetResponseDelay(DWORD milliseconds);
  void SetFarEndByteFault(FarEndByteFault fault, std::size_t position);
  void SetDriverFaults(const DriverFaults& faults);
  bool SetPlugged(bool plugged);  // true when the state changed
  void Reset();

  // Line
  DWORD Start(LineHost* host, const DCB& dcb, bool dtr, bool rts) override;
  void Stop() override;
  DWORD Configure(const DCB& dcb, DWORD* acceptedBaud) override;
  DWORD SetOutputLines(bool dtr, bool rts) override;
  DWORD SetBreak(bool on) override;
  DWORD GetModemStatus(DWORD* status) override;
  LineHolds Holds() override;
  LineFaults Faults() const override;
  void SendFlowChar(char c) override;
  void ResumeOutput() override;
  void Kick() override;
  void ArmDeadline(Clock::time_point deadline) override;
  LineCaps Caps() const override;

  // sim::LineEnd
  void SendToHost(const std::uint8_t* data, std::size_t count) override;
  void SetDeviceLines(bool cts, bool dsr, bool dcd, bool ring) override;

 private:
  struct RxChunk {
    std::vector<std::uint8_t> bytes;
    std::size_t taken = 0;
    Clock::time_point start;
    Clock::duration perByte;
  };
  using Lock = std::unique_lock<std::mutex>;
  using DeviceCall = std::function<void(sim::Device&)>;

  void Run();
  void EnsureDeviceLocked();
  DWORD AcceptRateLocked(DWORD requested, DWORD* accepted) const;
  DWORD ModemStatusLocked() const;
  bool TxHeldLocked() const;
  Clock::duration PerByteLocked() const;
  void PostLocked(DeviceCall call);

  const std::string name_;
  const std::string source_;
  const std::function<std::unique_ptr<sim::Device>()> makeDevice_;

  mutable std::mutex mu_;
  std::condition_variable wake_;
  bool kicked_ = false;
  bool stop_ = false;
  std::unique_ptr<sim::Device> device_;
  sim::DeviceDescription description_;
  std::thread thread_;
  std::thread::id serviceThread_;
  LineHost* host_ = nullptr;
  bool acquired_ = false;
  bool running_ = false;

  // Test controls.
  bool plugged_ = true;
  bool hangupPending_ = false;
  FarEndLines overrides_;
  DWORD extraStatusBits_ = 0;
  BaudPolicy policy_;
  DWORD refuseError_ = 0;
  DWORD openDelayMs_ = 0;
  DWORD refuseEveryNthOpen_ = 0;
  DWORD opensCounted_ = 0;  // opens tried since refuseEveryNthOpen_ was set
  Clock::duration responseDelay_{};
  // The far end's byte to damage: its position in what the far end sends after the request.
  bool alterPending_ = false;
  FarEndByteFault alterHow_ = FarEndByteFault::kAlter;
  std::size_t alterAt_ = 0;
  DWORD pendingErrors_ = 0;
  bool pendingBreak_ = false;
  // The driver faults: read by the core under its own lock, so kept out of mu_.
  std::atomic<bool> ignoreReadTimeouts_{false};
  std::atomic<bool> neverCompleteWrites_{false};
  std::atomic<bool> refusePurge_{false};
  std::atomic<DWORD> purgeError_{0};

  // Line state.
  DCB dcb_{};
  bool dtr_ = false;
  bool rts_ = false;
  bool break_ = false;
  bool deviceCts_ = false, deviceDsr_ = false, deviceDcd_ = false, deviceRing_ = false;
  DWORD reportedModem_ = 0xFFFFFFFF;
  bool xoffHeld_ = false;
  bool xoffSent_ = false;
  bool settingsPending_ = false;
  std::vector<DeviceCall> outbox_;

  // The wire.
  bool txIdle_ = true;
  Clock::time_point txFree_;  // when the character on the wire has gone out
  std::deque<RxChunk> rx_;
  Clock::time_point rxFree_;
};

// The registry of virtual ports (the always-present ones first, then those tests add).
std::shared_ptr<VirtualPort> FindVirtualPort(const std::string& name);

}  // namespace qv::comm
