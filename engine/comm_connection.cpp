// The port connection: start with the engine's fixed configuration and diagnostic dumps, stop
// with a bounded wait for each thread, and the read block size.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "engine/comm_internal.h"
#include "platform/comm/comm_api.h"
#include "platform/sync/event.h"
#include "platform/sync/kernel_object.h"
#include "platform/sync/last_error.h"
#include "platform/sync/thread.h"
#include "platform/ui/message_box.h"
#include "platform/ui/ui_thread.h"

CommConnectionRecord CommConnection;

namespace qv::engine {
namespace {

constexpr DWORD kCommPropBufferSize = 1164;
constexpr DWORD kThreadStopTimeout = 10000;
// A cancelled request completes at once; the bound only guards against a driver that never
// completes it, in which case its record is deliberately kept rather than released under it.
constexpr DWORD kCancelTimeout = 5000;

struct ThreadSlot {
  const char* closingTrace;
  const char* notExitingAlert;
  DWORD purgeFlags;
  ThreadHandleSlot handle;
  ThreadIdSlot id;
};

const ThreadSlot kReadThread{"Closing Read Thread", "Read thread not exiting.  Terminating it.",
                             PURGE_RXABORT | PURGE_RXCLEAR, &CommConnectionRecord::hReadThread,
                             &CommConnectionRecord::dwReadThreadId};
const ThreadSlot kWriteThread{"Closing Write Thread", "Write thread not exiting.  Terminating it.",
                              PURGE_TXABORT | PURGE_TXCLEAR, &CommConnectionRecord::hWriteThread,
                              &CommConnectionRecord::dwWriteThreadId};

// Ends one of the connection's threads: the stop event, a purge of its direction, then a wait
// that keeps serving the UI (the read thread may be handing data to the console synchronously).
// A thread still running after 10 s is abandoned and its slot cleared as a normal end would; the
// thread, when it wakes, finds the slot no longer its own and leaves it alone.
void StopThread(const ThreadSlot& slot) {
  const HANDLE thread = CommConnection.*slot.handle;
  const DWORD threadId = CommConnection.*slot.id;
  if (thread == nullptr) return;
  TraceMsg(slot.closingTrace);
  SetEvent(CommConnection.hCloseEvent);
  PurgeComm(CommConnection.hPort, slot.purgeFlags);
  // A thread that ends releases its own handle: a wait that finds the handle already closed
  // (WAIT_FAILED) means the thread has ended too.
  if (qv::ui::PumpingWait(1, &thread, kThreadStopTimeout) != WAIT_TIMEOUT) return;
  AlertBox(slot.notExitingAlert);
  TerminateThread(thread, 0);
  ReleaseThreadSlot(slot.handle, slot.id, thread, threadId);
}

// Starts one engine thread; the thread waits until its handle and id are stored.
bool CreateCommThread(LPTHREAD_START_ROUTINE proc, CommDataCallback callback, int priority,
                      const ThreadSlot& slot) {
  auto* start = new ThreadStart{CreateEventA(nullptr, TRUE, FALSE, nullptr), std::move(callback)};
  if (start->started == nullptr) {
    delete start;
    return false;
  }
  DWORD id = 0;
  const HANDLE thread = CreateThread(nullptr, 0, proc, start, 0, &id);
  if (thread == nullptr) {
    const DWORD error = GetLastError();
    CloseHandle(start->started);
    delete start;
    SetLastError(error);
    return false;
  }
  start->thread = thread;
  start->threadId = id;
  CommConnection.*slot.handle = thread;
  CommConnection.*slot.id = id;
  SetThreadPriority(thread, priority);
  SetEvent(start->started);
  return true;
}

}  // namespace

void AppendToRecordFile(const char* name, const void* bytes, DWORD count) {
  std::FILE* file = std::fopen(name, "a+b");
  if (file == nullptr) return;
  std::fwrite(bytes, 1, count, file);
  std::fclose(file);
}

void ConsoleLogText(const char* text) {
  if (ConsoleSink* console = CommConnection.console) console->LogText(text);
}

void ConsoleRequestClose() {
  if (ConsoleSink* console = CommConnection.console) console->RequestClose();
}

bool ReleaseThreadSlot(ThreadHandleSlot handleSlot, ThreadIdSlot idSlot, HANDLE thread,
                       DWORD threadId) {
  if (thread == nullptr || !(CommConnection.*handleSlot).CompareExchange(thread, nullptr))
    return false;
  (CommConnection.*idSlot).CompareExchange(threadId, 0);
  CloseHandle(thread);
  return true;
}

bool CancelOwnRequests(HANDLE port, const HANDLE* requestEvents, DWORD count) {
  CancelIo(port);
  return WaitForMultipleObjects(count, requestEvents, TRUE, kCancelTimeout) == WAIT_OBJECT_0;
}

}  // namespace qv::engine

