// The behaviour every port must show, whatever its line: the virtual loop-back plug, a
// pseudo-terminal pair with the test as the far end, a pseudo-terminal behind socat, and a
// pseudo-terminal behind a serial driver's kernel queue and CTS.
#include <cstring>
#include <memory>
#include <string>

#include "tests/platform/comm/far_ends.h"

namespace qv::comm::testing {
namespace {

enum class Kind { kLoopback, kPty, kSocat, kFakeTty };

std::string KindName(const ::testing::TestParamInfo<Kind>& info) {
  switch (info.param) {
    case Kind::kLoopback: return "vloop0";
    case Kind::kPty: return "PtyPair";
    case Kind::kSocat: return "Socat";
    case Kind::kFakeTty: return "SerialTty";
  }
  return "?";
}

class Conformance : public ::testing::TestWithParam<Kind> {
 protected:
  void SetUp() override {
    switch (GetParam()) {
      case Kind::kLoopback: far_ = std::make_unique<LoopbackFarEnd>(); break;
      case Kind::kPty: far_ = std::make_unique<PtyFarEnd>(); break;
      case Kind::kSocat: far_ = std::make_unique<SocatFarEnd>(); break;
      case Kind::kFakeTty: far_ = std::make_unique<FakeTtyFarEnd>(); break;
    }
    std::string why;
    if (!far_->Ready(&why)) GTEST_SKIP() << why;
  }
  void TearDown() override {
    if (port_ != INVALID_HANDLE_VALUE) CloseHandle(port_);
  }

  HANDLE Open(bool overlapped, DWORD baud = 115200) {
    port_ = CreateFileA(far_->PortName().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                        OPEN_EXISTING, overlapped ? FILE_FLAG_OVERLAPPED : 0, nullptr);
    EXPECT_NE(port_, INVALID_HANDLE_VALUE) << "error " << GetLastError();
    DCB dcb;
    EXPECT_TRUE(GetCommState(port_, &dcb));
    dcb.BaudRate = baud;
    EXPECT_TRUE(SetCommState(port_, &dcb));
    return port_;
  }

  void SetTimeouts(DWORD interval, DWORD mult, DWORD constant, DWORD wmult, DWORD wconst) {
    COMMTIMEOUTS t{interval, mult, constant, wmult, wconst};
    ASSERT_TRUE(SetCommTimeouts(port_, &t));
  }

  // Reads exactly n echoed bytes on an overlapped handle (bounded).
  std::string ReadEcho(std::size_t n) {
    SetTimeouts(0, 0, 3000, 0, 0);
    std::string buffer(n, '\0');
    Overlapped& r = records_.New();
    DWORD got = 0;
    if (!ReadFile(port_, buffer.data(), static_cast<DWORD>(n), &got, &r.ov)) {
      EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
      EXPECT_TRUE(r.Signalled(5000));
      EXPECT_TRUE(GetOverlappedResult(port_, &r.ov, &got, FALSE));
    }
    buffer.resize(got);
    return buffer;
  }

