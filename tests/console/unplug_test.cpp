// The virtual ports unplugged and plugged under an open console: Open on PNP closes the port
// once and opens it again on the next plug, close requests close once, a box that is open while
// a close is asked for is not frozen by it, a port that arrives during a box waits for it, and
// many cycles leave nothing behind. A real kernel event for ttyS0 is logged without the port
// being opened.
#include <dirent.h>
#include <sys/resource.h>

#include <QEventLoop>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <thread>

#include "console/quorvix_dlg_devices.h"
#include "engine/comm.h"
#include "platform/devices/device_monitor.h"
#include "platform/devices/port_source.h"
#include "platform/sync/process_counts.h"
#include "platform/ui/message_box.h"
#include "telephony/line_open.h"
#include "tests/console/pnp_fixture.h"

namespace qv::test {
namespace {

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// What the engine may report when its port goes away under a pending request: the failed
// request with the device's error, and the write thread's closing note.
bool IsEngineReportOfTheUnplug(const std::string& text) {
  return text.find("(err 31)") != std::string::npos || text == "Closing TAPI";
}

// Real modal boxes, as the program shows them, that a user answers after a while.
class ModalBoxes : public qv::ui::MessageBoxProvider {
 public:
  explicit ModalBoxes(int answerAfterMs)
      : answerAfterMs_(answerAfterMs), previous_(qv::ui::CurrentMessageBoxProvider()) {
    qv::ui::SetMessageBoxProvider(this);
  }
  ~ModalBoxes() override { qv::ui::SetMessageBoxProvider(previous_); }

  int Show(HWND, const std::string& text, const std::string& caption, UINT) override {
    {
      std::lock_guard guard(lock_);
      texts_.push_back(text);
    }
    QMessageBox box(QMessageBox::Warning, QString::fromStdString(caption),
                    QString::fromStdString(text), QMessageBox::Ok);
    QTimer::singleShot(answerAfterMs_, &box, &QMessageBox::accept);
    if (onShow) onShow();
    box.exec();
    return IDOK;
  }
  std::vector<std::string> Texts() {
    std::lock_guard guard(lock_);
    return texts_;
  }
  std::function<void()> onShow;

 private:
  int answerAfterMs_;
  qv::ui::MessageBoxProvider* previous_;
  std::mutex lock_;
  std::vector<std::string> texts_;
};

class UnplugTest : public PnpTest {
 protected:
  void SetUp() override {
    PnpTest::SetUp();
    // The engine's reports of requests failed by the unplug are answered like any box.
    boxes_.onUnanswered = nullptr;
  }
  void OpenVloop() {
    TypePort(QStringLiteral("\\\\.\\vloop0"));
    Toggle();
    ASSERT_TRUE(IsOpen());
  }
  // Serves events for ms without polling, so the process's own CPU time measures the program.
  void Settle(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
  }
};

TEST_F(UnplugTest, UnpluggedDuringAFileSendTheOpenPortClosesOnceAndOpensAtTheNextPlug) {
  Open();
  Check(IDC_VERBOSE, true);
  Check(IDC_OPENONPNP, true);
  OpenVloop();
  QTemporaryDir dir;
  const std::string file = dir.filePath(QStringLiteral("send.bin")).toStdString();
  std::ofstream(file, std::ios::binary) << std::string(20000, 'U');  // about 2 s at 115200 bps
  const DWORD requested = CommConnection.WriteRequested;
  Dlg().SendFile(file.c_str());
  ASSERT_TRUE(WaitUntil([&] { return CommConnection.WriteRequested != requested; }));
  Settle(100);
  qv::sync::ClearDebugOutputCapture();
  Dlg().Log()->Clear();
  boxes_.Clear();

  ASSERT_TRUE(qv::comm::UnplugVirtualPort("vloop0"));
  ASSERT_TRUE(WaitUntil([] { return !IsOpen(); }));
  Settle(500);  // every request and close request of the old connection has come and gone
  EXPECT_EQ(LinesStartingWith(QStringLiteral("PNP REMOVED : PORT vloop0")), 1);
  EXPECT_EQ(TraceCount("Stopping the Comm"), 1);
  EXPECT_EQ(TraceCount("Starting the Comm"), 0) << "opened again";
  EXPECT_FALSE(IsOpen());
  EXPECT_FALSE(Checked(IDC_OPENONPNP));
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_OPENCLOSE), QStringLiteral("Open"));
  // At most the engine's own report of each failed request; no open error, no thread that
  // would not end.
  EXPECT_LE(boxes_.Count(), 3u);
  for (const std::string& text : boxes_.Texts())
    EXPECT_TRUE(IsEngineReportOfTheUnplug(text)) << text;

