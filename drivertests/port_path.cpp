#include "drivertests/port_path.h"

#include <cstdio>

#include "capture/capture_writer.h"
#include "drivertests/port_handle.h"
#include "engine/comm.h"
#include "platform/sync/kernel_object.h"
#include "platform/sync/last_error.h"
#include "support/reporting/checked_call.h"

namespace qv::drivertests {
namespace {

void GetCommStateChecked(HANDLE port, DCB* dcb, const char* module) {
  qv::support::CheckLastError(module, [&] { return GetCommState(port, dcb); });
}

// SetCommState with the console's rule: a refused parameter (87) is the driver's answer and not
// reported; any other failure asks the user, and Retry repeats the call.
void SetCommStateReported(HANDLE port, const DCB& dcb, const char* module) {
  while (!SetCommState(port, &dcb)) {
    if (GetLastError() == ERROR_INVALID_PARAMETER) return;
    if (!RetryOnLastError(module, __LINE__)) return;
  }
}

}  // namespace

HANDLE OpenPortOverlapped(const std::string& name) {
  const HANDLE port = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (port != INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    qv::capture::Record(qv::capture::Kind::kOpen, name);
    SetLastError(error);
  }
  return port;
}

std::string DescribeLineSettings(const DCB& dcb) {
  static constexpr char kParity[] = "NOEMS";
  static constexpr const char* kStopBits[] = {"1", "1.5", "2"};
  std::string flow;
  const auto add = [&flow](const char* name) {
    if (!flow.empty()) flow += '+';
    flow += name;
  };
  if (dcb.fOutxCtsFlow) add("cts");
  if (dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) add("rts");
  if (dcb.fOutxDsrFlow) add("dsr");
  if (dcb.fDtrControl == DTR_CONTROL_HANDSHAKE) add("dtr");
  if (dcb.fOutX) add("xon/xoff-out");
  if (dcb.fInX) add("xon/xoff-in");
  char text[96];
  std::snprintf(text, sizeof text, "%lu %u%c%s flow=%s", static_cast<unsigned long>(dcb.BaudRate),
                unsigned(dcb.ByteSize), dcb.Parity < 5 ? kParity[dcb.Parity] : '?',
                dcb.StopBits < 3 ? kStopBits[dcb.StopBits] : "?",
                flow.empty() ? "none" : flow.c_str());
  return text;
}

void RecordLineSettings(HANDLE port) {
  if (!qv::capture::LineCapture().Running()) return;
  const DWORD error = GetLastError();
  DCB dcb{};
  if (GetCommState(port, &dcb))
    qv::capture::Record(qv::capture::Kind::kConfig, DescribeLineSettings(dcb));
  SetLastError(error);
}

void RecordModemStatus(DWORD status) {
  if (!qv::capture::LineCapture().Running()) return;
  char text[64];
  std::snprintf(text, sizeof text, "CTS=%d DSR=%d RING=%d DCD=%d", (status & MS_CTS_ON) ? 1 : 0,
                (status & MS_DSR_ON) ? 1 : 0, (status & MS_RING_ON) ? 1 : 0,
                (status & MS_RLSD_ON) ? 1 : 0);
  qv::capture::Record(qv::capture::Kind::kModem, text);
}

std::string OpenErrorText(DWORD code, const char* operation) {
  const std::string reason = qv::sync::SystemErrorText(code);
  char text[1024];
  std::snprintf(text, sizeof text, kOpenErrorFormat, int(code), operation, reason.c_str());
  return text;
}

std::string DriverBaudText(int requested, int accepted) {
  if (requested == accepted) return {};
  char text[512];
  std::snprintf(text, sizeof text, kDriverBaudFormat, requested, accepted);
  return text;
}

DCB ApplyOpenLineSettings(HANDLE port, DWORD speed, const char* module) {
  // A DCB that could not be read is not sent back as garbage: it stays zero, which the driver
  // refuses.
  DCB dcb{};
  GetCommStateChecked(port, &dcb, module);
  dcb.BaudRate = speed;
  dcb.fBinary = 1;
  dcb.fParity = 0;
  dcb.fOutX = 0;
  dcb.fInX = 0;
  dcb.fNull = 0;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  SetCommStateReported(port, dcb, module);

  DCB actual{};
  GetCommStateChecked(port, &actual, module);
  qv::capture::Record(qv::capture::Kind::kConfig, DescribeLineSettings(actual));
  return actual;
}

void PurgeLeftOverOutput(HANDLE port, const char* module) {
  qv::support::CheckLastError(module,
                              [&] { return PurgeComm(port, PURGE_TXABORT | PURGE_TXCLEAR); });
}

DCB ApplySpeed(HANDLE port, DWORD speed, const char* module) {
  DCB dcb{};
  GetCommStateChecked(port, &dcb, module);
  dcb.BaudRate = speed;
  SetCommStateReported(port, dcb, module);
  DCB actual{};
  GetCommStateChecked(port, &actual, module);
  qv::capture::Record(qv::capture::Kind::kConfig, DescribeLineSettings(actual));
  return actual;
}

void CloseConsolePort() {
  // The engine ends before the handle does.
  StopComm(0);
  const HANDLE port = hPort;
  if (port != INVALID_HANDLE_VALUE) {
    CloseHandle(port);
    qv::capture::Record(qv::capture::Kind::kClose, {});
  }
  hPort = INVALID_HANDLE_VALUE;
}

}  // namespace qv::drivertests
