#include "drivertests/block_echo.h"

#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <new>
#include <sstream>

#include "drivertests/port_handle.h"
#include "engine/comm.h"
#include "platform/comm/comm_api.h"
#include "platform/sync/clock.h"
#include "platform/sync/event.h"
#include "platform/sync/kernel_object.h"
#include "support/reporting/checked_call.h"

namespace qv::drivertests {
namespace {

constexpr const char* kSourceModule = "ToolTests";
constexpr int kBlocksPerCycle = 10;
constexpr DWORD kBlockWait = 10000;  // per block, whatever the size or speed
constexpr DWORD kSettleTime = 1500;  // for the read pending under the old timeouts to end
constexpr DWORD kAckSlice = 20;      // the read thread's look at whether anyone still waits
constexpr const char* kImageSource = "quor_vix.exe";
constexpr const char* kRandomSource = "Random";

std::string Format(const char* format, auto... values) {
  char text[512];
  std::snprintf(text, sizeof text, format, values...);
  return text;
}

void SleepUnlessEnding(TestHost& host, DWORD milliseconds) {
  const DWORD start = GetTickCount();
  for (;;) {
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= milliseconds || host.Ending()) return;
    Sleep(std::min<DWORD>(100, milliseconds - elapsed));
  }
}

// Random bytes from the last down to the first, each the low eight bits of (r * 256) / 32767.
// The product is taken in 64 bits: this C library's rand() goes far beyond 32767.
void FillRandom(std::vector<BYTE>& data) {
  std::srand(unsigned(std::time(nullptr)));
  for (std::size_t i = data.size(); i-- > 0;) {
    const long long r = std::rand();
    data[i] = BYTE((r * 256) / 32767);
  }
}

// The program's image as loaded: the mappings of its executable from the one that holds the
// file's first byte on, as long as they follow each other and can be read.
std::size_t CopyOwnImage(std::vector<BYTE>& data) {
  char exe[4096];
  const ssize_t length = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (length <= 0) return 0;
  exe[length] = '\0';
  std::ifstream maps("/proc/self/maps");
  std::string line;
  std::uintptr_t next = 0;
  std::size_t copied = 0;
  while (copied < data.size() && std::getline(maps, line)) {
    std::istringstream fields(line);
    std::string range, perms, offset, device, inode, path;
    fields >> range >> perms >> offset >> device >> inode;
    std::getline(fields >> std::ws, path);
    const auto dash = range.find('-');
    const std::uintptr_t from = std::stoull(range.substr(0, dash), nullptr, 16);
    const std::uintptr_t to = std::stoull(range.substr(dash + 1), nullptr, 16);
    if (next == 0) {
      if (path != exe || std::stoull(offset, nullptr, 16) != 0) continue;  // before the image
    } else if (from != next || path != exe) {
      break;  // the image's readable run ends
    }
    if (perms.empty() || perms[0] != 'r') break;
    const std::size_t take = std::min<std::size_t>(to - from, data.size() - copied);
    std::memcpy(data.data() + copied, reinterpret_cast<const void*>(from), take);
    copied += take;
    next = to;
  }
  return copied;
}

enum class Outcome { kSuccess, kTimeout, kClosed, kFailed };

// The waits of the loop: a block, or the close of the port.
Outcome WaitForBlock(TestHost& host, BlockEchoShared& shared, bool* ok) {
  const DWORD waited = WaitForSingleObject(shared.blockReceived, kBlockWait);
  *ok = false;
  if (host.Ending()) return Outcome::kClosed;
  if (waited == WAIT_TIMEOUT) return Outcome::kTimeout;
  if (waited != WAIT_OBJECT_0) return Outcome::kFailed;
  if (hPort == INVALID_HANDLE_VALUE) return Outcome::kClosed;
  *ok = true;
  return Outcome::kSuccess;
}

Outcome BlockLoop(TestHost& host, BlockEchoShared& shared, const BYTE* data, DWORD block) {
  ResetEvent(shared.blockReceived);
  ResetEvent(shared.blockAcknowledged);
  // No read or write timeouts: each read completes with one whole block.
  const HANDLE port = hPort;
  COMMTIMEOUTS timeouts{};
  qv::support::CheckLastError(kSourceModule, [&] { return GetCommTimeouts(port, &timeouts); });
  timeouts = COMMTIMEOUTS{0, 0, 0, 0, 0};
  qv::support::CheckLastError(kSourceModule, [&] { return SetCommTimeouts(port, &timeouts); });
  SleepUnlessEnding(host, kSettleTime);

  int counter = 0;  // through all cycles
  for (;;) {
    shared.expectedData = data;
    WriteCommBufferFrom("echo", data, block);
    // One block ahead: block k goes out before block k - 1 is awaited.
    for (int k = 1; k <= kBlocksPerCycle; ++k) {
      ++counter;
      host.SetItemText(IDC_BLOCKNUMBER, std::to_string(counter));
      if (k < kBlocksPerCycle) WriteCommBufferFrom("echo", data + std::size_t(k) * block, block);
      bool ok = false;
      const Outcome waited = WaitForBlock(host, shared, &ok);
      if (!ok) return waited;
      SetEvent(shared.blockAcknowledged);
    }
    if (!host.IsChecked(IDC_LOOPTESTS)) return Outcome::kSuccess;
  }
}

}  // namespace

BlockEchoShared::BlockEchoShared()
    : blockReceived(CreateEventA(nullptr, FALSE, FALSE, nullptr)),
      blockAcknowledged(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}