  std::unique_ptr<FarEnd> far_;
  HANDLE port_ = INVALID_HANDLE_VALUE;
  Records records_;
};

// The seven COMMTIMEOUTS combinations on a blocking handle: a read with nothing to read returns
// at once or after its own timeout, and the echo of one character arrives.
TEST_P(Conformance, SevenTimeoutCombinationsOnBlockingHandle) {
  struct Row {
    COMMTIMEOUTS t;
    bool emptyReadReturns;
    double expectSeconds;  // how long that read takes
  };
  const Row rows[] = {
      {{250, 0, 1000, 0, 0}, true, 1.0},
      {{250, 0, 0, 0, 0}, false, 0},
      {{0, 0, 0, 0, 0}, false, 0},
      {{MAXDWORD, MAXDWORD, 200, MAXDWORD, 200}, true, 0.2},
      {{0, 0, 1000, 0, 0}, true, 1.0},
      {{MAXDWORD, 0, 0, 0, 0}, true, 0.0},
      {{MAXDWORD, 0, 1000, 0, 1000}, true, 1.0},
  };
  HANDLE h = Open(false);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  char send = 'A';
  for (int phase = 1; phase <= 7; ++phase) {
    SCOPED_TRACE("phase " + std::to_string(phase));
    const Row& row = rows[phase - 1];
    COMMTIMEOUTS t = row.t;
    ASSERT_TRUE(SetCommTimeouts(h, &t));
    char c = 0;
    DWORD n = 0;
    if (row.emptyReadReturns) {
      const auto start = SteadyClock::now();
      ASSERT_TRUE(ReadFile(h, &c, 1, &n, nullptr));
      const double took = SecondsSince(start);
      EXPECT_EQ(n, 0u);
      EXPECT_GE(took, row.expectSeconds * 0.9);
      EXPECT_LT(took, row.expectSeconds + 0.7);
    }
    ++send;
    ASSERT_TRUE(WriteFile(h, &send, 1, &n, nullptr));
    EXPECT_EQ(n, 1u);
    // The return-at-once rows find the echo only after it had time to come back.
    if (t.ReadTotalTimeoutConstant == 0 &&
        (t.ReadIntervalTimeout == MAXDWORD || t.ReadTotalTimeoutMultiplier == MAXDWORD)) {
      std::this_thread::sleep_for(Ms(200));
    }
    ASSERT_TRUE(ReadFile(h, &c, 1, &n, nullptr));
    ASSERT_EQ(n, 1u);
    EXPECT_EQ(c, send);
  }
}

TEST_P(Conformance, OverlappedReadAndWriteCompleteThroughTheirEvents) {
  HANDLE h = Open(true);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  SetTimeouts(0, 0, 0, 0, 0);
  Overlapped& r = records_.New();
  Overlapped& w = records_.New();
  char buffer[8] = {};
  DWORD n = 99;
  EXPECT_FALSE(ReadFile(h, buffer, 5, &n, &r.ov));
  EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
  EXPECT_FALSE(r.Signalled(0));
  EXPECT_FALSE(GetOverlappedResult(h, &r.ov, &n, FALSE));
  EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);

  if (!WriteFile(h, "hello", 5, &n, &w.ov)) {
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  }
  ASSERT_TRUE(w.Signalled(3000));
  ASSERT_TRUE(GetOverlappedResult(h, &w.ov, &n, FALSE));
  EXPECT_EQ(n, 5u);

  ASSERT_TRUE(r.Signalled(3000));
  ASSERT_TRUE(GetOverlappedResult(h, &r.ov, &n, FALSE));
  EXPECT_EQ(std::string(buffer, n), "hello");
}

TEST_P(Conformance, PurgeTxAbortEndsHeldWriteAndNextWriteGoesOut) {
  HANDLE h = Open(true);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  far_->Hold(h);
  Overlapped& held = records_.New();
  DWORD n = 0;
  ASSERT_FALSE(WriteFile(h, "first", 5, &n, &held.ov));
  ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  EXPECT_FALSE(held.Signalled(200));

  COMSTAT status{};
  DWORD errors = 0;
  ASSERT_TRUE(ClearCommError(h, &errors, &status));
  EXPECT_GE(status.cbOutQue, 5u);

  ASSERT_TRUE(PurgeComm(h, PURGE_TXABORT));
  ASSERT_TRUE(held.Signalled(2000));
  EXPECT_FALSE(GetOverlappedResult(h, &held.ov, &n, FALSE));
  EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);

  far_->Release(h);
  Overlapped& next = records_.New();
  if (!WriteFile(h, "second", 6, &n, &next.ov)) {
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  }
  ASSERT_TRUE(next.Signalled(3000));
  ASSERT_TRUE(GetOverlappedResult(h, &next.ov, &n, FALSE));
  EXPECT_EQ(n, 6u);
  EXPECT_EQ(ReadEcho(6), "second");
}