using namespace qv::engine;

int StartComm(HANDLE port, CommDataCallback onCommData) {
  const DWORD fileType = GetFileType(port);
  if (fileType != FILE_TYPE_CHAR) {
    char question[512];
    std::snprintf(question, sizeof question,
                  "File handle has an unexpected GetFileType !\n(%d instead of FILE_TYPE_CHAR)\n"
                  "Do you still want to try to communicate over this port ?",
                  static_cast<int>(fileType));
    if (MessageBoxA(nullptr, question, "quor_vix", MB_YESNO | MB_ICONEXCLAMATION) != IDYES)
      return 0;
  }
  if (CommConnection.hPort != nullptr) {
    AlertBox("Already have a comm file open");
    return 0;
  }
  TraceMsg("Starting the Comm");
  CommConnection.OnCommData = onCommData;
  CommConnection.hPort = port;

  DCB dcb{};
  const BOOL haveDcb = GetCommState(port, &dcb);
  std::vector<BYTE> config(kCommConfigBufferSize, 0);
  DWORD configSize = kCommConfigBufferSize;
  GetCommConfig(port, reinterpret_cast<COMMCONFIG*>(config.data()), &configSize);
  ConsoleLogText(CommConfigLine(config.data(), kCommConfigBufferSize).c_str());
  if (std::memcmp(&dcb, config.data() + offsetof(COMMCONFIG, dcb), sizeof dcb) != 0)
    ConsoleLogText("DCB from GetCommState & GetCommConfig don't match!");

  std::vector<BYTE> properties(kCommPropBufferSize, 0);
  auto* prop = reinterpret_cast<COMMPROP*>(properties.data());
  prop->wPacketLength = static_cast<WORD>(kCommPropBufferSize);
  prop->dwProvSpec1 = COMMPROP_INITIALIZED;
  GetCommProperties(port, prop);
  ConsoleLogText(CommPropLine(properties.data(), kCommPropBufferSize).c_str());

  COMMTIMEOUTS timeouts{};
  GetCommTimeouts(port, &timeouts);
  timeouts = COMMTIMEOUTS{250, 0, 1000, 0, 0};
  SetCommTimeouts(port, &timeouts);
  // Only a line state that was read is written back: a failed query leaves no state to apply.
  if (haveDcb) {
    dcb.fAbortOnError = 0;
    SetCommState(port, &dcb);
  }
  SetupComm(port, CommConnection.InQueueSize, CommConnection.OutQueueSize);

  const HANDLE closeEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  CommConnection.hCloseEvent = closeEvent;
  TraceFmt("Creating Close Event %x\n",
           static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(closeEvent)));
  if (closeEvent == nullptr) {
    ErrorBox(GetLastError(), "Unable to CreateEvent: ");
    CommConnection.hPort = nullptr;
    return 0;
  }

  TraceMsg("Creating Read thread");
  if (!CreateCommThread(StartReadThreadProc, onCommData, THREAD_PRIORITY_HIGHEST, kReadThread)) {
    ErrorBox(GetLastError(), "Unable to create Read thread");
    CommConnection.dwReadThreadId = 0;
    CloseHandle(closeEvent);
    CommConnection.hCloseEvent = nullptr;
    CommConnection.hPort = nullptr;
    return 0;
  }
  TraceMsg("Creating Write thread");
  if (!CreateCommThread(StartWriteThreadProc, nullptr, THREAD_PRIORITY_ABOVE_NORMAL,
                        kWriteThread)) {
    ErrorBox(GetLastError(), "Unable to create Write thread");
    StopThread(kReadThread);
    CommConnection.dwWriteThreadId = 0;
    CloseHandle(closeEvent);
    CommConnection.hCloseEvent = nullptr;
    CommConnection.hPort = nullptr;
    return 0;
  }
  return 1;
}

void StopComm(int closeHandle) {
  if (CommConnection.hPort == nullptr) return;
  TraceMsg("Stopping the Comm");
  StopThread(kReadThread);
  StopThread(kWriteThread);
  const HANDLE closeEvent = CommConnection.hCloseEvent;
  TraceFmt("Closing Close Event %x\n",
           static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(closeEvent)));
  if (!CloseHandle(closeEvent)) AlertBox("Closing failed");
  CommConnection.hCloseEvent = nullptr;
  if (closeHandle) CloseHandle(CommConnection.hPort);
  CommConnection.hPort = nullptr;
}

void SetCommBlockSize(DWORD size) {
  // Only the sizes change here: the read thread enlarges its own buffer before its next read
  // request, so a buffer is never moved under a pending read.
  if (size > CommConnection.ReadBufferSize) CommConnection.ReadBufferSize = size;
  CommConnection.ReadBlockSize = size;
}
