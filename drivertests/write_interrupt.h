// The write-then-interrupt tests: one or two overlapped writes on the console's port that must
// still be pending when WriteFile returns, then a step that interrupts them: closing the port, a
// speed change, a flush, a purge of the transmit side (abort or clear) or a cancel. The tests only
// check that the writes are pending; what the driver then does is for the user to watch (console
// log, states panel, the device). All of them run on the UI thread and return when the
// interrupting step is done.
//
// A write's OVERLAPPED record, event and data stay alive until the driver has finished with that
// write, however long after the handler returned that is: each write is a record of its own, kept
// here while its request is pending, its event closed and its record freed once it has
// completed (at the end of the handler, or at a later handler or the end of the tests for writes
// still pending then). Records still pending when the tests end are handed to a list that lives
// until the process ends: never freed under a pending request.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "drivertests/host.h"
#include "platform/types.h"
#include "resources/tests_panel_ids.h"

namespace qv::drivertests {


// The written data. The long block: 4082 x 'c' and an AT keypad command.
std::vector<BYTE> LongBlock();
// "AT", 125 digits 0-9 repeating, '@' (128 bytes).
std::vector<BYTE> DigitLine();
// "AT", 125 letters A-Z repeating, '@' (128 bytes).
std::vector<BYTE> LetterLine();
// The flush test's upload of n = baudRate / 2 content bytes: its command line (without a
// terminating zero) and the object of n + 32 bytes.
std::string ObjectUploadCommand(DWORD baudRate);
std::vector<BYTE> ObjectUpload(DWORD baudRate);

class WriteInterruptTests {
 public:
  explicit WriteInterruptTests(TestHost& host);
  ~WriteInterruptTests();
  WriteInterruptTests(const WriteInterruptTests&) = delete;
  WriteInterruptTests& operator=(const WriteInterruptTests&) = delete;

  void CloseHandleTest();     // 1049
  void BaudrateChangeTest();  // 1050
  void FlushTest();           // 1051
  void PurgeAbortTest();      // 1052
  void PurgeClearTest();      // 1053
  void CancelTest();          // 1054

  // Releases the writes that have completed since; then those still pending (kept alive here).
  std::size_t PendingWrites();

  // How the latest writes ended (the last 16, oldest first), as the driver completed them.
  struct Ended {
    DWORD size = 0;
    DWORD error = 0;
    DWORD transferred = 0;
  };
  const std::vector<Ended>& EndedWrites() const { return ended_; }

  struct Write;

 private:
  // Starts an overlapped write of data on hPort that must not complete at once.
  void StartPendingWrite(std::vector<BYTE> data);
  void TwoLinesThen(DWORD purgeFlags, bool cancel);
  // Closes the events and frees the records of the writes that have completed.
  void ReleaseCompleted();

  TestHost& host_;
  std::vector<std::unique_ptr<Write>> writes_;
  std::vector<Ended> ended_;
};

}  // namespace qv::drivertests