// CancelIo ends only the requests of the thread that calls it.
TEST_P(Conformance, CancelIoCancelsOnlyTheCallingThreadsRequests) {
  HANDLE h = Open(true);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  SetTimeouts(0, 0, 0, 0, 0);
  Overlapped& theirs = records_.New();
  Overlapped& mine = records_.New();
  char theirBuffer[4] = {}, myBuffer[4] = {};
  std::atomic<int> stage{0};
  std::thread other([&] {
    DWORD n = 0;
    if (!ReadFile(h, theirBuffer, 1, &n, &theirs.ov) && GetLastError() == ERROR_IO_PENDING) {
      stage = 1;
    } else {
      stage = -1;
    }
    WaitUntil([&] { return stage.load() == 2; }, Ms(10000));  // stays alive meanwhile
  });
  ASSERT_TRUE(WaitUntil([&] { return stage.load() != 0; }));
  ASSERT_EQ(stage.load(), 1);

  DWORD n = 0;
  ASSERT_FALSE(ReadFile(h, myBuffer, 1, &n, &mine.ov));
  ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  ASSERT_TRUE(CancelIo(h));
  ASSERT_TRUE(mine.Signalled(1000));
  EXPECT_FALSE(GetOverlappedResult(h, &mine.ov, &n, FALSE));
  EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
  EXPECT_FALSE(GetOverlappedResult(h, &theirs.ov, &n, FALSE));
  EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);

  Overlapped& w = records_.New();
  if (!WriteFile(h, "x", 1, &n, &w.ov)) {
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  }
  ASSERT_TRUE(theirs.Signalled(3000));
  EXPECT_TRUE(GetOverlappedResult(h, &theirs.ov, &n, FALSE));
  EXPECT_EQ(std::string(theirBuffer, n), "x");
  stage = 2;
  other.join();
}

TEST_P(Conformance, CloseCompletesPendingRequestsThenTheHandleIsGone) {
  HANDLE h = Open(true);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  SetTimeouts(0, 0, 0, 0, 0);
  far_->Hold(h);
  Overlapped& r = records_.New();
  Overlapped& w = records_.New();
  char buffer[16];
  DWORD n = 0;
  ASSERT_FALSE(ReadFile(h, buffer, sizeof buffer, &n, &r.ov));
  ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  ASSERT_FALSE(WriteFile(h, "held", 4, &n, &w.ov));
  ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);

  ASSERT_TRUE(CloseHandle(h));
  port_ = INVALID_HANDLE_VALUE;
  // Completed before CloseHandle returned.
  EXPECT_TRUE(r.Signalled(0));
  EXPECT_TRUE(w.Signalled(0));
  EXPECT_FALSE(GetOverlappedResult(h, &r.ov, &n, FALSE));
  EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
  EXPECT_FALSE(GetOverlappedResult(h, &w.ov, &n, FALSE));
  EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);

  DCB dcb;
  EXPECT_FALSE(GetCommState(h, &dcb));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(ReadFile(h, buffer, 1, &n, &r.ov));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(CloseHandle(h));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

  // The port is free again.
  HANDLE again = CreateFileA(far_->PortName().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  EXPECT_NE(again, INVALID_HANDLE_VALUE);
  CloseHandle(again);
}

// A blocking read on one thread returns when another thread closes the handle.
TEST_P(Conformance, CloseReleasesABlockedReader) {
  HANDLE h = Open(false);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  SetTimeouts(0, 0, 0, 0, 0);
  std::atomic<DWORD> error{0};
  std::thread reader([&] {
    char c;
    DWORD n = 0;
    if (!ReadFile(h, &c, 1, &n, nullptr)) error = GetLastError();
  });
  std::this_thread::sleep_for(Ms(100));
  ASSERT_TRUE(CloseHandle(h));
  port_ = INVALID_HANDLE_VALUE;
  reader.join();
  EXPECT_EQ(error.load(), ERROR_OPERATION_ABORTED);
}

