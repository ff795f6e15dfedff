#include "drivertests/write_interrupt.h"

#include <cstdio>
#include <cstring>
#include <thread>

#include "drivertests/port_handle.h"
#include "engine/comm.h"
#include "platform/comm/comm_api.h"
#include "platform/sync/event.h"
#include "platform/sync/kernel_object.h"
#include "platform/sync/last_error.h"
#include "platform/ui/ui_thread.h"
#include "support/reporting/checked_call.h"

namespace qv::drivertests {
namespace {

constexpr const char* kSourceModule = "ToolTests";

void PutLe(std::vector<BYTE>& out, std::size_t at, std::uint32_t value, int width) {
  for (int i = 0; i < width; ++i) out[at + i] = static_cast<BYTE>(value >> (8 * i));
}

std::vector<BYTE> CountingLine(char first, int period) {
  std::vector<BYTE> line(128);
  line[0] = 'A';
  line[1] = 'T';
  for (int i = 2; i <= 126; ++i) line[i] = static_cast<BYTE>(first + (i - 2) % period);
  line[127] = '@';
  return line;
}

// The tests' sleeps keep serving the requests of other threads (a worker's box, the engine).
void PumpingSleep(DWORD milliseconds) { qv::ui::PumpingWait(0, nullptr, milliseconds); }

// Records of writes that were still pending when the tests ended: the driver may still complete
// them into their records, so they stay until the process ends.
std::vector<std::unique_ptr<WriteInterruptTests::Write>>& Orphans() {
  static auto* orphans = new std::vector<std::unique_ptr<WriteInterruptTests::Write>>;
  return *orphans;
}

}  // namespace

struct WriteInterruptTests::Write {
  OVERLAPPED ov{};
  HANDLE event = nullptr;
  std::vector<BYTE> data;

