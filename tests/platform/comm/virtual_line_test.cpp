// What only the virtual line can show: the loop-back plug's wiring, what a device sees, injected
// errors, baud policies, pacing, queues, DSR emulation, plug and unplug, configuration records.
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/comm/port_names.h"
#include "platform/comm/virtual_port_control.h"
#include "tests/platform/comm/comm_test_support.h"

namespace qv::comm::testing {
namespace {

// A device that records what the line tells it, and echoes like a loop-back plug.
struct DeviceLog {
  std::mutex lock;
  std::vector<std::string> events;
  sim::DeviceDescription description;
  void Add(const std::string& e) {
    std::lock_guard g(lock);
    events.push_back(e);
  }
  bool Has(const std::string& e) {
    std::lock_guard g(lock);
    for (auto& x : events) {
      if (x == e) return true;
    }
    return false;
  }
  void Clear() {
    std::lock_guard g(lock);
    events.clear();
  }
};

class RecordingDevice final : public sim::Device {
 public:
  explicit RecordingDevice(DeviceLog* log) : log_(log) {}
  void Attach(sim::LineEnd* line) override {
    line_ = line;
    log_->Add(line ? "attach" : "detach");
  }
  void OnHostBytes(const std::uint8_t* data, std::size_t count) override {
    log_->Add("bytes " + std::string(reinterpret_cast<const char*>(data), count));
    if (line_) line_->SendToHost(data, count);
  }
  void OnHostLines(bool dtr, bool rts) override {
    log_->Add(std::string("lines dtr=") + (dtr ? "1" : "0") + " rts=" + (rts ? "1" : "0"));
    if (line_) line_->SetDeviceLines(rts, dtr, dtr, false);
  }
  void OnBreak(bool on) override { log_->Add(on ? "break on" : "break off"); }
  void OnLineSettings(const sim::LineSettings& s) override {
    log_->Add("rate " + std::to_string(s.baudRate));
  }
  void OnHostOpen(bool open) override { log_->Add(open ? "open" : "close"); }
  sim::DeviceDescription Describe() const override { return log_->description; }

 private:
  DeviceLog* log_;
  sim::LineEnd* line_ = nullptr;
};

DeviceLog& TestDeviceLog() {
  static DeviceLog* log = [] {
    auto* l = new DeviceLog;
    AddVirtualPort("vtest0", "test device", [l] { return std::make_unique<RecordingDevice>(l); });
    return l;
  }();
  return *log;
}

DeviceLog& ModemLog() {
  static DeviceLog* log = [] {
    auto* l = new DeviceLog;
    l->description.providerSubType = PST_MODEM;
    l->description.manufacturer = "Quelm";
    l->description.model = "Test phone";
    l->description.version = "1.2";
    l->description.devSpecific = "dev";
    l->description.maxDteRate = 460800;
    l->description.maxDceRate = 115200;
    AddVirtualPort("vmodem0", "test modem", [l] { return std::make_unique<RecordingDevice>(l); });
    return l;
  }();
  return *log;
}

class VirtualLine : public ::testing::Test {
 protected:
  void TearDown() override {
    if (port_ != INVALID_HANDLE_VALUE) CloseHandle(port_);
    ResetVirtualPort("vloop0");
    SetHotPlugHook(nullptr);
  }
  HANDLE Open(const char* name = "vloop0", bool overlapped = true) {
    port_ = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                        overlapped ? FILE_FLAG_OVERLAPPED : 0, nullptr);
    EXPECT_NE(port_, INVALID_HANDLE_VALUE) << "error " << GetLastError();
    return port_;
  }
  DWORD Modem() {
    DWORD ms = 0;
    EXPECT_TRUE(GetCommModemStatus(port_, &ms));
    return ms;
  }
  bool ModemBecomes(DWORD mask, DWORD value) {
    return WaitUntil([&] { return (Modem() & mask) == value; });
  }
  void SetDcb(const std::function<void(DCB&)>& change) {
    DCB dcb;
    ASSERT_TRUE(GetCommState(port_, &dcb));
    change(dcb);
    ASSERT_TRUE(SetCommState(port_, &dcb)) << GetLastError();
  }
  void Timeouts(DWORD interval, DWORD mult, DWORD constant) {
    COMMTIMEOUTS t{interval, mult, constant, 0, 0};
    ASSERT_TRUE(SetCommTimeouts(port_, &t));
  }

