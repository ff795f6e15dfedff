// The serial port engine: one process-wide port connection with a read thread and a write thread.
//
// The console opens the port (overlapped) and hands the handle to StartComm with its receive
// callback. Everything sent goes through the write thread in posting order; everything received
// is handed to the callback on the read thread. "data_sent.log" and "data_recv.log" in the
// current directory record the bytes while LogData is set.
#pragma once

#include <cstdint>
#include <functional>

#include "engine/console_sink.h"
#include "engine/shared_word.h"
#include "platform/types.h"

// The receive callback: (bytes, count) -> nonzero to go on reading, 0 to end with a close request.
using CommDataCallback = std::function<int(const BYTE* data, DWORD count)>;

// The thread message that carries a write request: wParam the byte count in its low 32 bits and
// the writer's capture source (qv::capture::SourceId) above them, lParam malloc'ed bytes.
constexpr UINT WM_COMM_WRITE = WM_USER + 1;
inline constexpr DWORD WriteRequestCount(WPARAM wParam) { return DWORD(wParam & 0xFFFFFFFFu); }
inline constexpr std::uint32_t WriteRequestSource(WPARAM wParam) {
  return std::uint32_t(wParam >> 32);
}

// The connection record. Zero at program start; not created by callers.
struct CommConnectionRecord {
  template <class T>
  using Word = qv::engine::SharedWord<T>;

  // The engine's copy of the handle; null = no connection. Unlike the console's hPort, which
  // holds what CreateFileA returned and so reads INVALID_HANDLE_VALUE when closed, this copy is
  // part of a record that is zero at program start, and null again once a connection ends: "no
  // connection" is its zero value, and a connection never runs on an invalid handle.
  Word<HANDLE> hPort;
  Word<HANDLE> hCloseEvent;  // manual reset; set = both threads end
  Word<HANDLE> hReadThread;  // null while the read thread does not run
  Word<DWORD> dwReadThreadId;
  Word<HANDLE> hWriteThread;         // null while the write thread does not run
  Word<DWORD> dwWriteThreadId;       // target of WriteComm's posts
  CommDataCallback OnCommData;       // as given to StartComm (the UI thread's copy)
  Word<BYTE*> ReadBuffer;            // the read thread's buffer while it runs
  Word<DWORD> ReadBlockSize{4096};   // bytes asked for by each read request
  Word<DWORD> ReadBufferSize{4096};  // the read buffer's size; never below ReadBlockSize
  Word<DWORD> InQueueSize{4096};
  Word<DWORD> OutQueueSize{4096};
  Word<int> LogData;           // nonzero: append sent/received bytes to the record files
  Word<DWORD> WriteRequested;  // bytes handed to the write thread
  Word<DWORD> WriteCompleted;  // bytes reported written
  Word<ConsoleSink*> console;  // registered by the console when its window is initialised
};

extern CommConnectionRecord CommConnection;

// 1 when the connection runs, 0 when it did not start (the caller still owns its handle).
int StartComm(HANDLE port, CommDataCallback onCommData);
// Ends both threads and the stop event; closes the handle only when closeHandle is nonzero.
void StopComm(int closeHandle);
// Bytes per read request; a larger size enlarges the read buffer (before the next request).
void SetCommBlockSize(DWORD size);
// The largest block size the program takes from a user or its settings: the echo test holds ten
// blocks at once, and a stored size must fit the settings' signed integer.
inline constexpr DWORD kMaxBlockSize = 16 * 1024 * 1024;

// 1 when the request was posted (the write thread owns buffer from then on), 0 when not.
int WriteComm(BYTE* buffer, DWORD count);
// Copies the bytes first; the copy is freed when WriteComm fails.
int WriteCommBuffer(const BYTE* bytes, DWORD count);
int WriteCommString(const char* text);
// The text, then CR LF as a second request.
void WriteCommLine(const char* text);
// The same, naming who writes ("line", "char", "file", "object", a driver test's name): a
// capture shows the name beside the bytes written.
int WriteCommFrom(const char* source, BYTE* buffer, DWORD count);
int WriteCommBufferFrom(const char* source, const BYTE* bytes, DWORD count);
void WriteCommLineFrom(const char* source, const char* text);

DWORD StartReadThreadProc(LPVOID parameter);
DWORD StartWriteThreadProc(LPVOID parameter);

// Trace lines with the "%.4d " tick-count prefix, and the engine's alert boxes.
void TraceMsg(const char* text);
void TraceFmt(const char* format, ...) __attribute__((format(printf, 1, 2)));
void AlertBox(const char* text);
// "%s (err %d)" from text and code.
void ErrorBox(DWORD code, const char* text);
