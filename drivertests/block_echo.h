// The overlapped block echo test: blocks of the engine's read block size go out through the
// connection's write path and must come back unchanged through its read path, one block in
// flight ahead of the one being checked, ten blocks per cycle.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "drivertests/host.h"
#include "engine/shared_word.h"
#include "platform/types.h"
#include "resources/tests_panel_ids.h"

namespace qv::drivertests {

// What the test thread, the engine's read thread and the console's close path share. Both
// events are auto-reset, created with the record and closed with it; the console sets
// blockReceived after it closed the port.
struct BlockEchoShared {
  BlockEchoShared();
  ~BlockEchoShared();
  BlockEchoShared(const BlockEchoShared&) = delete;
  BlockEchoShared& operator=(const BlockEchoShared&) = delete;

  HANDLE blockReceived = nullptr;
  HANDLE blockAcknowledged = nullptr;
  qv::engine::SharedWord<int> overlapRunning;        // 1 while received data are compared
  qv::engine::SharedWord<const BYTE*> expectedData;  // where the next block should match
  // The run's data end and block size, fixed for the run (a size typed into the panel during a
  // run takes effect on the engine's reads, not on what the run compares against).
  const BYTE* dataEnd = nullptr;
  DWORD blockSize = 0;
  // Set by the read thread once a difference was reported: later chunks are not compared
  // against a block that no longer matches the stream, the run ends with its time-out.
  int differenceFound = 0;
  // Held while a chunk is compared, and by the test thread while it starts or ends a run, so
  // that the data are never freed under a comparison.
  std::mutex compareLock;
  // Set when the test thread no longer waits for blocks (it ended, or the port closed): a read
  // thread that found a good block then does not wait for an acknowledgement nobody will give.
  qv::engine::SharedWord<int> echoAbandoned;
};

// The test data: blocks x blockSize bytes from the named source ("Random", the program's own
// image, or a file). Empty with a reason in *error when the source cannot give that many bytes.
std::vector<BYTE> BlockEchoData(const std::string& source, std::size_t size, std::string* error);

// The test thread's body.
void RunBlockEcho(TestHost& host, BlockEchoShared& shared);

// The read thread's comparison of one received chunk (for every chunk; idle unless a run
// compares).
void CheckReceivedBlock(TestHost& host, BlockEchoShared& shared, const BYTE* data, DWORD count);

}  // namespace qv::drivertests
