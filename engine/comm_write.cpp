// The write path: WriteComm and its front ends post requests to the write thread, which writes
// them one at a time, in posting order, with overlapped WriteFile.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "capture/capture_writer.h"
#include "capture/write_source.h"
#include "engine/comm_internal.h"
#include "platform/comm/comm_api.h"
#include "platform/sync/clock.h"
#include "platform/sync/event.h"
#include "platform/sync/kernel_object.h"
#include "platform/sync/last_error.h"
#include "platform/sync/message_queue.h"
#include "platform/sync/thread.h"

using namespace qv::engine;

namespace {

constexpr int kSourceShift = 32;
static_assert(sizeof(WPARAM) * 8 >= kSourceShift + sizeof(qv::capture::SourceId) * 8,
              "a write request's wParam holds its count and its source");

int PostWrite(qv::capture::SourceId source, BYTE* buffer, DWORD count) {
  if (CommConnection.hWriteThread == nullptr) {
    AlertBox("Write thread not created");
    return 0;
  }
  const auto wParam = static_cast<WPARAM>(count) | (static_cast<WPARAM>(source) << kSourceShift);
  const auto lParam = reinterpret_cast<LPARAM>(buffer);
  if (PostThreadMessageA(CommConnection.dwWriteThreadId, WM_COMM_WRITE, wParam, lParam)) return 1;
  Sleep(200);
  if (PostThreadMessageA(CommConnection.dwWriteThreadId, WM_COMM_WRITE, wParam, lParam)) return 1;
  AlertBox("Failed to Post to Write thread.");
  return 0;
}

qv::capture::SourceId SourceOf(const char* source) {
  return source == nullptr ? qv::capture::kNoSource : qv::capture::InternSource(source);
}

}  // namespace

int WriteComm(BYTE* buffer, DWORD count) {
  return PostWrite(qv::capture::kNoSource, buffer, count);
}

int WriteCommFrom(const char* source, BYTE* buffer, DWORD count) {
  return PostWrite(SourceOf(source), buffer, count);
}

int WriteCommBufferFrom(const char* source, const BYTE* bytes, DWORD count) {
  auto* copy = static_cast<BYTE*>(std::malloc(count == 0 ? 1 : count));
  if (copy == nullptr) return 0;
  if (count != 0) std::memcpy(copy, bytes, count);
  const int posted = WriteCommFrom(source, copy, count);
  if (!posted) std::free(copy);
  return posted;
}

int WriteCommBuffer(const BYTE* bytes, DWORD count) {
  return WriteCommBufferFrom(nullptr, bytes, count);
}

int WriteCommString(const char* text) {
  return WriteCommBuffer(reinterpret_cast<const BYTE*>(text),
                         static_cast<DWORD>(std::strlen(text)));
}

void WriteCommLine(const char* text) { WriteCommLineFrom(nullptr, text); }

void WriteCommLineFrom(const char* source, const char* text) {
  WriteCommBufferFrom(source, reinterpret_cast<const BYTE*>(text),
                      static_cast<DWORD>(std::strlen(text)));
  WriteCommBufferFrom(source, reinterpret_cast<const BYTE*>("\r\n"), 2);
}

