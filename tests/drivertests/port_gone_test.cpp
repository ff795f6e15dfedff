// Driver tests whose port is refused or goes away while they run: they end there, instead of
// going on against a port that is not there and reporting what that gives as the driver's doing.
// The Open/Close loop, a stress test of opening, counts the refused opens and goes on.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "drivertests/baud_scan_run.h"
#include "drivertests/open_close_loop.h"
#include "drivertests/port_handle.h"
#include "platform/comm/comm_api.h"
#include "platform/comm/virtual_port_control.h"
#include "platform/sync/kernel_object.h"
#include "resources/tests_panel_ids.h"
#include "tests/drivertests/fake_test_host.h"

namespace qv::test {
namespace {


// A console that opens by putting a stand-in into hPort and refuses every Nth open (0: none),
// with "Loop tests" checked for the given number of cycles. It shows no box: only the loop paces.
class RefusingHost : public FakeTestHost {
 public:
  RefusingHost(int refuseEvery, int cycles) : refuseEvery_(refuseEvery), cycles_(cycles) {}
  void ConsoleOpenClose() override {
    const bool open = hPort.Load() == INVALID_HANDLE_VALUE;
    const bool refused = open && refuseEvery_ != 0 && ++opens_ % refuseEvery_ == 0;
    hPort = open && !refused ? reinterpret_cast<HANDLE>(0x10) : INVALID_HANDLE_VALUE;
  }
  bool IsChecked(int id) override { return id == IDC_LOOPTESTS && ++asked_ < cycles_; }

 private:
  const int refuseEvery_, cycles_;
  int opens_ = 0, asked_ = 0;
};

TEST(PortGone, AnOpenCloseLoopCountsRefusedOpensAndGoesOnToItsLastCycle) {
  // A cycle whose open was refused opens with its second command; the next one closes first.
  struct Case {
    int refuseEvery, cycles, opens, refused;
  } cases[] = {{0, 5, 5, 0}, {3, 6, 7, 2}, {1, 4, 8, 8}};
  for (const Case& c : cases) {
    SCOPED_TRACE("every " + std::to_string(c.refuseEvery) + "th open refused");
    hPort = INVALID_HANDLE_VALUE;
    RefusingHost host(c.refuseEvery, c.cycles);
    const auto start = std::chrono::steady_clock::now();
    const auto result = qv::drivertests::RunOpenCloseLoop(host, [] { return DWORD{0}; });
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(result.cycles, c.cycles);
    EXPECT_EQ(result.opens, c.opens);
    EXPECT_EQ(result.refusedOpens, c.refused);
    // Each cycle with a refused open pauses, even at interval 0.
    const int refusedCycles = c.refuseEvery == 1 ? c.cycles : c.refused;
    EXPECT_GE(elapsed, refusedCycles * std::chrono::milliseconds(40));
  }
  hPort = INVALID_HANDLE_VALUE;
}

// Closes the console's port once the scan's progress has moved, as the user's Close does.
class ClosingHost : public FakeTestHost {
 public:
  void SetItemText(int id, const std::string& text) override {
    FakeTestHost::SetItemText(id, text);
    if (id == IDC_RUN_BAUDS && text == "1 %") {
      const HANDLE port = hPort.Load();
      hPort = INVALID_HANDLE_VALUE;
      CloseHandle(port);
    }
  }
};

TEST(PortGone, ABaudScanWhosePortWasClosedListsNoRates) {
  hPort = CreateFileA("\\\\.\\vloop0", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                      FILE_FLAG_OVERLAPPED, nullptr);
  ASSERT_NE(hPort.Load(), INVALID_HANDLE_VALUE);
  ClosingHost host;
  qv::drivertests::RunBaudScanTest(host);
  // vloop0 keeps every rate: a list of the rates before the close would blame the driver.
  EXPECT_TRUE(host.Boxes().empty()) << host.Boxes().front();
  EXPECT_EQ(host.ItemText(IDC_BAUDS_STATUS), "Port closed");
  EXPECT_EQ(host.ItemText(IDC_RUN_BAUDS), "Run Test");
}

// Closes the port and opens it again at 9600 when the run "9600" ends: between two of the scan's
// checks for a closed port, with the rate 15000 still to come.
class ReopeningHost : public FakeTestHost {
 public:
  void SetItemText(int id, const std::string& text) override {
    FakeTestHost::SetItemText(id, text);
    if (id != IDC_BAUDS_STATUS || text != "9600") return;
    CloseHandle(hPort.Load());
    hPort = CreateFileA("\\\\.\\vloop0", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                        FILE_FLAG_OVERLAPPED, nullptr);
    DCB dcb{};
    GetCommState(hPort, &dcb);
    dcb.BaudRate = 9600;
    SetCommState(hPort, &dcb);
  }
};

TEST(PortGone, ABaudScanLeavesAPortOpenedSinceItsStartAlone) {
  qv::comm::SetBaudPolicy("vloop0", {qv::comm::BaudPolicy::kList, {9600, 15000}});
  hPort = CreateFileA("\\\\.\\vloop0", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                      FILE_FLAG_OVERLAPPED, nullptr);
  ReopeningHost host;
  qv::drivertests::RunBaudScanTest(host);
  DCB dcb{};
  EXPECT_TRUE(GetCommState(hPort, &dcb));
  EXPECT_EQ(dcb.BaudRate, 9600u);
  EXPECT_EQ(host.ItemText(IDC_BAUDS_STATUS), "Port closed");
  CloseHandle(hPort);
  hPort = INVALID_HANDLE_VALUE;
  qv::comm::ResetVirtualPort("vloop0");
}

}  // namespace
}  // namespace qv::test
