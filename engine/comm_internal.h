// Shared between the engine's source files; not for callers.
#pragma once

#include "engine/config_dump.h"

#include <string>

#include "engine/comm.h"

namespace qv::engine {

inline constexpr const char* kInvalidHandleAlert =
    "ERROR_INVALID_HANDLE, Likely that the Service Provider has closed the port.";
inline constexpr const char* kSentRecordFile = "data_sent.log";
inline constexpr const char* kReceivedRecordFile = "data_recv.log";

// What StartComm hands to a new thread. The thread waits for `started` before it looks at the
// connection: by then StartComm has stored the thread's handle and id, here and in the
// connection record, so a thread that ends at once clears them for real. The thread closes
// `started` and deletes the record.
struct ThreadStart {
  HANDLE started = nullptr;
  CommDataCallback onCommData;  // the read thread's own copy of the receive callback
  HANDLE thread = nullptr;      // the thread's own handle and id, set before `started`
  DWORD threadId = 0;
};

using ThreadHandleSlot = CommConnectionRecord::Word<HANDLE> CommConnectionRecord::*;
using ThreadIdSlot = CommConnectionRecord::Word<DWORD> CommConnectionRecord::*;

// Clears a thread's slot in the connection record and closes the thread's handle, but only while
// the slot still holds that thread. A thread that the stop abandoned may end long after: by then
// the stop has cleared its slot and a later connection may have put its own thread there. A
// handle is never reused, so it tells the thread's own slot from a later one. True when this call
// released the slot.
bool ReleaseThreadSlot(ThreadHandleSlot handleSlot, ThreadIdSlot idSlot, HANDLE thread,
                       DWORD threadId);

// Appends bytes to a record file in the current directory (opened and closed per chunk, so the
// two threads never share a file object). A file that cannot be opened is skipped.
void AppendToRecordFile(const char* name, const void* bytes, DWORD count);

// The console's operations, when a console is registered.
void ConsoleLogText(const char* text);
void ConsoleRequestClose();

// Cancels the calling thread's requests on the port and waits until their records are released
// by the driver (their events set). False when a request still holds its record: the caller must
// then keep the record and its buffer rather than release them under the driver.
bool CancelOwnRequests(HANDLE port, const HANDLE* requestEvents, DWORD count);

}  // namespace qv::engine