  // Whether the driver is done with the write; its result then.
  bool Completed(DWORD* error = nullptr, DWORD* transferred = nullptr) {
    DWORD count = 0;
    const DWORD saved = GetLastError();
    const BOOL ok = GetOverlappedResult(nullptr, &ov, &count, FALSE);
    const DWORD code = ok ? ERROR_SUCCESS : GetLastError();
    SetLastError(saved);
    if (code == ERROR_IO_INCOMPLETE) return false;
    if (error != nullptr) *error = code;
    if (transferred != nullptr) *transferred = count;
    return true;
  }
};

std::vector<BYTE> LongBlock() {
  static constexpr char kKeypad[] = "AT+CKPD=\"123\"\r";
  std::vector<BYTE> block(4096, 0x63);
  std::memcpy(block.data() + 4096 - (sizeof kKeypad - 1), kKeypad, sizeof kKeypad - 1);
  return block;
}

std::vector<BYTE> DigitLine() { return CountingLine('0', 10); }
std::vector<BYTE> LetterLine() { return CountingLine('A', 26); }

std::string ObjectUploadCommand(DWORD baudRate) {
  const DWORD n = baudRate / 2;
  char text[64];
  std::snprintf(text, sizeof text, "AT+KPSW=\"WAV\",%d\r", static_cast<int>(n + 32));
  return text;
}

std::vector<BYTE> ObjectUpload(DWORD baudRate) {
  const DWORD n = baudRate / 2;
  std::vector<BYTE> object(std::size_t{n} + 32, 0);
  PutLe(object, 0, n + 28, 4);  // everything after this field
  PutLe(object, 4, 0x00010001, 4);
  PutLe(object, 12, 8, 4);     // the name's byte length
  const char name[] = "Test";  // UTF-16LE, no terminator
  for (int i = 0; i < 4; ++i) object[16 + 2 * i] = static_cast<BYTE>(name[i]);
  PutLe(object, 24, 1, 2);  // object format 1 (WAV)
  PutLe(object, 26, 1, 2);
  PutLe(object, 28, n, 4);  // the content's length
  std::memset(object.data() + 32, 0x63, n);
  return object;
}

WriteInterruptTests::WriteInterruptTests(TestHost& host) : host_(host) {}

WriteInterruptTests::~WriteInterruptTests() {
  ReleaseCompleted();
  for (auto& w : writes_) Orphans().push_back(std::move(w));
  writes_.clear();
}

std::size_t WriteInterruptTests::PendingWrites() {
  ReleaseCompleted();
  return writes_.size();
}

void WriteInterruptTests::StartPendingWrite(std::vector<BYTE> data) {
  auto w = std::make_unique<Write>();
  w->data = std::move(data);
  w->event = qv::support::CheckLastError(kSourceModule,
                                         [] { return CreateEventA(nullptr, TRUE, TRUE, nullptr); });
  w->ov.hEvent = w->event;
  const DWORD size = static_cast<DWORD>(w->data.size());
  for (;;) {
    DWORD written = 0;
    if (WriteFile(hPort, w->data.data(), size, &written, &w->ov)) {
      // Done at once: the test cannot interrupt it. Reported like a failure; Retry writes again.
      SetLastError(ERROR_SUCCESS);
      if (RetryOnLastError(kSourceModule, __LINE__)) continue;
      break;
    }
    if (GetLastError() == ERROR_IO_PENDING) break;
    if (!RetryOnLastError(kSourceModule, __LINE__)) break;
  }
  writes_.push_back(std::move(w));
}

void WriteInterruptTests::ReleaseCompleted() {
  std::erase_if(writes_, [this](const std::unique_ptr<Write>& w) {
    Ended ended;
    ended.size = static_cast<DWORD>(w->data.size());
    if (!w->Completed(&ended.error, &ended.transferred)) return false;
    ended_.push_back(ended);
    if (ended_.size() > 16) ended_.erase(ended_.begin());
    if (w->event != nullptr) {
      const HANDLE event = w->event;
      qv::support::CheckLastError(kSourceModule, [event] { return CloseHandle(event); });
    }
    return true;
  });
}

void WriteInterruptTests::CloseHandleTest() {
  ReleaseCompleted();
  // The connection's threads end; the handle stays open for the test's write.
  StopComm(0);
  PumpingSleep(500);
  StartPendingWrite(LongBlock());
  // The console's close path closes hPort under the pending write.
  host_.ConsoleOpenClose();
  ReleaseCompleted();
}

void WriteInterruptTests::BaudrateChangeTest() {
  ReleaseCompleted();
  StartPendingWrite(LongBlock());
  PumpingSleep(200);
  // The console applies the speed to the open port, under the pending write.
  host_.ConsoleSelectSpeed("2400");
  ReleaseCompleted();
}

void WriteInterruptTests::FlushTest() {
  ReleaseCompleted();
  host_.SetWaitCursor(true);
  host_.EnableItem(IDC_WRITE_FLUSH, false);
  DCB dcb{};
  qv::support::CheckLastError(kSourceModule, [&] { return GetCommState(hPort, &dcb); });
  const std::string command = ObjectUploadCommand(dcb.BaudRate);
  WriteCommBufferFrom("write-flush", reinterpret_cast<const BYTE*>(command.data()),
                      DWORD(command.size()));
  PumpingSleep(500);
  StartPendingWrite(ObjectUpload(dcb.BaudRate));

  // The flush waits until the driver has sent everything. It runs on a thread of its own while
  // this thread keeps serving other threads' requests, so a worker or the engine that needs the
  // UI meanwhile is not stuck; the panel itself gets no input until the flush returns.
  qv::support::CheckLastError(kSourceModule, [] {
    const HANDLE port = hPort;
    const HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    BOOL ok = FALSE;
    DWORD error = ERROR_SUCCESS;
    std::thread flusher([&] {
      ok = FlushFileBuffers(port);
      error = GetLastError();
      SetEvent(done);
    });
    qv::ui::PumpingWait(1, &done, INFINITE);
    flusher.join();
    CloseHandle(done);
    SetLastError(error);
    return ok;
  });

  ReleaseCompleted();
  host_.EnableItem(IDC_WRITE_FLUSH, true);
  host_.SetWaitCursor(false);
}

void WriteInterruptTests::TwoLinesThen(DWORD purgeFlags, bool cancel) {
  ReleaseCompleted();
  StartPendingWrite(DigitLine());
  PumpingSleep(100);
  StartPendingWrite(LetterLine());
  PumpingSleep(100);
  // Results not checked: what the driver does is the finding.
  if (cancel) {
    CancelIo(hPort);
  } else {
    PurgeComm(hPort, purgeFlags);
  }
  ReleaseCompleted();
}

void WriteInterruptTests::PurgeAbortTest() { TwoLinesThen(PURGE_TXABORT, false); }
void WriteInterruptTests::PurgeClearTest() { TwoLinesThen(PURGE_TXCLEAR, false); }
void WriteInterruptTests::CancelTest() { TwoLinesThen(0, true); }

}  // namespace qv::drivertests
