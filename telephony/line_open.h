// Opening a port through the telephony line service: the console's registration with the service,
// "Open with TAPI" (find the line device whose data-modem port is the port in the port box, open
// it, place a pass-through data-modem call), the trace of every message the service sends, and
// the release of the call when the port closes.
//
// All of it runs on the console's thread: the service delivers its messages through that thread's
// event loop.
#pragma once

#include <string>

#include "platform/types.h"
#include "telephony/line_types.h"

namespace qv::telephony {

// What the line open needs of its console.
class LineOpenHost {
 public:
  virtual ~LineOpenHost() = default;
  // The port name as the port box gives it (it may begin with "\\.\").
  virtual std::string PortNameFromCombo() = 0;
  // One log entry.
  virtual void LogText(const char* text) = 0;
  // The owner of the boxes shown here.
  virtual HWND BoxOwner() = 0;
  // Whether the console has a port open now.
  virtual bool PortIsOpen() = 0;
  // A connected call's handle: it becomes the console's port, opened as if by name (engine
  // started, panels told).
  virtual void OpenCallPort(HANDLE port) = 0;
  // A connected call came without a handle: the console has no port.
  virtual void ClearPort() = 0;
};

// The texts and codes of this part of the console.
inline constexpr const char* kTryingToOpenFormat = "Trying to open TAPI device \"%s\"";
inline constexpr const char* kNoTapiDevice = "No TAPI device on this port";
inline constexpr const char* kPortNameClass = "comm/datamodem/portname";
inline constexpr const char* kDataModemClass = "comm/datamodem";

// The longest variable-size record accepted from the service; a larger need is a damaged answer.
inline constexpr DWORD kMaxRecordSize = 64 * 1024;
// The most line devices searched: a count or a new device's ID beyond it is a damaged answer
// (traced and left out), never a search of billions of IDs on the console's thread.
inline constexpr DWORD kMaxLineDevices = 256;
// Logged when a call ended without having connected and its line was closed.
inline constexpr const char* kCallEndedFormat =
    "The call on TAPI device \"%s\" ended without connecting: its line is closed";

// Logged when "Open with TAPI" is pressed again while the last one's call is still being placed.
inline constexpr const char* kCallPendingFormat =
    "A call on TAPI device \"%s\" is still being placed: wait until it connects or ends";

class TelephonyLineOpen {
 public:
  explicit TelephonyLineOpen(LineOpenHost& host);
  ~TelephonyLineOpen();
  TelephonyLineOpen(const TelephonyLineOpen&) = delete;
  TelephonyLineOpen& operator=(const TelephonyLineOpen&) = delete;

  // Console start: registers with the service (checked) and becomes the target of its messages.
  void Initialize();
  // Console end: leaves the service (not checked). Calls and lines are left to the service.
  void Shutdown();
  // The "Open with TAPI" button.
  void OpenWithTapi();
  // The port closed: the call is deallocated and its line closed, when there is a call.
  void ReleaseCall();

  // The callback registered with the service: forwards to the line open of the console.
  static void OnLineCallback(DWORD hDevice, DWORD dwMsg, DWORD dwCallbackInstance, DWORD dwParam1,
                             DWORD dwParam2, DWORD dwParam3);
  // One message of the service: its trace line, then what it asks for.
  void HandleLineMessage(DWORD hDevice, DWORD dwMsg, DWORD dwParam1, DWORD dwParam2,
                         DWORD dwParam3);

  HLINEAPP hLineApp = 0;      // the registration with the service
  DWORD lineDeviceCount = 0;  // the line devices to search
  HLINE hLine = 0;            // the line of the current attempt
  HCALL hCall = 0;            // the data-modem call (the service fills it in when placed)

 private:
  // Tries one device; true when it matched and the call was placed.
  bool TryDevice(DWORD deviceId, const std::string& portName);
  void OnCallConnected();
  void OnCallState(DWORD call, DWORD state);
  // A placed call that will not connect: the call (when there is one) and its line go back to
  // the service, and the log says so.
  void EndFailedAttempt(HCALL call);
  // A device count from the service, within kMaxLineDevices.
  DWORD BoundedCount(DWORD count);

  LineOpenHost& host_;
  // The call placed by the last "Open with TAPI" until it connects or ends: its line's name, the
  // request that places it and its handle once known.
  struct Attempt {
    bool pending = false;
    std::string lineName;
    DWORD request = 0;
    HCALL call = 0;
  } attempt_;
};

// The trace line of one message, as the console logs it.
std::string LineMessageTrace(DWORD hDevice, DWORD dwMsg, DWORD dwParam1, DWORD dwParam2,
                             DWORD dwParam3);

}  // namespace qv::telephony