  HANDLE port_ = INVALID_HANDLE_VALUE;
  Records records_;
};

TEST_F(VirtualLine, LoopbackPlugWiresRtsToCtsAndDtrToDsrAndDcd) {
  Open();
  const DWORD all = MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON | MS_RING_ON;
  EXPECT_TRUE(ModemBecomes(all, MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON));
  ASSERT_TRUE(EscapeCommFunction(port_, CLRRTS));
  EXPECT_TRUE(ModemBecomes(all, MS_DSR_ON | MS_RLSD_ON));
  ASSERT_TRUE(EscapeCommFunction(port_, CLRDTR));
  EXPECT_TRUE(ModemBecomes(all, 0));
  ASSERT_TRUE(EscapeCommFunction(port_, SETRTS));
  EXPECT_TRUE(ModemBecomes(all, MS_CTS_ON));
  ASSERT_TRUE(EscapeCommFunction(port_, SETDTR));
  EXPECT_TRUE(ModemBecomes(all, MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON));

  // The far end's lines can be overridden by a test, and CTS changes raise EV_CTS.
  ASSERT_TRUE(SetCommMask(port_, EV_CTS));
  Overlapped& e = records_.New();
  DWORD mask = 0;
  ASSERT_FALSE(WaitCommEvent(port_, &mask, &e.ov));
  ASSERT_TRUE(SetFarEndLines("vloop0", {false, std::nullopt, std::nullopt, true}));
  ASSERT_TRUE(e.Signalled(2000));
  EXPECT_EQ(mask, DWORD{EV_CTS});
  EXPECT_TRUE(ModemBecomes(all, MS_DSR_ON | MS_RLSD_ON | MS_RING_ON));

  // In handshake mode the driver owns RTS.
  SetDcb([](DCB& d) { d.fRtsControl = RTS_CONTROL_HANDSHAKE; });
  EXPECT_FALSE(EscapeCommFunction(port_, SETRTS));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(VirtualLine, DeviceSeesOpenLinesRateAndBreakAndBreakHoldsOutput) {
  DeviceLog& log = TestDeviceLog();
  log.Clear();
  Open("vtest0");
  EXPECT_TRUE(WaitUntil([&] { return log.Has("open") && log.Has("lines dtr=1 rts=1"); }));
  SetDcb([](DCB& d) { d.BaudRate = 57600; });
  EXPECT_TRUE(WaitUntil([&] { return log.Has("rate 57600"); }));

  ASSERT_TRUE(SetCommBreak(port_));
  EXPECT_TRUE(WaitUntil([&] { return log.Has("break on"); }));
  Overlapped& w = records_.New();
  DWORD n = 0;
  ASSERT_FALSE(WriteFile(port_, "ab", 2, &n, &w.ov));
  ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  EXPECT_FALSE(w.Signalled(100));
  ASSERT_TRUE(ClearCommBreak(port_));
  EXPECT_TRUE(WaitUntil([&] { return log.Has("break off"); }));
  ASSERT_TRUE(w.Signalled(2000));
  EXPECT_TRUE(WaitUntil([&] { return log.Has("bytes ab"); }));

  ASSERT_TRUE(CloseHandle(port_));
  port_ = INVALID_HANDLE_VALUE;
  EXPECT_TRUE(log.Has("lines dtr=0 rts=0"));
  EXPECT_TRUE(log.Has("close"));
  EXPECT_TRUE(log.Has("detach"));
}

TEST_F(VirtualLine, InjectedFrameAndOverrunCompleteEvErrAndClearCommErrorReturns0x0A) {
  Open();
  ASSERT_TRUE(SetCommMask(port_, EV_ERR));
  Overlapped& e = records_.New();
  DWORD mask = 0;
  ASSERT_FALSE(WaitCommEvent(port_, &mask, &e.ov));
  ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  ASSERT_TRUE(InjectLineErrors("vloop0", CE_FRAME | CE_OVERRUN));
  ASSERT_TRUE(e.Signalled(2000));
  DWORD n = 0;
  ASSERT_TRUE(GetOverlappedResult(port_, &e.ov, &n, FALSE));
  EXPECT_EQ(mask, DWORD{EV_ERR});
  DWORD errors = 0;
  ASSERT_TRUE(ClearCommError(port_, &errors, nullptr));
  EXPECT_EQ(errors, 0x0Au);
  ASSERT_TRUE(ClearCommError(port_, &errors, nullptr));
  EXPECT_EQ(errors, 0u);

  // An error recorded while no wait is pending makes the next wait complete at once.
  ASSERT_TRUE(InjectLineErrors("vloop0", CE_RXPARITY));
  ASSERT_TRUE(WaitUntil([&] {
    COMSTAT s;
    DWORD peek = 0;
    return ClearCommError(port_, &peek, &s) && peek == CE_RXPARITY;
  }));
  ASSERT_TRUE(InjectLineErrors("vloop0", CE_FRAME));
  std::this_thread::sleep_for(Ms(50));
  EXPECT_TRUE(WaitCommEvent(port_, &mask, &e.ov));
  EXPECT_EQ(mask, DWORD{EV_ERR});
}

TEST_F(VirtualLine, AbortOnErrorFailsIoUntilTheErrorIsCleared) {
  Open();
  SetDcb([](DCB& d) { d.fAbortOnError = 1; });
  Timeouts(0, 0, 0);
  Overlapped& r = records_.New();
  char c;
  DWORD n = 0;
  ASSERT_FALSE(ReadFile(port_, &c, 1, &n, &r.ov));
  ASSERT_TRUE(InjectLineErrors("vloop0", CE_FRAME));
  ASSERT_TRUE(r.Signalled(2000));
  EXPECT_FALSE(GetOverlappedResult(port_, &r.ov, &n, FALSE));
  EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
  EXPECT_FALSE(WriteFile(port_, "x", 1, &n, &r.ov));
  EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
  DWORD errors = 0;
  ASSERT_TRUE(ClearCommError(port_, &errors, nullptr));
  EXPECT_EQ(errors, DWORD{CE_FRAME});
  Overlapped& w = records_.New();
  if (!WriteFile(port_, "x", 1, &n, &w.ov)) {
    EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
  }
  EXPECT_TRUE(w.Signalled(2000));
}

TEST_F(VirtualLine, BaudPoliciesRoundOrRefuse) {
  Open();
  BaudPolicy nearest{BaudPolicy::kNearest, {9600, 19200, 115200}};
  ASSERT_TRUE(SetBaudPolicy("vloop0", nearest));
  SetDcb([](DCB& d) { d.BaudRate = 100000; });
  DCB dcb;
  ASSERT_TRUE(GetCommState(port_, &dcb));
  EXPECT_EQ(dcb.BaudRate, 115200u);

  BaudPolicy list{BaudPolicy::kList, {9600, 19200}};
  ASSERT_TRUE(SetBaudPolicy("vloop0", list));
  dcb.BaudRate = 14400;
  EXPECT_FALSE(SetCommState(port_, &dcb));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  ASSERT_TRUE(GetCommState(port_, &dcb));
  EXPECT_EQ(dcb.BaudRate, 115200u);  // a refused rate leaves the line as it was
  dcb.BaudRate = 19200;
  EXPECT_TRUE(SetCommState(port_, &dcb));
  dcb.BaudRate = 0;
  EXPECT_FALSE(SetCommState(port_, &dcb));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

// 4096 bytes at 115200 bps, 10 bits each, are on the wire for 0.356 s.
TEST_F(VirtualLine, WritesArePacedAtTheBaudRate) {
  Open();
  SetDcb([](DCB& d) {
    d.BaudRate = 115200;
    d.ByteSize = 8;
    d.Parity = NOPARITY;
    d.StopBits = ONESTOPBIT;
  });
  std::string block(4096, 'c');
  Overlapped& w = records_.New();
  DWORD n = 0;
  const auto start = SteadyClock::now();
  ASSERT_FALSE(WriteFile(port_, block.data(), 4096, &n, &w.ov));
  ASSERT_TRUE(w.Signalled(5000));
  const double took = SecondsSince(start);
  EXPECT_NEAR(took, 4096 * 10 / 115200.0, 0.05 * 0.356);
}

TEST_F(VirtualLine, InputBeyondTheDriverQueueIsLostAsRxOver) {
  Open();
  ASSERT_TRUE(SetupComm(port_, 16, 16));
  SetDcb([](DCB& d) { d.BaudRate = 115200; });
  Overlapped& w = records_.New();
  DWORD n = 0;
  std::string bytes(32, 'q');
  ASSERT_FALSE(WriteFile(port_, bytes.data(), 32, &n, &w.ov));
  ASSERT_TRUE(w.Signalled(2000));
  COMSTAT status{};
  DWORD errors = 0;
  ASSERT_TRUE(WaitUntil([&] {
    COMSTAT s{};
    DWORD e = 0;
    if (!ClearCommError(port_, &e, &s)) return false;
    errors |= e;
    status = s;
    return (errors & CE_RXOVER) != 0;
  }));
  EXPECT_EQ(status.cbInQue, 16u);
  COMMPROP prop{};
  ASSERT_TRUE(GetCommProperties(port_, &prop));
  EXPECT_EQ(prop.dwCurrentRxQueue, 16u);
}

TEST_F(VirtualLine, DsrOutputFlowHoldsAndDsrSensitivityDrops) {
  Open();
  Timeouts(MAXDWORD, 0, 0);
  SetDcb([](DCB& d) { d.fOutxDsrFlow = 1; });
  ASSERT_TRUE(SetFarEndLines("vloop0", {std::nullopt, false, std::nullopt, std::nullopt}));
  ASSERT_TRUE(ModemBecomes(MS_DSR_ON, 0));
  Overlapped& w = records_.New();
  DWORD n = 0;
  ASSERT_FALSE(WriteFile(port_, "abc", 3, &n, &w.ov));
  EXPECT_FALSE(w.Signalled(150));
  COMSTAT status{};
  DWORD errors = 0;
  ASSERT_TRUE(ClearCommError(port_, &errors, &status));
  EXPECT_TRUE(status.fDsrHold);
  EXPECT_EQ(status.cbOutQue, 3u);

  // DSR still off, but now sensitivity on and output flow off: the write goes, the echo is lost.
  SetDcb([](DCB& d) {
    d.fOutxDsrFlow = 0;
    d.fDsrSensitivity = 1;
  });
  ASSERT_TRUE(w.Signalled(2000));
  std::this_thread::sleep_for(Ms(50));
  ASSERT_TRUE(ClearCommError(port_, &errors, &status));
  EXPECT_EQ(status.cbInQue, 0u);

  ASSERT_TRUE(SetFarEndLines("vloop0", {}));
  ASSERT_TRUE(ModemBecomes(MS_DSR_ON, MS_DSR_ON));
  Overlapped& w2 = records_.New();
  if (!WriteFile(port_, "def", 3, &n, &w2.ov)) {
    EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
  }
  EXPECT_TRUE(
      WaitUntil([&] { return ClearCommError(port_, &errors, &status) && status.cbInQue == 3; }));
}

TEST_F(VirtualLine, UnplugFailsRequestsAndRefusesOpenUntilPluggedAgain) {
  std::mutex lock;
  std::vector<std::string> seen;
  SetHotPlugHook([&](const std::string& name, bool arrived) {
    std::lock_guard g(lock);
    seen.push_back(name + (arrived ? " +" : " -"));
  });
  Open();
  Timeouts(0, 0, 0);
  Overlapped& r = records_.New();
  char c;
  DWORD n = 0;
  ASSERT_FALSE(ReadFile(port_, &c, 1, &n, &r.ov));
  ASSERT_TRUE(UnplugVirtualPort("vloop0"));
  ASSERT_TRUE(r.Signalled(2000));
  EXPECT_FALSE(GetOverlappedResult(port_, &r.ov, &n, FALSE));
  EXPECT_EQ(GetLastError(), ERROR_GEN_FAILURE);
  EXPECT_FALSE(ReadFile(port_, &c, 1, &n, &r.ov));
  EXPECT_EQ(GetLastError(), ERROR_GEN_FAILURE);
  EXPECT_TRUE(CloseHandle(port_));
  port_ = INVALID_HANDLE_VALUE;

  EXPECT_EQ(CreateFileA("vloop0", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                        nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  ASSERT_TRUE(PlugVirtualPort("vloop0"));
  Open();
  std::lock_guard g(lock);
  EXPECT_EQ(seen, (std::vector<std::string>{"vloop0 -", "vloop0 +"}));
}

TEST_F(VirtualLine, OpenCanBeRefusedOrDelayed) {
  ASSERT_TRUE(SetOpenBehaviour("vloop0", ERROR_SHARING_VIOLATION, 0));
  EXPECT_EQ(CreateFileA("vloop0", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                        nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  ASSERT_TRUE(SetOpenBehaviour("vloop0", 0, 150));
  const auto start = SteadyClock::now();
  Open("\\\\.\\vloop0");
  EXPECT_GE(SecondsSince(start), 0.14);
}

TEST_F(VirtualLine, ResponseDelayHoldsBackTheEcho) {
  Open();
  ASSERT_TRUE(SetResponseDelay("vloop0", 300));
  Timeouts(0, 0, 2000);
  Overlapped& w = records_.New();
  Overlapped& r = records_.New();
  char c = 0;
  DWORD n = 0;
  const auto start = SteadyClock::now();
  if (!WriteFile(port_, "e", 1, &n, &w.ov)) {
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  }
  if (!ReadFile(port_, &c, 1, &n, &r.ov)) {
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  }
  ASSERT_TRUE(r.Signalled(3000));
  EXPECT_GE(SecondsSince(start), 0.29);
  ASSERT_TRUE(GetOverlappedResult(port_, &r.ov, &n, FALSE));
  EXPECT_EQ(c, 'e');
}

TEST_F(VirtualLine, TransmitCommCharAndFlushGoOut) {
  Open("vloop0", false);
  SetDcb([](DCB& d) { d.BaudRate = 9600; });
  Timeouts(0, 0, 2000);
  std::string data(100, 'f');
  DWORD n = 0;
  std::thread writer([&] { WriteFile(port_, data.data(), 100, &n, nullptr); });
  std::this_thread::sleep_for(Ms(20));
  // The flush returns once everything before it has gone out (about 0.1 s at 9600 bps).
  ASSERT_TRUE(FlushFileBuffers(port_));
  COMSTAT status{};
  DWORD errors = 0;
  ASSERT_TRUE(ClearCommError(port_, &errors, &status));
  EXPECT_EQ(status.cbOutQue, 0u);
  writer.join();
  EXPECT_EQ(n, 100u);
  ASSERT_TRUE(TransmitCommChar(port_, '!'));
  std::string back(101, '\0');
  ASSERT_TRUE(ReadFile(port_, back.data(), 101, &n, nullptr));
  EXPECT_EQ(back.substr(0, n), data + "!");
}

TEST_F(VirtualLine, DcbFieldsTheLineCannotExpressReadBackAsSet) {
  Open();
  DCB set;
  ASSERT_TRUE(GetCommState(port_, &set));
  set.BaudRate = 38400;
  set.fDsrSensitivity = 1;
  set.fTXContinueOnXoff = 1;
  set.fErrorChar = 1;
  set.fDtrControl = DTR_CONTROL_HANDSHAKE;
  set.XonLim = 100;
  set.XoffLim = 200;
  set.ByteSize = 7;
  set.Parity = EVENPARITY;
  set.StopBits = TWOSTOPBITS;
  set.ErrorChar = '?';
  set.EofChar = 0x1A;
  set.EvtChar = '\n';
  ASSERT_TRUE(SetCommState(port_, &set));
  DCB got;
  ASSERT_TRUE(GetCommState(port_, &got));
  EXPECT_EQ(std::memcmp(&set, &got, sizeof(DCB)), 0);

  DCB bad = set;
  bad.ByteSize = 9;
  EXPECT_FALSE(SetCommState(port_, &bad));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  bad = set;
  bad.fOutX = 1;
  bad.XonChar = bad.XoffChar;
  EXPECT_FALSE(SetCommState(port_, &bad));

  // GetCommConfig carries the same 28 bytes.
  std::vector<std::uint8_t> buffer(1076);
  auto* config = reinterpret_cast<COMMCONFIG*>(buffer.data());
  DWORD size = 1076;
  ASSERT_TRUE(GetCommConfig(port_, config, &size));
  EXPECT_EQ(std::memcmp(&config->dcb, &got, sizeof(DCB)), 0);
}

TEST_F(VirtualLine, CommConfigAndPropertiesOfAPlainPort) {
  Open();
  std::vector<std::uint8_t> buffer(1076);
  auto* config = reinterpret_cast<COMMCONFIG*>(buffer.data());
  DWORD size = 10;
  EXPECT_FALSE(GetCommConfig(port_, config, &size));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(size, sizeof(COMMCONFIG));
  size = 1076;
  ASSERT_TRUE(GetCommConfig(port_, config, &size));
  EXPECT_EQ(size, sizeof(COMMCONFIG));
  EXPECT_EQ(config->wVersion, 1);
  EXPECT_EQ(config->dwProviderSubType, PST_RS232);
  EXPECT_EQ(config->dwProviderSize, 0u);

  // A configuration written back with half the rate reads back so.
  config->dcb.BaudRate = 4800;
  ASSERT_TRUE(SetCommConfig(port_, config, size));
  DCB dcb;
  ASSERT_TRUE(GetCommState(port_, &dcb));
  EXPECT_EQ(dcb.BaudRate, 4800u);

  ASSERT_TRUE(SetupComm(port_, 4096, 2048));
  std::vector<std::uint8_t> propBuffer(1164);
  auto* prop = reinterpret_cast<COMMPROP*>(propBuffer.data());
  prop->wPacketLength = 1164;
  prop->dwProvSpec1 = COMMPROP_INITIALIZED;
  ASSERT_TRUE(GetCommProperties(port_, prop));
  EXPECT_EQ(prop->dwProvSubType, PST_RS232);
  EXPECT_EQ(prop->dwServiceMask, SP_SERIALCOMM);
  EXPECT_EQ(prop->dwCurrentRxQueue, 4096u);
  EXPECT_EQ(prop->dwCurrentTxQueue, 2048u);
  EXPECT_TRUE(prop->dwSettableBaud & BAUD_USER);
  EXPECT_TRUE(prop->dwProvCapabilities & PCF_RTSCTS);
}

std::string Utf16At(const std::uint8_t* base, DWORD offset, DWORD bytes) {
  std::string out;
  for (DWORD i = 0; i + 1 < bytes; i += 2) {
    char16_t c;
    std::memcpy(&c, base + offset + i, 2);
    out.push_back(static_cast<char>(c));
  }
  return out;
}

TEST_F(VirtualLine, ModemPortCarriesModemSettingsAndDevCaps) {
  ModemLog();
  Open("vmodem0");
  std::vector<std::uint8_t> buffer(1076);
  auto* config = reinterpret_cast<COMMCONFIG*>(buffer.data());
  DWORD size = 1076;
  ASSERT_TRUE(GetCommConfig(port_, config, &size));
  EXPECT_EQ(config->dwProviderSubType, PST_MODEM);
  EXPECT_EQ(config->dwProviderOffset, 48u);
  EXPECT_EQ(size, 48 + config->dwProviderSize);
  const std::uint8_t* msBase = buffer.data() + config->dwProviderOffset;
  MODEMSETTINGS ms;
  std::memcpy(&ms, msBase, offsetof(MODEMSETTINGS, abVariablePortion));
  EXPECT_EQ(ms.dwActualSize, config->dwProviderSize);
  EXPECT_EQ(Utf16At(msBase, ms.dwDevSpecificOffset, ms.dwDevSpecificSize), "dev");

  std::vector<std::uint8_t> propBuffer(1164);
  auto* prop = reinterpret_cast<COMMPROP*>(propBuffer.data());
  prop->wPacketLength = 1164;
  prop->dwProvSpec1 = COMMPROP_INITIALIZED;
  ASSERT_TRUE(GetCommProperties(port_, prop));
  EXPECT_EQ(prop->dwProvSubType, PST_MODEM);
  const std::uint8_t* capsBase = propBuffer.data() + offsetof(COMMPROP, wcProvChar);
  MODEMDEVCAPS caps;
  std::memcpy(&caps, capsBase, offsetof(MODEMDEVCAPS, abVariablePortion));
  EXPECT_EQ(Utf16At(capsBase, caps.dwModemManufacturerOffset, caps.dwModemManufacturerSize),
            "Quelm");
  EXPECT_EQ(Utf16At(capsBase, caps.dwModemModelOffset, caps.dwModemModelSize), "Test phone");
  EXPECT_EQ(Utf16At(capsBase, caps.dwModemVersionOffset, caps.dwModemVersionSize), "1.2");
  EXPECT_EQ(caps.dwMaxDTERate, 460800u);
  EXPECT_EQ(prop->wPacketLength, offsetof(COMMPROP, wcProvChar) + caps.dwActualSize);

  // Without COMMPROP_INITIALIZED only the fixed part is filled.
  std::vector<std::uint8_t> small(sizeof(COMMPROP) + 16, 0xEE);
  auto* plain = reinterpret_cast<COMMPROP*>(small.data());
  plain->dwProvSpec1 = 0;
  ASSERT_TRUE(GetCommProperties(port_, plain));
  EXPECT_EQ(plain->wPacketLength, sizeof(COMMPROP));
  EXPECT_EQ(small[sizeof(COMMPROP)], 0xEE);
}

TEST(PortNames, ResolveToVirtualPortsDevicesAndPaths) {
  EXPECT_TRUE(ResolvePortName("vloop0").isVirtual);
  EXPECT_TRUE(ResolvePortName("\\\\.\\vloop0").isVirtual);
  EXPECT_EQ(ResolvePortName("\\\\.\\vloop0").name, "vloop0");
  EXPECT_EQ(ResolvePortName("COM1").name, "/dev/ttyS0");
  EXPECT_EQ(ResolvePortName("\\\\.\\COM12").name, "/dev/ttyS11");
  EXPECT_EQ(ResolvePortName("ttyUSB0").name, "/dev/ttyUSB0");
  EXPECT_EQ(ResolvePortName("COMX").name, "/dev/COMX");
  EXPECT_EQ(ResolvePortName("/tmp/x/port").name, "/tmp/x/port");
  // The names the device records use: the device a prefixed name or a /dev path opens.
  EXPECT_EQ(RecordNameOfPort("\\\\.\\COM7"), "ttyS6");
  EXPECT_EQ(RecordNameOfPort("/dev/ttyACM0"), "ttyACM0");
  EXPECT_EQ(RecordNameOfPort("\\\\.\\vloop0"), "vloop0");
  EXPECT_EQ(RecordNameOfPort("COM7"), "");
  EXPECT_NE(ConfigFileName("a/b"), ConfigFileName("a_b"));
  EXPECT_EQ(ConfigFileName("COM3"), "COM3");
}

TEST(Files, OtherFilesOpenAsDisksAndHaveNoCommFunctions) {
  char path[] = "/tmp/qv-file-XXXXXX";
  const int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  [[maybe_unused]] auto w = ::write(fd, "data", 4);
  ::close(fd);
  HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OVERLAPPED, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetFileType(h), FILE_TYPE_DISK);
  char buffer[8];
  DWORD n = 0;
  Overlapped r;
  EXPECT_TRUE(ReadFile(h, buffer, sizeof buffer, &n, &r.ov));
  EXPECT_EQ(std::string(buffer, n), "data");
  EXPECT_TRUE(r.Signalled(0));
  DCB dcb;
  EXPECT_FALSE(GetCommState(h, &dcb));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);
  EXPECT_TRUE(CloseHandle(h));
  ::unlink(path);

  EXPECT_EQ(CreateFileA("vnothing9", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(GetFileType(reinterpret_cast<HANDLE>(0x7777)), FILE_TYPE_UNKNOWN);
}

}  // namespace
}  // namespace qv::comm::testing
