// The read path: one overlapped read and one line-event wait outstanding at all times; received
// bytes go to the receive callback (and "data_recv.log"), line errors to the trace.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "capture/capture_writer.h"
#include "engine/comm_internal.h"
#include "platform/comm/comm_api.h"
#include "platform/sync/event.h"
#include "platform/sync/kernel_object.h"
#include "platform/sync/last_error.h"
#include "platform/sync/thread.h"

using namespace qv::engine;

namespace {

enum class Step {
  kGoOn,       // carry on with the next step
  kPending,    // an overlapped request is outstanding
  kStopped,    // the stop event was found set: end silently
  kFailed,     // an error was reported: end with a close request
  kAbandoned,  // the thread was abandoned: end without touching anything shared
};

// Everything the thread and the driver share lives here, on the heap: if the driver ever kept a
// request beyond its cancellation, the records and the buffer are kept rather than released.
struct ReadThread {
  HANDLE self = nullptr;  // this thread's handle and id, as in its slot of the connection
  DWORD selfId = 0;
  HANDLE port = nullptr;
  HANDLE closeEvent = nullptr;
  CommDataCallback onCommData;
  OVERLAPPED readRecord{};
  OVERLAPPED eventRecord{};
  DWORD eventMask = 0;
  BYTE* buffer = nullptr;
  DWORD capacity = 0;
};

// After a box or any other call that may block: an abandoned thread goes no further.
Step Failed() { return qv::sync::IsCurrentThreadAbandoned() ? Step::kAbandoned : Step::kFailed; }

bool StopRequested(const ReadThread& t) {
  return WaitForSingleObject(t.closeEvent, 0) == WAIT_OBJECT_0;
}

// An enlargement by SetCommBlockSize takes effect here, between two read requests, never under
// a pending one. Returns the bytes to ask for.
DWORD PrepareBuffer(ReadThread& t) {
  const DWORD block = CommConnection.ReadBlockSize;
  const DWORD wanted = std::max<DWORD>(block, CommConnection.ReadBufferSize);
  if (t.capacity < wanted) {
    if (auto* larger = static_cast<BYTE*>(std::malloc(wanted))) {
      // Shown in the record only while the record shows this thread's buffer.
      CommConnection.ReadBuffer.CompareExchange(t.buffer, larger);
      std::free(t.buffer);
      t.buffer = larger;
      t.capacity = wanted;
    }
  }
  return std::min(block, t.capacity);
}

Step Deliver(ReadThread& t, const BYTE* bytes, DWORD count) {
  if (count == 0) return Step::kGoOn;
  qv::capture::Record(qv::capture::Kind::kRx, {}, bytes, count);
  if (CommConnection.LogData) {
    AppendToRecordFile(kReceivedRecordFile, bytes, count);
    // A record file may block (a full disk, a slow share): the stop may have given up meanwhile.
    if (qv::sync::IsCurrentThreadAbandoned()) return Step::kAbandoned;
  }
  const int goOn = t.onCommData ? t.onCommData(bytes, count) : 1;
  if (qv::sync::IsCurrentThreadAbandoned()) return Step::kAbandoned;
  return goOn ? Step::kGoOn : Step::kFailed;
}

Step StartReading(ReadThread& t) {
  for (;;) {
    if (StopRequested(t)) return Step::kStopped;
    const DWORD toRead = PrepareBuffer(t);
    if (t.buffer == nullptr) return Step::kFailed;
    DWORD read = 0;
    if (!ReadFile(t.port, t.buffer, toRead, &read, &t.readRecord)) {
      const DWORD error = GetLastError();
      if (error == ERROR_IO_PENDING) return Step::kPending;
      // A purge (the connection's own stop, or PURGE_RXABORT) that meets the request while the
      // driver is still taking it ends it at once with 995: as for a pending read, no error.
      if (error == ERROR_OPERATION_ABORTED) {
        TraceMsg("ERROR_OPERATION_ABORTED, Likely PurgeComm(RXABORT) has been used.");
        continue;
      }
      if (error == ERROR_INVALID_HANDLE) {
        AlertBox(kInvalidHandleAlert);
      } else {
        ErrorBox(error, "Unexpected ReadFile error: ");
      }
      return Failed();
    }
    TraceMsg("Data waiting for ReadFile.");
    const Step delivered = Deliver(t, t.buffer, read);
    if (delivered != Step::kGoOn) return delivered;
  }
}

Step CompleteRead(ReadThread& t) {
  DWORD read = 0;
  if (GetOverlappedResult(t.port, &t.readRecord, &read, FALSE)) return Deliver(t, t.buffer, read);
  const DWORD error = GetLastError();
  if (error == ERROR_OPERATION_ABORTED) {
    TraceMsg("ERROR_OPERATION_ABORTED, Likely PurgeComm(RXABORT) has been used.");
    return Step::kGoOn;
  }
  if (error == ERROR_INVALID_HANDLE) {
    AlertBox(kInvalidHandleAlert);
  } else {
    ErrorBox(error, "Unexpected GetOverlappedResult Read Error: ");
  }
  return Failed();
}

// A running capture gets the error word as names, a break as an event of its own.
void RecordLineErrors(DWORD errors) {
  if (!qv::capture::LineCapture().Running()) return;
  static constexpr struct {
    DWORD bit;
    const char* name;
  } kNames[] = {{CE_RXOVER, "CE_RXOVER"},
                {CE_OVERRUN, "CE_OVERRUN"},
                {CE_RXPARITY, "CE_RXPARITY"},
                {CE_FRAME, "CE_FRAME"},
                {CE_TXFULL, "CE_TXFULL"}};
  std::string names;
  DWORD known = CE_BREAK;
  for (const auto& entry : kNames) {
    known |= entry.bit;
    if (!(errors & entry.bit)) continue;
    if (!names.empty()) names += ' ';
    names += entry.name;
  }
  if (errors & ~known) {
    char rest[32];
    std::snprintf(rest, sizeof rest, "%s0x%lX", names.empty() ? "" : " ",
                  static_cast<unsigned long>(errors & ~known));
    names += rest;
  }
  if (errors & CE_BREAK) qv::capture::Record(qv::capture::Kind::kBreak, {});
  if (!names.empty()) qv::capture::Record(qv::capture::Kind::kLineError, names);
}

// Decodes a line event into its CE_ names on the trace.
Step HandleLineEvent(ReadThread& t, bool withOverlappedResult) {
  std::string text;
  if (withOverlappedResult) {
    DWORD ignored = 0;
    if (!GetOverlappedResult(t.port, &t.eventRecord, &ignored, FALSE)) {
      const DWORD error = GetLastError();
      if (error == ERROR_INVALID_HANDLE) {
        AlertBox(kInvalidHandleAlert);
      } else {
        ErrorBox(error, "Unexpected GetOverlappedResult for WaitCommEvent: ");
      }
      return Failed();
    }
  }
  if ((t.eventMask & EV_ERR) == 0) {
    TraceFmt("Unexpected comm event %x\n", t.eventMask);
    return Step::kGoOn;
  }
  DWORD errors = 0;
  if (!ClearCommError(t.port, &errors, nullptr)) {
    const DWORD error = GetLastError();
    if (error == ERROR_INVALID_HANDLE) {
      AlertBox(kInvalidHandleAlert);
    } else {
      ErrorBox(error, "ClearCommError: ");
    }
    return Failed();
  }
  if (errors == 0) text = "NULL Error";
  const auto add = [&text](const char* name) {
    if (!text.empty()) text += " and ";
    text += name;
  };
  if (errors & CE_FRAME) add("CE_FRAME");
  if (errors & CE_OVERRUN) add("CE_OVERRUN");
  if (errors & CE_RXOVER) add("CE_RXOVER");
  if (errors & CE_RXPARITY) add("CE_RXPARITY");
  if (errors & ~DWORD{0x0F}) add("EV_ERR Unknown EvtMask");
  RecordLineErrors(errors);
  text.resize(std::min<std::size_t>(text.size(), 127));
  TraceFmt("Comm Event: '%s'\n", text.c_str());
  TraceFmt("EvtMask = '%lx'\n", static_cast<unsigned long>(errors));
  return Step::kGoOn;
}

Step StartEventWait(ReadThread& t) {
  for (;;) {
    if (StopRequested(t)) return Step::kStopped;
    if (!WaitCommEvent(t.port, &t.eventMask, &t.eventRecord)) {
      const DWORD error = GetLastError();
      if (error == ERROR_IO_PENDING) {
        TraceMsg("Waiting for a CommEvent (Error) to occur.");
        return Step::kPending;
      }
      if (error == ERROR_INVALID_HANDLE) {
        AlertBox(kInvalidHandleAlert);
      } else {
        ErrorBox(error, "Unexpected WaitCommEvent error: ");
      }
      return Failed();
    }
    AlertBox("Event (Error) waiting before WaitCommEvent.");
    if (qv::sync::IsCurrentThreadAbandoned()) return Step::kAbandoned;
    const Step handled = HandleLineEvent(t, false);
    if (handled != Step::kGoOn) return handled;
  }
}

Step Run(ReadThread& t) {
  t.readRecord.hEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  if (t.readRecord.hEvent != nullptr)
    t.eventRecord.hEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  if (t.readRecord.hEvent == nullptr || t.eventRecord.hEvent == nullptr) {
    ErrorBox(GetLastError(), "Unable to CreateEvent: ");
    return Failed();
  }
  // Only line errors are watched.
  if (!SetCommMask(t.port, EV_ERR)) {
    ErrorBox(GetLastError(), "Unable to SetCommMask: ");
    return Failed();
  }
  Step step = StartEventWait(t);
  if (step != Step::kPending) return step;
  step = StartReading(t);
  if (step != Step::kPending) return step;
  for (;;) {
    const HANDLE waitSet[3] = {t.closeEvent, t.eventRecord.hEvent, t.readRecord.hEvent};
    const DWORD result = WaitForMultipleObjects(3, waitSet, FALSE, INFINITE);
    if (qv::sync::IsCurrentThreadAbandoned()) return Step::kAbandoned;
    switch (result) {
      case WAIT_OBJECT_0: return Step::kStopped;
      case WAIT_OBJECT_0 + 1:
        // The read request stays outstanding meanwhile.
        step = HandleLineEvent(t, true);
        if (step != Step::kGoOn) return step;
        step = StartEventWait(t);
        if (step != Step::kPending) return step;
        break;
      case WAIT_OBJECT_0 + 2:
        step = CompleteRead(t);
        if (step != Step::kGoOn) return step;
        step = StartReading(t);
        if (step != Step::kPending) return step;
        break;
      case WAIT_FAILED: ErrorBox(GetLastError(), "Read WAIT_FAILED: "); return Failed();
      default: TraceFmt("Unexpected Wait return value"); return Step::kFailed;
    }
  }
}

}  // namespace