BlockEchoShared::~BlockEchoShared() {
  if (blockReceived) CloseHandle(blockReceived);
  if (blockAcknowledged) CloseHandle(blockAcknowledged);
}

std::vector<BYTE> BlockEchoData(const std::string& source, std::size_t size, std::string* error) {
  std::vector<BYTE> data;
  try {
    data.resize(size);
  } catch (const std::bad_alloc&) {
    *error = Format(
        "Not enough memory for the test data (%zu bytes).\nChoose a smaller block size.", size);
    return {};
  }
  std::size_t got = size;
  if (source == kRandomSource) {
    FillRandom(data);
  } else if (source == kImageSource) {
    got = CopyOwnImage(data);
  } else {
    FILE* file = std::fopen(source.c_str(), "rb");
    if (file == nullptr) {
      *error = Format(
          "Cannot open the data file \"%s\": %s.\nType \"Random\", \"quor_vix.exe\" "
          "or the name of a file of at least %zu bytes.",
          source.c_str(), std::strerror(errno), size);
      return {};
    }
    got = std::fread(data.data(), 1, size, file);
    std::fclose(file);
  }
  if (got < size) {
    // The test sends only what the source holds: a shorter source is refused, not padded.
    *error = Format(
        "\"%s\" gives %zu bytes, the test needs %zu (10 blocks).\nChoose a smaller "
        "block size or a longer source.",
        source.c_str(), got, size);
    return {};
  }
  return data;
}

void RunBlockEcho(TestHost& host, BlockEchoShared& shared) {
  // A recorded run holds only its own data.
  std::remove("data_sent.log");
  std::remove("data_recv.log");
  host.EnableItem(IDC_RUN_OVERLAP, false);
  const std::string source = host.ItemText(IDC_OVERLAP_FROM);
  const DWORD block = CommConnection.ReadBlockSize;
  std::string error;
  std::vector<BYTE> data = BlockEchoData(source, std::size_t(block) * kBlocksPerCycle, &error);
  if (data.empty()) {
    host.ShowBox(error, kAppTitle, MB_OK | MB_ICONEXCLAMATION);
    host.EnableItem(IDC_RUN_OVERLAP, true);
    return;
  }

  {
    std::lock_guard<std::mutex> hold(shared.compareLock);
    shared.blockSize = block;
    shared.expectedData = data.data();
    shared.dataEnd = data.data() + data.size();
    shared.differenceFound = 0;
    shared.echoAbandoned = 0;
    shared.overlapRunning = 1;
  }
  const Outcome outcome = BlockLoop(host, shared, data.data(), block);
  {
    // From here on nothing waits for blocks: the read thread is not held for one, and the data
    // go only once no comparison uses them.
    std::lock_guard<std::mutex> hold(shared.compareLock);
    shared.overlapRunning = 0;
    shared.echoAbandoned = 1;
    shared.expectedData = nullptr;
    shared.dataEnd = nullptr;
  }
  if (outcome == Outcome::kSuccess) host.Verdict("Success !");
  if (outcome == Outcome::kTimeout) host.Verdict("Timeout !");
  data = {};

  // The engine's normal timeouts again, and the read that waits for a whole block ends. A port
  // closed during the run has nothing left to restore (the next open sets the timeouts).
  const HANDLE port = hPort;
  if (port != INVALID_HANDLE_VALUE && !host.Ending()) {
    COMMTIMEOUTS timeouts{};
    qv::support::CheckLastError(kSourceModule, [&] { return GetCommTimeouts(port, &timeouts); });
    timeouts = COMMTIMEOUTS{250, 0, 1000, 0, 0};
    qv::support::CheckLastError(kSourceModule, [&] { return SetCommTimeouts(port, &timeouts); });
    PurgeComm(port, PURGE_RXABORT);
  }
  host.SetItemText(IDC_BLOCKNUMBER, "");
  host.EnableItem(IDC_RUN_OVERLAP, true);
}

void CheckReceivedBlock(TestHost& host, BlockEchoShared& shared, const BYTE* data, DWORD count) {
  if (shared.overlapRunning == 0) return;
  DWORD block = 0;
  {
    std::lock_guard<std::mutex> hold(shared.compareLock);
    if (shared.overlapRunning == 0 || shared.differenceFound) return;
    block = shared.blockSize;
  }
  if (count != block)
    host.Verdict(Format("Received block is %d bytes long instead of %d !", int(count), int(block)));

  long difference = -1;
  {
    std::lock_guard<std::mutex> hold(shared.compareLock);
    if (shared.overlapRunning == 0 || shared.differenceFound) return;
    const BYTE* expected = shared.expectedData;
    const std::size_t available = std::size_t(shared.dataEnd - expected);
    const std::size_t compared = std::min<std::size_t>(count, available);
    const auto mismatch = std::mismatch(data, data + compared, expected);
    if (mismatch.first != data + compared) {
      difference = long(mismatch.first - data);
    } else if (count > available) {
      difference = long(available);  // more came back than was sent
    }
    if (difference >= 0) {
      shared.differenceFound = 1;
    } else {
      shared.expectedData = expected + std::min<std::size_t>(block, available);
    }
  }
  if (difference >= 0) {
    // No signal: the test thread ends with its time-out.
    host.Verdict(Format("Difference found in block at offset %d !", int(difference)));
    return;
  }
  SetEvent(shared.blockReceived);
  // The test thread takes note before reading goes on, unless it no longer waits for blocks.
  while (WaitForSingleObject(shared.blockAcknowledged, kAckSlice) != WAIT_OBJECT_0) {
    if (shared.echoAbandoned || shared.overlapRunning == 0) return;
  }
}

}  // namespace qv::drivertests
