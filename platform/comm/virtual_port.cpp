#include "platform/comm/virtual_port.h"

#include <algorithm>
#include <cmath>

#include "platform/comm/dcb_rules.h"
#include "sim/devices.h"

namespace qv::comm {
namespace {

// The service thread wakes at most this often while bytes are on the wire; pacing stays exact
// because each round moves every byte whose time is over.
constexpr auto kWireTick = std::chrono::milliseconds(1);

std::uint8_t DataMask(const DCB& dcb) {
  return static_cast<std::uint8_t>((1u << dcb.ByteSize) - 1u);
}

sim::LineSettings SettingsOf(const DCB& dcb) {
  sim::LineSettings s;
  s.baudRate = dcb.BaudRate;
  s.dataBits = dcb.ByteSize;
  s.parity = dcb.Parity;
  s.stopBits = dcb.StopBits;
  return s;
}

}  // namespace

VirtualPort::VirtualPort(std::string name, std::string source,
                         std::function<std::unique_ptr<sim::Device>()> makeDevice)
    : name_(std::move(name)), source_(std::move(source)), makeDevice_(std::move(makeDevice)) {
  dcb_ = DefaultDcb();
}

VirtualPort::~VirtualPort() { Stop(); }

void VirtualPort::EnsureDeviceLocked() {
  if (device_) return;
  device_ = makeDevice_();
  if (device_) description_ = device_->Describe();
}

sim::DeviceDescription VirtualPort::Description() {
  Lock lock(mu_);
  EnsureDeviceLocked();
  return description_;
}

VirtualPortInfo VirtualPort::Info() {
  Lock lock(mu_);
  return {name_, source_, plugged_, acquired_};
}

DWORD VirtualPort::Acquire() {
  DWORD delayMs = 0;
  DWORD refuse = 0;
  {
    Lock lock(mu_);
    if (!plugged_) return ERROR_FILE_NOT_FOUND;
    delayMs = openDelayMs_;
    refuse = refuseError_;
    if (refuseEveryNthOpen_ != 0 && ++opensCounted_ % refuseEveryNthOpen_ == 0 && refuse == 0)
      refuse = ERROR_ACCESS_DENIED;
  }
  if (delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
  if (refuse != 0) return refuse;
  Lock lock(mu_);
  if (!plugged_) return ERROR_FILE_NOT_FOUND;
  if (acquired_) return ERROR_ACCESS_DENIED;
  acquired_ = true;
  return ERROR_SUCCESS;
}

void VirtualPort::Release() {
  Lock lock(mu_);
  acquired_ = false;
}

// ---- test controls -------------------------------------------------------------------------------

void VirtualPort::SetFarEndLines(const FarEndLines& lines) {
  Lock lock(mu_);
  overrides_ = lines;
  kicked_ = true;
  wake_.notify_one();
}

void VirtualPort::SetModemStatusExtraBits(DWORD bits) {
  Lock lock(mu_);
  extraStatusBits_ = bits;
  kicked_ = true;  // the driver core hears of the new word on the next round
  wake_.notify_one();
}

bool VirtualPort::InjectLineErrors(DWORD ceBits) {
  Lock lock(mu_);
  if (!running_) return false;
  pendingErrors_ |= ceBits;
  kicked_ = true;
  wake_.notify_one();
  return true;
}

bool VirtualPort::InjectBreak() {
  Lock lock(mu_);
  if (!running_) return false;
  pendingBreak_ = true;
  kicked_ = true;
  wake_.notify_one();
  return true;
}

void VirtualPort::InjectFromFarEnd(const std::uint8_t* data, std::size_t count) {
  SendToHost(data, count);
}

void VirtualPort::SetBaudPolicy(const BaudPolicy& policy) {
  Lock lock(mu_);
  policy_ = policy;
}

DWORD VirtualPort::AcceptRate(DWORD requested, DWORD* accepted) const {
  Lock lock(mu_);
  return AcceptRateLocked(requested, accepted);
}

DWORD VirtualPort::AcceptRateLocked(DWORD rate, DWORD* accepted) const {
  switch (policy_.kind) {
    case BaudPolicy::kAll:
      if (rate < policy_.lowest || rate > policy_.highest) return ERROR_INVALID_PARAMETER;
      break;
    case BaudPolicy::kList:
      if (!policy_.rates.empty() &&
          std::find(policy_.rates.begin(), policy_.rates.end(), rate) == policy_.rates.end()) {
        return ERROR_INVALID_PARAMETER;
      }
      break;
    case BaudPolicy::kNearest:
      if (!policy_.rates.empty()) {
        const auto d = [rate](DWORD x) { return x > rate ? x - rate : rate - x; };
        DWORD best = policy_.rates.front();
        for (DWORD r : policy_.rates) {
          if (d(r) < d(best) || (d(r) == d(best) && r < best)) best = r;
        }
        rate = best;
      }
      break;
  }
  *accepted = rate;
  return ERROR_SUCCESS;
}

void VirtualPort::SetOpenBehaviour(DWORD refuseError, DWORD delayMs) {
  Lock lock(mu_);
  refuseError_ = refuseError;
  openDelayMs_ = delayMs;
}

void VirtualPort::SetResponseDelay(DWORD milliseconds) {
  Lock lock(mu_);
  responseDelay_ = std::chrono::milliseconds(milliseconds);
}

void VirtualPort::SetFarEndByteFault(FarEndByteFault fault, std::size_t position) {
  Lock lock(mu_);
  alterPending_ = true;
  alterHow_ = fault;
  alterAt_ = position;
}

bool VirtualPort::SetPlugged(bool plugged) {
  Lock lock(mu_);
  if (plugged_ == plugged) return false;
  plugged_ = plugged;
  if (!plugged && running_) {
    hangupPending_ = true;
    kicked_ = true;
    wake_.notify_one();
  }
  return true;
}

void VirtualPort::SetDriverFaults(const DriverFaults& faults) {
  ignoreReadTimeouts_ = faults.ignoreReadTimeouts;
  neverCompleteWrites_ = faults.neverCompleteWrites;
  refusePurge_ = faults.refusePurge;
  purgeError_ = faults.purgeError;
  Lock lock(mu_);
  refuseEveryNthOpen_ = faults.refuseEveryNthOpen;
  opensCounted_ = 0;
  kicked_ = true;  // writes held by the fault may go now
  wake_.notify_one();
}

LineFaults VirtualPort::Faults() const {
  LineFaults f;
  f.ignoreReadTimeouts = ignoreReadTimeouts_;
  f.neverCompleteWrites = neverCompleteWrites_;
  f.refusePurge = refusePurge_;
  f.purgeError = purgeError_;
  return f;
}

void VirtualPort::Reset() {
  SetDriverFaults({});
  Lock lock(mu_);
  overrides_ = {};
  extraStatusBits_ = 0;
  policy_ = {};
  refuseError_ = 0;
  openDelayMs_ = 0;
  responseDelay_ = {};
  alterPending_ = false;
  kicked_ = true;
  wake_.notify_one();
}

// ---- Line ----------------------------------------------------------------------------------------

DWORD VirtualPort::Start(LineHost* host, const DCB& dcb, bool dtr, bool rts) {
  Lock lock(mu_);
  EnsureDeviceLocked();
  host_ = host;
  dcb_ = dcb;
  dtr_ = dtr;
  rts_ = rts;
  break_ = false;
  xoffHeld_ = false;
  xoffSent_ = false;
  reportedModem_ = 0xFFFFFFFF;
  pendingErrors_ = 0;
  pendingBreak_ = false;
  hangupPending_ = false;
  settingsPending_ = false;
  rx_.clear();
  txIdle_ = true;
  rxFree_ = Clock::now();
  stop_ = false;
  running_ = true;
  outbox_.clear();
  const sim::LineSettings settings = SettingsOf(dcb_);
  PostLocked([this](sim::Device& d) { d.Attach(this); });
  PostLocked([settings](sim::Device& d) { d.OnLineSettings(settings); });
  PostLocked([](sim::Device& d) { d.OnHostOpen(true); });
  PostLocked([dtr, rts](sim::Device& d) { d.OnHostLines(dtr, rts); });
  thread_ = std::thread([this] { Run(); });
  serviceThread_ = thread_.get_id();
  return ERROR_SUCCESS;
}

void VirtualPort::Stop() {
  {
    Lock lock(mu_);
    if (!running_) return;
    stop_ = true;
    wake_.notify_one();
  }
  thread_.join();
  // The service thread has ended, so these calls are still one at a time.
  bool wasBreak = false;
  {
    Lock lock(mu_);
    wasBreak = break_;
  }
  if (device_) {
    device_->OnHostLines(false, false);
    if (wasBreak) device_->OnBreak(false);
    device_->OnHostOpen(false);
    device_->Attach(nullptr);
  }
  Lock lock(mu_);
  running_ = false;
  acquired_ = false;
  host_ = nullptr;
  rx_.clear();
  outbox_.clear();
  dtr_ = rts_ = break_ = false;
}

DWORD VirtualPort::Configure(const DCB& dcb, DWORD* acceptedBaud) {
  Lock lock(mu_);
  DWORD rate = 0;
  if (const DWORD e = AcceptRateLocked(dcb.BaudRate, &rate)) return e;
  const bool changed = rate != dcb_.BaudRate || dcb.ByteSize != dcb_.ByteSize ||
                       dcb.Parity != dcb_.Parity || dcb.StopBits != dcb_.StopBits;
  dcb_ = dcb;
  dcb_.BaudRate = rate;
  *acceptedBaud = rate;
  if (running_ && changed && !settingsPending_) {
    // Coalesced: a baud-rate scan sets millions of rates; the device sees the latest.
    settingsPending_ = true;
    kicked_ = true;
    wake_.notify_one();
  }
  return ERROR_SUCCESS;
}

DWORD VirtualPort::SetOutputLines(bool dtr, bool rts) {
  Lock lock(mu_);
  if (dtr == dtr_ && rts == rts_) return ERROR_SUCCESS;
  dtr_ = dtr;
  rts_ = rts;
  if (running_) PostLocked([dtr, rts](sim::Device& d) { d.OnHostLines(dtr, rts); });
  return ERROR_SUCCESS;
}

DWORD VirtualPort::SetBreak(bool on) {
  Lock lock(mu_);
  if (on == break_) return ERROR_SUCCESS;
  break_ = on;
  if (running_) PostLocked([on](sim::Device& d) { d.OnBreak(on); });
  return ERROR_SUCCESS;
}

DWORD VirtualPort::ModemStatusLocked() const {
  DWORD status = extraStatusBits_ & ~(MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON);
  if (overrides_.cts.value_or(deviceCts_)) status |= MS_CTS_ON;
  if (overrides_.dsr.value_or(deviceDsr_)) status |= MS_DSR_ON;
  if (overrides_.ring.value_or(deviceRing_)) status |= MS_RING_ON;
  if (overrides_.dcd.value_or(deviceDcd_)) status |= MS_RLSD_ON;
  return status;
}

DWORD VirtualPort::GetModemStatus(DWORD* status) {
  Lock lock(mu_);
  *status = ModemStatusLocked();
  return ERROR_SUCCESS;
}

bool VirtualPort::TxHeldLocked() const {
  if (break_ || !plugged_) return true;
  if (dcb_.fOutxCtsFlow && !(ModemStatusLocked() & MS_CTS_ON)) return true;
  return dcb_.fOutX && xoffHeld_;
}

LineHolds VirtualPort::Holds() {
  Lock lock(mu_);
  LineHolds h;
  h.cts = dcb_.fOutxCtsFlow && !(ModemStatusLocked() & MS_CTS_ON);
  h.xoff = dcb_.fOutX && xoffHeld_;
  h.xoffSent = xoffSent_;
  return h;
}

void VirtualPort::SendFlowChar(char c) {
  Lock lock(mu_);
  xoffSent_ = c == dcb_.XoffChar;
  const auto byte = static_cast<std::uint8_t>(c);
  if (running_) PostLocked([byte](sim::Device& d) { d.OnHostBytes(&byte, 1); });
}

void VirtualPort::ResumeOutput() {
  Lock lock(mu_);
  xoffHeld_ = false;
  kicked_ = true;
  wake_.notify_one();
}

void VirtualPort::Kick() {
  Lock lock(mu_);
  kicked_ = true;
  wake_.notify_one();
}

void VirtualPort::ArmDeadline(Clock::time_point) {
  Lock lock(mu_);
  // The service thread plans its own wait from the deadline it asked for; others wake it.
  if (std::this_thread::get_id() == serviceThread_) return;
  kicked_ = true;
  wake_.notify_one();
}

LineCaps VirtualPort::Caps() const {
  Lock lock(mu_);
  LineCaps caps;
  caps.modemLines = true;
  caps.description = description_;
  return caps;
}

void VirtualPort::PostLocked(DeviceCall call) {
  outbox_.push_back(std::move(call));
  kicked_ = true;
  wake_.notify_one();
}

Clock::duration VirtualPort::PerByteLocked() const {
  const double seconds = BitsPerCharacter(dcb_) / std::max<DWORD>(dcb_.BaudRate, 1);
  const auto d =
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  return std::max<Clock::duration>(d, Clock::duration(1));
}

// ---- sim::LineEnd --------------------------------------------------------------------------------

void VirtualPort::SendToHost(const std::uint8_t* data, std::size_t count) {
  if (count == 0) return;
  Lock lock(mu_);
  if (!running_) return;  // nobody listens: the bytes fall off the wire
  RxChunk chunk;
  chunk.bytes.assign(data, data + count);
  if (alterPending_) {
    // A damaged byte on the way back, counted across chunks.
    if (alterAt_ < count) {
      const auto at = chunk.bytes.begin() + static_cast<long>(alterAt_);
      switch (alterHow_) {
        case FarEndByteFault::kAlter: *at ^= 0xFF; break;
        case FarEndByteFault::kDrop: chunk.bytes.erase(at); break;
        case FarEndByteFault::kDuplicate: {
          const std::uint8_t byte = *at;
          chunk.bytes.insert(at, byte);
          break;
        }
      }
      alterPending_ = false;
    } else {
      alterAt_ -= count;
    }
  }
  if (chunk.bytes.empty()) return;  // its one byte was dropped
  chunk.perByte = PerByteLocked();
  chunk.start = std::max(rxFree_, Clock::now() + responseDelay_);
  rxFree_ = chunk.start + chunk.perByte * static_cast<long>(chunk.bytes.size());
  rx_.push_back(std::move(chunk));
  kicked_ = true;
  wake_.notify_one();
}

void VirtualPort::SetDeviceLines(bool cts, bool dsr, bool dcd, bool ring) {
  Lock lock(mu_);
  deviceCts_ = cts;
  deviceDsr_ = dsr;
  deviceDcd_ = dcd;
  deviceRing_ = ring;
  kicked_ = true;
  wake_.notify_one();
}

// ---- the service thread --------------------------------------------------------------------------

void VirtualPort::Run() {
  std::vector<std::uint8_t> tx(64 * 1024);
  std::vector<std::uint8_t> rx;
  std::vector<DeviceCall> calls;
  for (;;) {
    const auto now = Clock::now();
    const ServiceState service = host_->Service(now);

    DWORD modem = 0;
    bool reportModem = false;
    DWORD errors = 0;
    bool brk = false;
    bool hangup = false;
    bool held = false;
    Clock::duration perByte{};
    rx.clear();
    calls.clear();
    {
      Lock lock(mu_);
      if (stop_) return;
      calls.swap(outbox_);
      if (settingsPending_) {
        settingsPending_ = false;
        const sim::LineSettings s = SettingsOf(dcb_);
        calls.push_back([s](sim::Device& d) { d.OnLineSettings(s); });
      }
      const std::uint8_t mask = DataMask(dcb_);
      while (!rx_.empty()) {
        RxChunk& c = rx_.front();
        std::size_t due = 0;
        if (now >= c.start) {
          due = std::min<std::size_t>(c.bytes.size(), (now - c.start) / c.perByte);
        }
        for (; c.taken < due; ++c.taken) {
          const std::uint8_t b = c.bytes[c.taken] & mask;
          if (dcb_.fOutX && b == static_cast<std::uint8_t>(dcb_.XoffChar)) {
            xoffHeld_ = true;  // flow control characters steer the output, they are not data
          } else if (dcb_.fOutX && b == static_cast<std::uint8_t>(dcb_.XonChar)) {
            xoffHeld_ = false;
          } else {
            rx.push_back(b);
          }
        }
        if (c.taken < c.bytes.size()) break;
        rx_.pop_front();
      }
      modem = ModemStatusLocked();
      if (modem != reportedModem_) {
        reportedModem_ = modem;
        reportModem = true;
      }
      errors = pendingErrors_;
      pendingErrors_ = 0;
      brk = pendingBreak_;
      pendingBreak_ = false;
      hangup = hangupPending_;
      hangupPending_ = false;
      held = TxHeldLocked();
      perByte = PerByteLocked();
      if (held) txIdle_ = true;
    }

    if (hangup) host_->Hangup(ERROR_GEN_FAILURE);
    if (reportModem) host_->ModemStatusChanged(modem);
    if (errors != 0) host_->LineErrors(errors);
    if (brk) host_->BreakReceived();
    if (!rx.empty()) host_->Receive(rx.data(), rx.size());

    std::size_t taken = 0;
    if (!held) {
      const std::size_t ready = host_->TxReady();
      std::size_t due = 0;
      {
        Lock lock(mu_);
        if (txIdle_ && ready > 0) {
          txIdle_ = false;
          txFree_ = now;
        }
        if (!txIdle_) due = std::min<std::size_t>(tx.size(), (now - txFree_) / perByte);
      }
      if (due > 0) {
        taken = host_->TakeTx(tx.data(), due);
        Lock lock(mu_);
        txFree_ += perByte * static_cast<long>(taken);
        if (taken < due) txIdle_ = true;  // the wire ran dry
        const std::uint8_t mask = DataMask(dcb_);
        for (std::size_t i = 0; i < taken; ++i) tx[i] &= mask;
      }
    }

    if (device_) {
      for (auto& call : calls) call(*device_);
      if (taken > 0) device_->OnHostBytes(tx.data(), taken);
    }

    Lock lock(mu_);
    Clock::time_point next = service.deadline;
    const auto soonest = now + kWireTick;
    if (!txIdle_) next = std::min(next, std::max(txFree_ + perByte, soonest));
    if (!rx_.empty()) {
      const RxChunk& c = rx_.front();
      next =
          std::min(next, std::max(c.start + c.perByte * static_cast<long>(c.taken + 1), soonest));
    }
    if (!outbox_.empty() || settingsPending_) kicked_ = true;
    if (next == Clock::time_point::max()) {
      wake_.wait(lock, [this] { return kicked_ || stop_; });
    } else {
      wake_.wait_until(lock, next, [this] { return kicked_ || stop_; });
    }
    kicked_ = false;
  }
}

// ---- registry ------------------------------------------------------------------------------------

namespace {

struct Registry {
  std::mutex lock;
  std::vector<std::shared_ptr<VirtualPort>> ports;
  HotPlugHook hook;
};

Registry& Ports() {
  static Registry* registry = [] {
    auto* r = new Registry;  // lives until exit: ports may still run while statics go away
    for (const auto& entry : sim::DefaultVirtualPorts()) {
      r->ports.push_back(std::make_shared<VirtualPort>(entry.name, entry.source, entry.makeDevice));
    }
    return r;
  }();
  return *registry;
}

void NotifyPlug(const std::string& name, bool arrived) {
  HotPlugHook hook;
  {
    std::lock_guard guard(Ports().lock);
    hook = Ports().hook;
  }
  if (hook) hook(name, arrived);
}

}  // namespace

std::shared_ptr<VirtualPort> FindVirtualPort(const std::string& name) {
  Registry& r = Ports();
  std::lock_guard guard(r.lock);
  for (auto& p : r.ports) {
    if (p->name() == name) return p;
  }
  return nullptr;
}

std::vector<VirtualPortInfo> ListVirtualPorts() {
  std::vector<std::shared_ptr<VirtualPort>> ports;
  {
    std::lock_guard guard(Ports().lock);
    ports = Ports().ports;
  }
  std::vector<VirtualPortInfo> out;
  for (auto& p : ports) out.push_back(p->Info());
  return out;
}

bool SetFarEndLines(const std::string& port, const FarEndLines& lines) {
  auto p = FindVirtualPort(port);
  if (p) p->SetFarEndLines(lines);
  return p != nullptr;
}

bool SetModemStatusExtraBits(const std::string& port, DWORD bits) {
  auto p = FindVirtualPort(port);
  if (p) p->SetModemStatusExtraBits(bits);
  return p != nullptr;
}

bool InjectLineErrors(const std::string& port, DWORD ceBits) {
  auto p = FindVirtualPort(port);
  return p && p->InjectLineErrors(ceBits);
}

bool InjectBreak(const std::string& port) {
  auto p = FindVirtualPort(port);
  return p && p->InjectBreak();
}

bool InjectFromFarEnd(const std::string& port, const void* data, std::size_t count) {
  auto p = FindVirtualPort(port);
  if (p) p->InjectFromFarEnd(static_cast<const std::uint8_t*>(data), count);
  return p != nullptr;
}

bool SetBaudPolicy(const std::string& port, const BaudPolicy& policy) {
  auto p = FindVirtualPort(port);
  if (p) p->SetBaudPolicy(policy);
  return p != nullptr;
}

bool SetOpenBehaviour(const std::string& port, DWORD refuseError, DWORD delayMs) {
  auto p = FindVirtualPort(port);
  if (p) p->SetOpenBehaviour(refuseError, delayMs);
  return p != nullptr;
}

bool SetResponseDelay(const std::string& port, DWORD milliseconds) {
  auto p = FindVirtualPort(port);
  if (p) p->SetResponseDelay(milliseconds);
  return p != nullptr;
}

bool AlterFarEndByte(const std::string& port, std::size_t position) {
  return SetFarEndByteFault(port, FarEndByteFault::kAlter, position);
}

bool SetFarEndByteFault(const std::string& port, FarEndByteFault fault, std::size_t position) {
  auto p = FindVirtualPort(port);
  if (p) p->SetFarEndByteFault(fault, position);
  return p != nullptr;
}

bool SetDriverFaults(const std::string& port, const DriverFaults& faults) {
  auto p = FindVirtualPort(port);
  if (p) p->SetDriverFaults(faults);
  return p != nullptr;
}

bool PlugVirtualPort(const std::string& port) {
  auto p = FindVirtualPort(port);
  if (!p) return false;
  if (p->SetPlugged(true)) NotifyPlug(port, true);
  return true;
}

bool UnplugVirtualPort(const std::string& port) {
  auto p = FindVirtualPort(port);
  if (!p) return false;
  if (p->SetPlugged(false)) NotifyPlug(port, false);
  return true;
}

bool ResetVirtualPort(const std::string& port) {
  auto p = FindVirtualPort(port);
  if (!p) return false;
  p->Reset();
  return PlugVirtualPort(port);
}

void SetHotPlugHook(HotPlugHook hook) {
  std::lock_guard guard(Ports().lock);
  Ports().hook = std::move(hook);
}

bool AddVirtualPort(const std::string& name, const std::string& source,
                    std::function<std::unique_ptr<sim::Device>()> makeDevice) {
  Registry& r = Ports();
  std::lock_guard guard(r.lock);
  for (auto& p : r.ports) {
    if (p->name() == name) return false;
  }
  r.ports.push_back(std::make_shared<VirtualPort>(name, source, std::move(makeDevice)));
  return true;
}

bool RemoveVirtualPort(const std::string& name) {
  Registry& r = Ports();
  std::lock_guard guard(r.lock);
  for (auto it = r.ports.begin(); it != r.ports.end(); ++it) {
    if ((*it)->name() != name) continue;
    if ((*it)->Info().open) return false;  // an open port keeps its device until it is closed
    r.ports.erase(it);
    return true;
  }
  return false;
}

}  // namespace qv::comm
