// Driver tests whose port is refused or goes away while they run: they end there, instead of
// going on against a port that is not there and reporting what that gives as the driver's doing.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
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


TEST(PortGone, AnOpenCloseLoopEndsWithTheCycleWhoseOpenWasRefused) {
  // The fake console opens nothing: every open is refused. With "Loop tests" checked the loop
  // would otherwise show the console's error box again and again, and the box leaves no moment
  // to uncheck "Loop tests".
  FakeTestHost host;
  host.SetChecked(IDC_LOOPTESTS, true);
  hPort = INVALID_HANDLE_VALUE;
  auto run = std::async(std::launch::async,
                        [&] { qv::drivertests::RunOpenCloseLoop(host, [] { return DWORD{0}; }); });
  const bool ended = run.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
  host.ending_ = true;  // ends a loop that went on
  run.wait();
  EXPECT_TRUE(ended) << "the loop went on after " << host.OpenCloses() << " refused opens";
  EXPECT_EQ(host.OpenCloses(), 2);  // both commands of that cycle were tried
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
