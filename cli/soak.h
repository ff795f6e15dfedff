// The soak: a seeded random stress of every port operation on a loop-back, with every byte
// accounted for (cli/soak_frames.h holds the frames and the ledger).
//
// Writing threads (--threads) each draw their operations from a generator seeded with the run's
// seed and the thread's index: overlapped and blocking writes of 1 byte to 64 KiB, WaitCommEvent
// with a random mask, PurgeComm with any flag combination, a write cancelled with CancelIo,
// EscapeCommFunction (RTS, DTR, a break), SetCommState with another rate or framing,
// ClearCommError, GetCommModemStatus, and now and then a close and reopen. One reader thread owns
// the receive side: reads with random COMMTIMEOUTS, every byte into the ledger.
//
// The operations that drop bytes in flight (a purge that clears or aborts, a close) take the
// line's gate alone, so that the ledger can mark exactly what was in flight then; the others
// share it while they call the driver, never while they wait for a request to end.
//
// Every operation has a bound (from its timeouts, its size and the line's slowest rate, plus a
// margin). The main thread watches them: one not returned by its bound is a hang, reported with
// its thread, operation, arguments and the seed; the run ends at once, closes the port to end
// pending requests and leaves a thread stuck in the driver behind.
#pragma once

#include <string>

#include "cli/cli_host.h"
#include "cli/test_result.h"

namespace qv::cli {

inline constexpr const char* kSoakTest = "soak";
inline constexpr int kSoakMaxThreads = 16;

// UI thread. Runs the soak on the host's port with the host's soak settings.
void RunSoak(CliHost& host, TestResult& result);

}  // namespace qv::cli