namespace {

enum class WriteEnd {
  kGoOn,       // the request is finished (written, or dropped after a purge)
  kEndThread,  // the thread ends
  kAbandoned,  // the thread was abandoned: it touches nothing shared any more
  kInFlight,   // the thread ends, but the driver still holds the record and the buffer
};

struct WriteThread {
  HANDLE port;
  HANDLE closeEvent;
  OVERLAPPED overlapped{};
};

// After a failed or unexpected wait the request may still be pending: the driver is asked to let
// go of it first, and a record it keeps is kept with its buffer (kInFlight).
WriteEnd CancelPending(WriteThread& t, WriteEnd released) {
  return CancelOwnRequests(t.port, &t.overlapped.hEvent, 1) ? released : WriteEnd::kInFlight;
}

// Writes one request, in as many partial writes as the driver needs; each part the driver took
// goes to a running capture as it completes, under the request's source.
WriteEnd WriteRequest(WriteThread& t, const BYTE* buffer, DWORD count,
                      qv::capture::SourceId source) {
  CommConnection.WriteRequested += count;
  DWORD position = 0;
  DWORD remaining = count;
  while (remaining != 0) {
    DWORD written = 0;
    if (!WriteFile(t.port, buffer + position, remaining, &written, &t.overlapped)) {
      const DWORD error = GetLastError();
      if (error == ERROR_INVALID_HANDLE) {
        AlertBox(kInvalidHandleAlert);
        return qv::sync::IsCurrentThreadAbandoned() ? WriteEnd::kAbandoned : WriteEnd::kEndThread;
      }
      if (error != ERROR_IO_PENDING) {
        ErrorBox(error, "Error to writing to CommFile");
        AlertBox("Closing TAPI");
        if (qv::sync::IsCurrentThreadAbandoned()) return WriteEnd::kAbandoned;
        ConsoleRequestClose();
        return WriteEnd::kEndThread;
      }
      const HANDLE waitSet[2] = {t.closeEvent, t.overlapped.hEvent};
      const DWORD result = WaitForMultipleObjects(2, waitSet, FALSE, INFINITE);
      if (qv::sync::IsCurrentThreadAbandoned() || result == WAIT_OBJECT_0) {
        // Stopping while the write is pending: no alert, but the driver must let go of the
        // record and the buffer before the thread releases them.
        return CancelOwnRequests(t.port, &t.overlapped.hEvent, 1)
                   ? (qv::sync::IsCurrentThreadAbandoned() ? WriteEnd::kAbandoned
                                                           : WriteEnd::kEndThread)
                   : WriteEnd::kInFlight;
      }
      if (result == WAIT_FAILED) {
        // The wait failed, not the write: the request is cancelled before anything else, so
        // that no return below releases a record the driver still completes into.
        const DWORD error = GetLastError();
        if (qv::sync::IsCurrentThreadAbandoned()) return CancelPending(t, WriteEnd::kAbandoned);
        ErrorBox(error, "Write WAIT_FAILED: ");
        if (qv::sync::IsCurrentThreadAbandoned()) return CancelPending(t, WriteEnd::kAbandoned);
        ConsoleRequestClose();
        return CancelPending(t, WriteEnd::kEndThread);
      }
      if (result != WAIT_OBJECT_0 + 1) {
        TraceFmt("Unexpected Wait return value");
        ConsoleRequestClose();
        return CancelPending(t, WriteEnd::kEndThread);
      }
      if (!GetOverlappedResult(t.port, &t.overlapped, &written, TRUE)) {
        const DWORD failure = GetLastError();
        if (failure == ERROR_INVALID_HANDLE) {
          AlertBox(kInvalidHandleAlert);
          return qv::sync::IsCurrentThreadAbandoned() ? WriteEnd::kAbandoned : WriteEnd::kEndThread;
        }
        if (failure == ERROR_OPERATION_ABORTED) {
          // A purge dropped the rest of this request; the next one is still written.
          AlertBox("ERROR_OPERATION_ABORTED, Likely PurgeComm(TXABORT) has been used.");
          return qv::sync::IsCurrentThreadAbandoned() ? WriteEnd::kAbandoned : WriteEnd::kGoOn;
        }
        ErrorBox(failure, "Error writing to CommFile while waiting");
        AlertBox("Closing TAPI");
        if (qv::sync::IsCurrentThreadAbandoned()) return WriteEnd::kAbandoned;
        ConsoleRequestClose();
        return WriteEnd::kEndThread;
      }
    }
    if (CommConnection.LogData) {
      AppendToRecordFile(kSentRecordFile, buffer + position, written);
      // A record file may block (a full disk, a slow share): the stop may have given up on the
      // thread meanwhile, and the rest of the request is not the next connection's to write.
      if (qv::sync::IsCurrentThreadAbandoned()) return WriteEnd::kAbandoned;
    }
    if (written != 0 && qv::capture::LineCapture().Running())
      qv::capture::Record(qv::capture::Kind::kTx, qv::capture::SourceName(source),
                          buffer + position, written);
    CommConnection.WriteCompleted += written;
    position += written;
    remaining -= written;
  }
  return WriteEnd::kGoOn;
}

void FreeWriteRequests(const std::vector<MSG>& messages) {
  for (const MSG& msg : messages)
    if (msg.message == WM_COMM_WRITE) std::free(reinterpret_cast<void*>(msg.lParam));
}

}  // namespace