DWORD StartReadThreadProc(LPVOID parameter) {
  auto* start = static_cast<ThreadStart*>(parameter);
  WaitForSingleObject(start->started, INFINITE);
  CloseHandle(start->started);
  auto* t = new ReadThread;
  t->onCommData = std::move(start->onCommData);
  t->self = start->thread;
  t->selfId = start->threadId;
  delete start;
  t->port = CommConnection.hPort;
  t->closeEvent = CommConnection.hCloseEvent;
  t->capacity = CommConnection.ReadBufferSize;
  t->buffer = static_cast<BYTE*>(std::malloc(t->capacity));
  if (t->buffer == nullptr) t->capacity = 0;
  CommConnection.ReadBuffer = t->buffer;

  TraceMsg("StartReadThreadProc");
  const Step end = Run(*t);
  bool abandoned = end == Step::kAbandoned || qv::sync::IsCurrentThreadAbandoned();
  if (end == Step::kFailed && !abandoned) {
    ConsoleRequestClose();
    // The console may have kept the thread past the stop's limit.
    abandoned = qv::sync::IsCurrentThreadAbandoned();
  }

  if (!abandoned) {
    TraceMsg("Read thread shutting down");
    PurgeComm(t->port, PURGE_RXABORT | PURGE_RXCLEAR);
  }
  // The read and the event wait still outstanding are this thread's: they are cancelled, and the
  // records and buffer released only once the driver has let go of them.
  HANDLE events[2];
  DWORD eventCount = 0;
  if (t->readRecord.hEvent != nullptr) events[eventCount++] = t->readRecord.hEvent;
  if (t->eventRecord.hEvent != nullptr) events[eventCount++] = t->eventRecord.hEvent;
  const bool released = eventCount == 0 || CancelOwnRequests(t->port, events, eventCount);
  // Only what still shows this thread: an abandoned thread's slot may hold the next connection's.
  CommConnection.ReadBuffer.CompareExchange(t->buffer, nullptr);
  ReleaseThreadSlot(&CommConnectionRecord::hReadThread, &CommConnectionRecord::dwReadThreadId,
                    t->self, t->selfId);
  if (released) {
    for (DWORD i = 0; i < eventCount; ++i) CloseHandle(events[i]);
    std::free(t->buffer);
    delete t;
  }
  return 0;
}