  // Nothing runs on meanwhile.
  const double cpu = CpuSeconds();
  Settle(1000);
  EXPECT_LT(CpuSeconds() - cpu, 0.5) << "CPU seconds used in one idle second";

  // Armed again while closed: the next plug opens it.
  Check(IDC_OPENONPNP, true);
  ASSERT_TRUE(qv::comm::PlugVirtualPort("vloop0"));
  ASSERT_TRUE(WaitUntil([] { return IsOpen(); }));
  EXPECT_EQ(LinesStartingWith(QStringLiteral("PNP ARRIVAL : PORT vloop0")), 1);
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_PORT), QStringLiteral("\\\\.\\vloop0"));
  Toggle();
}

TEST_F(UnplugTest, CloseRequestsCloseOnceAndNeverOpen) {
  Open();
  OpenVloop();
  // Both engine threads ask: the port closes, once, and stays closed.
  auto& sink = static_cast<ConsoleSink&>(Dlg());
  std::thread([&] {
    sink.RequestClose();
    sink.RequestClose();
  }).join();
  EXPECT_TRUE(IsOpen()) << "posted, never run inside the call";
  ASSERT_TRUE(WaitUntil([] { return !IsOpen(); }));
  Settle(200);
  EXPECT_FALSE(IsOpen());

  // A request while closed does nothing; one made before a close and a new open does not close
  // the new connection.
  sink.RequestClose();
  Settle(100);
  EXPECT_FALSE(IsOpen());
  Toggle();
  ASSERT_TRUE(IsOpen());
  sink.RequestClose();
  Toggle();
  Toggle();
  ASSERT_TRUE(IsOpen());
  Settle(200);
  EXPECT_TRUE(IsOpen()) << "a request of the earlier connection closed the new one";
  // The user's click still toggles.
  Toggle();
  EXPECT_FALSE(IsOpen());
}

TEST_F(UnplugTest, ACloseAskedForWhileAnEngineBoxIsOpenWaitsForTheBox) {
  Open();
  OpenVloop();
  ModalBoxes modal(1500);
  // While the read thread's report of the unplug is on screen, the write thread asks for the
  // close.
  std::atomic<bool> asked{false};
  modal.onShow = [&] {
    QTimer::singleShot(200, &Dlg(), [&] {
      if (asked.exchange(true)) return;
      std::thread([&] { static_cast<ConsoleSink&>(Dlg()).RequestClose(); }).join();
    });
  };
  QElapsedTimer timer;
  timer.start();
  ASSERT_TRUE(qv::comm::UnplugVirtualPort("vloop0"));
  ASSERT_TRUE(WaitUntil([] { return !IsOpen(); }, 9000));
  EXPECT_LT(timer.elapsed(), 9000);
  Settle(300);
  ASSERT_TRUE(asked.load()) << "the read thread showed no box";
  for (const std::string& text : modal.Texts()) {
    EXPECT_TRUE(IsEngineReportOfTheUnplug(text)) << text;
  }
  EXPECT_EQ(CommConnection.hReadThread.Load(), nullptr);
  EXPECT_FALSE(IsOpen());

  // The same with the close that the port's removal asks for.
  ASSERT_TRUE(qv::comm::PlugVirtualPort("vloop0"));
  Check(IDC_OPENONPNP, true);
  OpenVloop();
  asked = false;
  timer.restart();
  modal.onShow = [&] {
    QTimer::singleShot(200, &Dlg(), [&] {
      if (asked.exchange(true)) return;
      Notify(DBT_DEVICEREMOVECOMPLETE, qv::devices::BroadcastRecord::Port("vloop0"));
    });
  };
  ASSERT_TRUE(qv::comm::UnplugVirtualPort("vloop0"));
  ASSERT_TRUE(WaitUntil([] { return !IsOpen(); }, 9000));
  EXPECT_LT(timer.elapsed(), 9000);
  Settle(300);
  for (const std::string& text : modal.Texts()) {
    EXPECT_TRUE(IsEngineReportOfTheUnplug(text)) << text;
  }
  EXPECT_FALSE(Checked(IDC_OPENONPNP));
}