DWORD StartWriteThreadProc(LPVOID parameter) {
  auto* start = static_cast<ThreadStart*>(parameter);
  WaitForSingleObject(start->started, INFINITE);
  CloseHandle(start->started);
  const HANDLE self = start->thread;
  const DWORD selfId = start->threadId;
  delete start;

  // On the heap: a record that the driver does not let go of is kept beyond the thread's end.
  auto* state = new WriteThread{CommConnection.hPort, CommConnection.hCloseEvent, {}};
  WriteThread& t = *state;
  bool abandoned = false;
  bool requestInFlight = false;
  TraceMsg("StartWriteThreadProc");
  t.overlapped.hEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  if (t.overlapped.hEvent == nullptr) {
    ErrorBox(GetLastError(), "Unable to CreateEvent: ");
    abandoned = qv::sync::IsCurrentThreadAbandoned();
    if (!abandoned) ConsoleRequestClose();
  } else {
    TraceMsg("Write Thread ready");
    for (;;) {
      MSG msg;
      if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (WaitForSingleObject(t.closeEvent, 0) == WAIT_OBJECT_0) {
          // Not written; the request's bytes are the thread's to release.
          if (msg.message == WM_COMM_WRITE) std::free(reinterpret_cast<void*>(msg.lParam));
          break;
        }
        // Thread messages only: the engine's threads own no windows to dispatch to.
        if (msg.message != WM_COMM_WRITE) {
          char text[512];
          std::snprintf(text, sizeof text, "Unexpected message posted to Write thread: %ui",
                        msg.message);
          AlertBox(text);
          if ((abandoned = qv::sync::IsCurrentThreadAbandoned())) break;
          continue;
        }
        auto* buffer = reinterpret_cast<BYTE*>(msg.lParam);
        const WriteEnd end =
            WriteRequest(t, buffer, WriteRequestCount(msg.wParam), WriteRequestSource(msg.wParam));
        if (end == WriteEnd::kInFlight) {
          requestInFlight = true;  // the buffer stays with the driver's record
          break;
        }
        std::free(buffer);
        if (end == WriteEnd::kGoOn) continue;
        abandoned = end == WriteEnd::kAbandoned;
        break;
      }
      const HANDLE closeEvent = t.closeEvent;
      const DWORD result = MsgWaitForMultipleObjects(1, &closeEvent, FALSE, INFINITE, QS_ALLINPUT);
      if ((abandoned = qv::sync::IsCurrentThreadAbandoned())) break;
      if (result == WAIT_OBJECT_0) break;
      if (result == WAIT_OBJECT_0 + 1) continue;
      if (result == WAIT_FAILED) {
        ErrorBox(GetLastError(), "Write WAIT_FAILED: ");
      } else {
        TraceFmt("Unexpected Wait return value");
      }
      if ((abandoned = qv::sync::IsCurrentThreadAbandoned())) break;
      ConsoleRequestClose();
      break;
    }
  }

  abandoned = abandoned || qv::sync::IsCurrentThreadAbandoned();
  if (!abandoned) {
    TraceMsg("Write thread shutting down");
    PurgeComm(t.port, PURGE_TXABORT | PURGE_TXCLEAR);
  }
  // A record the driver still holds is kept, with its event, for the life of the process.
  if (!requestInFlight) {
    if (t.overlapped.hEvent != nullptr) CloseHandle(t.overlapped.hEvent);
    delete state;
  }
  // Only while the slot still holds this thread: an abandoned thread's may hold the next one's.
  ReleaseThreadSlot(&CommConnectionRecord::hWriteThread, &CommConnectionRecord::dwWriteThreadId,
                    self, selfId);
  // Requests posted but not written: their bytes were handed to this thread.
  FreeWriteRequests(qv::sync::TakeMessagesAndRemoveCurrentThreadQueue());
  return 0;
}
