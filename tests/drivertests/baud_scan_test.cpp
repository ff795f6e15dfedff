// The baud-rate scan: the loop itself over a short range (runs reported as they close, progress,
// the rate left on the port), then the panel's full scan on the virtual driver's policies and on
// a pseudo-terminal, whose kernel driver is asked directly for what it keeps.
#include <QString>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "console/log_view.h"
#include "drivertests/baud_scan.h"
#include "drivertests/baud_scan_run.h"
#include "platform/comm/comm_api.h"
#include "platform/sync/kernel_object.h"
#include "tests/common/pty_pair.h"
#include "tests/drivertests/config_fixture.h"
#include "tests/drivertests/kernel_rates.h"

namespace qv::test {
namespace {

using qv::comm::BaudPolicy;
using qv::drivertests::kBaudScanListHeader;

const std::vector<DWORD> kStandardRates = {300,  600,   1200,  2400,  4800,
                                           9600, 19200, 38400, 57600, 115200};
const std::string kStandardList = "300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200";

TEST(BaudScanLoop, ReportsRunsAsTheyCloseAndLeavesTheLastRateTaken) {
  const HANDLE port = CreateFileA("\\\\.\\vloop0", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  std::vector<std::string> closed;
  std::vector<DWORD> progress;
  qv::drivertests::BaudScanHooks hooks;
  hooks.runClosed = [&](const std::string& run) { closed.push_back(run); };
  hooks.progress = [&](DWORD percent) { progress.push_back(percent); };
  std::string list;

  qv::comm::SetBaudPolicy("vloop0", {BaudPolicy::kList, {300, 600, 601, 602, 19200, 57600}});
  ASSERT_TRUE(qv::drivertests::ScanBaudRates(port, 100000, hooks, &list));
  EXPECT_EQ(list, "300, 600-602, 19200, 57600");
  EXPECT_EQ(closed, (std::vector<std::string>{"300", "600-602", "19200", "57600"}));
  EXPECT_EQ(progress, (std::vector<DWORD>{0, 1, 2, 3, 4, 5}));
  DCB dcb{};
  ASSERT_TRUE(GetCommState(port, &dcb));
  EXPECT_EQ(dcb.BaudRate, 57600u);

  // A run still open at the last rate is listed, not reported as closed; a single last rate
  // keeps the run form.
  closed.clear();
  qv::comm::SetBaudPolicy("vloop0", {BaudPolicy::kAll, {}, 90000, 100000});
  ASSERT_TRUE(qv::drivertests::ScanBaudRates(port, 100000, hooks, &list));
  EXPECT_EQ(list, "90000-100000");
  qv::comm::SetBaudPolicy("vloop0", {BaudPolicy::kList, {100000}});
  ASSERT_TRUE(qv::drivertests::ScanBaudRates(port, 100000, hooks, &list));
  EXPECT_EQ(list, "100000-100000");
  EXPECT_TRUE(closed.empty());

  // A port that goes away during the scan refuses the rest.
  hooks.progress = [&](DWORD percent) {
    if (percent == 1) CloseHandle(port);
  };
  qv::comm::SetBaudPolicy("vloop0", {});
  ASSERT_TRUE(qv::drivertests::ScanBaudRates(port, 100000, hooks, &list));
  EXPECT_EQ(list, "1-20000");
  qv::comm::ResetVirtualPort("vloop0");
}

class BaudScanPanel : public ConfigPanelTest {
 protected:
  // Clicks Run Test and waits for the list box; `whileRunning` is called as the UI thread waits.
  std::string Scan(const std::function<void()>& whileRunning = {}) {
    const std::size_t before = boxes_.Count();
    boxes_.Answer(IDOK);
    Panel().SendCommand(IDC_RUN_BAUDS);
    const bool ended = WaitUntil(
        [&] {
          if (whileRunning) whileRunning();
          return boxes_.Count() > before;
        },
        120000);
    if (!ended) return "no list after two minutes";
    const auto box = boxes_.Boxes().back();
    EXPECT_EQ(box.caption, "quor_vix");
    EXPECT_EQ(PanelText(IDC_BAUDS_STATUS), "Test done");
    EXPECT_EQ(PanelText(IDC_RUN_BAUDS), "Run Test");
    EXPECT_TRUE(Panel().GetDlgItem(IDC_RUN_BAUDS)->isEnabled());
    return box.text;
  }

  // The scan while the far end sends a line once the progress caption has moved: the UI thread
  // serves the scan's progress and still shows what arrives meanwhile.
  std::string ScanWhileDataArrive(const std::function<bool(const std::string&)>& send) {
    const QString line = QStringLiteral("sent during the scan");
    std::set<std::string> captions;
    bool written = false;
    bool shownDuringScan = false;
    const std::size_t boxes = boxes_.Count();
    const std::string list = Scan([&] {
      const std::string caption = PanelText(IDC_RUN_BAUDS);
      if (caption.ends_with(" %")) captions.insert(caption);
      if (!written && captions.size() >= 2) written = send(line.toStdString() + "\r\n");
      if (written && boxes_.Count() == boxes && Dlg().Log()->Text().contains(line)) {
        shownDuringScan = true;
      }
    });
    EXPECT_GE(captions.size(), 3u);
    EXPECT_TRUE(shownDuringScan);
    return list;
  }
};

TEST_F(BaudScanPanel, ListsWhatTheVirtualDriverKeeps) {
  OpenPort("\\\\.\\vloop0");
  const int speed = Dlg().SelectedSpeed();
  struct Case {
    BaudPolicy policy;
    std::string list;
  };
  const Case cases[] = {
      {{BaudPolicy::kList, kStandardRates}, kStandardList},
      {{BaudPolicy::kAll, {}, 50, 115200}, "50-115200"},
      {{BaudPolicy::kAll, {}, 1, 4000000}, "1-2000000"},
      // Rounded rates read back as their neighbour: only the neighbours themselves count.
      {{BaudPolicy::kNearest, kStandardRates}, kStandardList},
  };
  EXPECT_EQ(ScanWhileDataArrive([](const std::string& line) {
              return qv::comm::InjectFromFarEnd("vloop0", line.data(), line.size());
            }),
            std::string(kBaudScanListHeader) + "1-2000000");
  for (const Case& c : cases) {
    qv::comm::SetBaudPolicy("vloop0", c.policy);
    EXPECT_EQ(Scan(), kBaudScanListHeader + c.list);
  }
  // The port stays at the last rate it took, and the console's speed choice as it was.
  DCB dcb{};
  ASSERT_TRUE(GetCommState(hPort, &dcb));
  EXPECT_EQ(dcb.BaudRate, 115200u);
  EXPECT_EQ(Dlg().SelectedSpeed(), speed);
}

TEST_F(BaudScanPanel, ListsWhatThePtyDriverKeepsWhileDataArrive) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  const std::string kept = KernelKeptRates(pty.path(), qv::drivertests::kBaudScanLastRate);
  OpenPort(pty.path());
  EXPECT_EQ(ScanWhileDataArrive([&](const std::string& line) { return pty.Write(line); }),
            kBaudScanListHeader + kept);
  Dlg().SendCommand(IDC_OPENCLOSE);  // before the far end goes away: no hang-up to report
}

}  // namespace
}  // namespace qv::test