TEST_F(UnplugTest, AnArrivalDuringABoxWaitsForTheBox) {
  Open();
  Check(IDC_OPENONPNP, true);
  OpenVloop();
  ModalBoxes modal(300);
  const char* arriving = "vphone0";
  modal.onShow = [&] {
    QTimer::singleShot(50, &Dlg(), [&] {
      if (arriving) Notify(DBT_DEVICEARRIVAL, qv::devices::BroadcastRecord::Port(arriving));
      arriving = nullptr;
    });
  };
  // The release of a stale call fails with boxes: the close ends as a close, and Open on PNP,
  // disarmed by it, opens nothing afterwards.
  Dlg().Telephony()->hCall = 0x7777;
  Toggle();
  Settle(200);
  EXPECT_EQ(arriving, nullptr);
  EXPECT_FALSE(IsOpen());
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_OPENCLOSE), QStringLiteral("Open"));

  // A failed open leaves Open on PNP armed: the port that came during its box opens after it.
  Check(IDC_OPENONPNP, true);
  arriving = "vloop0";
  Notify(DBT_DEVICEARRIVAL, qv::devices::BroadcastRecord::Port("qv_no_such_port"));
  EXPECT_FALSE(IsOpen()) << "opened inside the box";
  ASSERT_TRUE(WaitUntil([] { return IsOpen(); }));
  EXPECT_EQ(Dlg().GetDlgItemText(IDC_OPENCLOSE), QStringLiteral("Close"));
  Toggle();
}

TEST_F(UnplugTest, AThousandUnplugPlugCyclesLeaveDescriptorsAndThreadsAsTheyWere) {
  Open();
  Check(IDC_VERBOSE, false);
  TypePort(QStringLiteral("\\\\.\\vloop0"));
  ASSERT_TRUE(qv::comm::UnplugVirtualPort("vloop0"));
  const auto cycle = [&](int i) {
    Check(IDC_OPENONPNP, true);
    qv::comm::PlugVirtualPort("vloop0");
    ASSERT_TRUE(WaitUntil([] { return IsOpen(); })) << "cycle " << i;
    qv::comm::UnplugVirtualPort("vloop0");
    ASSERT_TRUE(WaitUntil([] { return !IsOpen(); })) << "cycle " << i;
  };
  cycle(-1);  // what is made once (the port object, Qt's helpers) exists from here on
  Settle(200);
  const int fds = qv::sync::CountProcess().fds;
  const int threads = qv::sync::CountProcess().threads;
  for (int i = 0; i < 1000; ++i) {
    cycle(i);
    if (HasFatalFailure()) return;
  }
  EXPECT_TRUE(WaitUntil([&] { return qv::sync::CountProcess().threads <= threads; }, 5000))
      << qv::sync::CountProcess().threads << " threads, " << threads << " before";
  // Fewer is possible: Qt's pooled helper threads (and their descriptors) end after idling.
  EXPECT_LE(qv::sync::CountProcess().fds, fds);
  std::printf("1000 cycles: fds %d -> %d, threads %d -> %d\n", fds, qv::sync::CountProcess().fds,
              threads, qv::sync::CountProcess().threads);
  for (const std::string& text : boxes_.Texts()) {
    ASSERT_TRUE(IsEngineReportOfTheUnplug(text)) << text;
  }
}

TEST_F(PnpTest, AKernelEventForTtyS0IsLoggedAndRefreshesThePortList) {
  // Writing "add" to a device's uevent file makes the kernel announce the device again; the
  // device itself is not touched.
  // The event reaches every listener on the host: a console with "Open on PNP" running beside
  // this case would open ttyS0 on it. Only where asked for, and never beside other cases.
  if (std::getenv("QV_TEST_KERNEL_UEVENTS") == nullptr)
    GTEST_SKIP()
        << "announces ttyS0 to every listener on the host: QV_TEST_KERNEL_UEVENTS=1 runs it";
  const char* trigger = "/sys/class/tty/ttyS0/uevent";
  if (access(trigger, W_OK) != 0) GTEST_SKIP() << trigger << " is not writable here";
  if (!qv::devices::DeviceMonitor::Open())
    GTEST_SKIP() << "no device-event socket here: " << std::strerror(errno);
  LockedPortSource source;
  source.Set({{"ttyS0", "serial", ""}});
  qv::devices::ScopedPortSource scoped(source);
  Open();
  Check(IDC_VERBOSE, true);
  Check(IDC_OPENONPNP, false);  // never open a system serial port in a test
  auto* combo = Dlg().Item<QComboBox>(IDC_PORT);
  const int listed = combo->count();
  source.Set({{"ttyS0", "serial", ""}, {"ttyS0x", "marker", ""}});
  Dlg().Log()->Clear();
  // The watch starts listening on its own thread: announce until it has heard.
  bool heard = false;
  for (int attempt = 0; attempt < 10 && !heard; ++attempt) {
    std::ofstream(trigger) << "add";
    heard = WaitUntil(
        [&] { return LinesStartingWith(QStringLiteral("PNP ARRIVAL : PORT ttyS0")) > 0; }, 500);
  }
  ASSERT_TRUE(heard) << Dlg().Log()->Text().toStdString();
  EXPECT_EQ(combo->count(), listed + 1) << "the list was not refilled";
  EXPECT_FALSE(IsOpen());
  Close();  // the watch ends before the port source it reads
}

}  // namespace
}  // namespace qv::test
