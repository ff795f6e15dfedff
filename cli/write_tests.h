// The write-then-interrupt tests as the runner judges them. The panel only checks that the
// writes are pending and leaves the rest to the user's eye; here nobody watches, so the runner
// holds the output itself (CTS output flow control with RTS cleared, where the port's CTS
// follows its RTS), runs the interrupting step, releases the line and judges how each write
// ended against what a Windows serial driver does:
//
//   write-txabort, write-cancel  the held writes end with 995 and none of their bytes reaches
//                                the far end after the release;
//   write-txclear                the write requests keep their bytes and complete after the
//                                release (only what the driver had buffered is dropped);
//   write-close                  the writes end (995 or another error), the port closes;
//   write-baud                   the writes go on, and the port reads 2400 bps after;
//   write-flush                  the flush returns only when the far end has all the bytes.
//
// A write that had completed before the interrupting step fails the test ("nothing was pending
// at the interrupting step"): its verdict would say nothing about the driver. The far end is a
// loop-back: what comes back is what the far end got.
#pragma once

#include <string>

#include "cli/cli_host.h"
#include "cli/test_result.h"

namespace qv::cli {

bool IsWriteTest(const std::string& name);

// UI thread. Runs the write test of that name on a fresh connection and judges it.
void RunWriteTest(CliHost& host, const std::string& name, TestResult& result);

}  // namespace qv::cli