TEST_P(Conformance, SecondOpenIsRefused) {
  HANDLE h = Open(true);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  HANDLE second = CreateFileA(far_->PortName().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  EXPECT_EQ(second, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(GetFileType(h), FILE_TYPE_CHAR);
}

// XOFF from the far end holds a pending write; XON lets it out.
TEST_P(Conformance, XoffFromFarEndHoldsOutputUntilXon) {
  if (!far_->SendsXonXoff()) GTEST_SKIP() << "this far end cannot be scripted";
  HANDLE h = Open(true);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  PtyFarEnd::SetOutX(h);
  far_->SendXoff();
  std::this_thread::sleep_for(Ms(100));
  Overlapped& w = records_.New();
  DWORD n = 0;
  ASSERT_FALSE(WriteFile(h, "held", 4, &n, &w.ov));
  ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  EXPECT_FALSE(w.Signalled(300));
  far_->SendXon();
  ASSERT_TRUE(w.Signalled(3000));
  EXPECT_TRUE(GetOverlappedResult(h, &w.ov, &n, FALSE));
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(ReadEcho(4), "held");
}

// A write's total timeout ends it with what went out, and that is a success.
TEST_P(Conformance, WriteTimeoutOnHeldOutputCompletesWithPartialCount) {
  HANDLE h = Open(false);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  SetTimeouts(0, 0, 0, 0, 300);
  far_->Hold(h);
  DWORD n = 99;
  const auto start = SteadyClock::now();
  EXPECT_TRUE(WriteFile(h, "held", 4, &n, nullptr));
  EXPECT_GE(SecondsSince(start), 0.27);
  EXPECT_EQ(n, 0u);
}

// On a line that sends at its rate, a write's total timeout ends it with the bytes that left the
// line by then (a tty's kernel queue holds the rest).
TEST_P(Conformance, WriteTimeoutOnASlowLineCompletesWithTheBytesThatLeft) {
  if (!far_->Paced()) GTEST_SKIP() << "a pseudo-terminal takes every byte at once";
  HANDLE h = Open(false, 1200);  // 120 bytes a second
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  SetTimeouts(0, 0, 0, 0, 100);
  const std::string data(64, 'w');
  DWORD n = 0;
  const auto start = SteadyClock::now();
  EXPECT_TRUE(WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &n, nullptr));
  const double took = SecondsSince(start);
  EXPECT_GE(took, 0.09);
  EXPECT_LT(took, 0.5);
  EXPECT_GT(n, 0u);
  EXPECT_LT(n, 40u);
}

// Held output counts in COMSTAT, with the hold that keeps it; EV_TXEMPTY waits until it left.
TEST_P(Conformance, HeldOutputIsReportedAndTxEmptyWaitsUntilItLeft) {
  HANDLE h = Open(true);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  far_->Hold(h);
  ASSERT_TRUE(SetCommMask(h, EV_TXEMPTY));
  Overlapped& e = records_.New();
  Overlapped& w = records_.New();
  DWORD mask = 0, n = 0;
  ASSERT_FALSE(WaitCommEvent(h, &mask, &e.ov));
  ASSERT_FALSE(WriteFile(h, "held", 4, &n, &w.ov));
  ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  EXPECT_FALSE(e.Signalled(200));
  COMSTAT status{};
  DWORD errors = 0;
  ASSERT_TRUE(ClearCommError(h, &errors, &status));
  EXPECT_EQ(status.cbOutQue, 4u);
  EXPECT_EQ(status.fCtsHold, far_->HoldsByCts() ? 1u : 0u);
  far_->Release(h);
  ASSERT_TRUE(w.Signalled(3000));
  ASSERT_TRUE(e.Signalled(3000));
  EXPECT_EQ(mask, DWORD{EV_TXEMPTY});
  EXPECT_EQ(ReadEcho(4), "held");
  // Raised once: the next wait stays pending.
  EXPECT_FALSE(WaitCommEvent(h, &mask, &e.ov));
  EXPECT_FALSE(e.Signalled(100));
  ASSERT_TRUE(SetCommMask(h, 0));  // ends the wait while its record exists
  EXPECT_TRUE(e.Signalled(1000));
}

TEST_P(Conformance, EventWaitEndsWhenTheMaskChanges) {
  HANDLE h = Open(true);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(SetCommMask(h, EV_ERR));
  Overlapped& e = records_.New();
  DWORD mask = 0xFFFF;
  ASSERT_FALSE(WaitCommEvent(h, &mask, &e.ov));
  ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  EXPECT_FALSE(e.Signalled(50));
  DWORD second = 0;
  Overlapped& e2 = records_.New();
  EXPECT_FALSE(WaitCommEvent(h, &second, &e2.ov));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  ASSERT_TRUE(SetCommMask(h, EV_ERR | EV_RXCHAR));
  ASSERT_TRUE(e.Signalled(1000));
  DWORD n = 0;
  EXPECT_TRUE(GetOverlappedResult(h, &e.ov, &n, FALSE));
  EXPECT_EQ(mask, 0u);

  // EV_RXCHAR when the echo arrives.
  ASSERT_FALSE(WaitCommEvent(h, &mask, &e.ov));
  Overlapped& w = records_.New();
  if (!WriteFile(h, "z", 1, &n, &w.ov)) {
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  }
  ASSERT_TRUE(e.Signalled(3000));
  EXPECT_TRUE(GetOverlappedResult(h, &e.ov, &n, FALSE));
  EXPECT_EQ(mask, DWORD{EV_RXCHAR});
}

// An echo comes back after the write it answers left: on a slow line, where the driver looks at
// the kernel's queue only every 20 ms, the write is done and EV_TXEMPTY raised before the echo's
// EV_RXCHAR, in the order of the line.
TEST_P(Conformance, AWriteIsDoneBeforeItsEchoIsSeen) {
  if (!far_->Paced()) GTEST_SKIP() << "a pseudo-terminal takes every byte at once";
  HANDLE h = Open(true, 1200);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(SetCommMask(h, EV_TXEMPTY | EV_RXCHAR));
  Overlapped& e = records_.New();
  Overlapped& w = records_.New();
  DWORD mask = 0, n = 0;
  ASSERT_FALSE(WaitCommEvent(h, &mask, &e.ov));
  if (!WriteFile(h, "z", 1, &n, &w.ov)) ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  ASSERT_TRUE(e.Signalled(3000));
  EXPECT_EQ(mask, DWORD{EV_TXEMPTY});
  EXPECT_TRUE(w.Signalled(0));
  ASSERT_TRUE(WaitUntil([&] {
    DWORD errors = 0;
    COMSTAT status{};
    return ClearCommError(h, &errors, &status) && status.cbInQue == 1;
  }));
}

TEST_P(Conformance, ClearCommErrorCountsQueuedInput) {
  HANDLE h = Open(true);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  Overlapped& w = records_.New();
  DWORD n = 0;
  if (!WriteFile(h, "abcdef", 6, &n, &w.ov)) {
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  }
  COMSTAT status{};
  DWORD errors = 1;
  ASSERT_TRUE(
      WaitUntil([&] { return ClearCommError(h, &errors, &status) && status.cbInQue == 6; }));
  EXPECT_EQ(errors, 0u);
  EXPECT_EQ(status.cbOutQue, 0u);
  ASSERT_TRUE(PurgeComm(h, PURGE_RXCLEAR));
  ASSERT_TRUE(ClearCommError(h, &errors, &status));
  EXPECT_EQ(status.cbInQue, 0u);
}

INSTANTIATE_TEST_SUITE_P(Lines, Conformance,
                         ::testing::Values(Kind::kLoopback, Kind::kPty, Kind::kSocat,
                                           Kind::kFakeTty),
                         KindName);

}  // namespace
}  // namespace qv::comm::testing
