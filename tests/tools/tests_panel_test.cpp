// The panel itself: its controls and which of them follow the connection, the stored values,
// the repeat interval's range check and the block-size edit.
#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <atomic>
#include <functional>
#include <thread>
#include <utility>
#include <vector>

#include <QElapsedTimer>

#include "platform/store/profile_store.h"
#include "platform/ui/ui_thread.h"
#include "tests/drivertests/tests_panel_fixture.h"
#include "tools/states/states_controls.h"
#include "tools/tool_states.h"

namespace qv::test {
namespace {

const QString kSettings = QStringLiteral("Settings");

// The controls with an ID, in the order the panel holds them.
std::vector<int> ControlIds(CToolTests& panel) {
  std::vector<int> ids;
  for (QObject* child : panel.children()) {
    auto* w = qobject_cast<QWidget*>(child);
    if (w && !w->isWindow() && qv::ui::ControlId(w) > 0) ids.push_back(qv::ui::ControlId(w));
  }
  return ids;
}

TEST_F(TestsPanelTest, ControlsInTemplateOrderAndOnlyThoseAfterTheNonOverlapGroupFollowThePort) {
  Open();
  CToolTests& panel = Panel();
  EXPECT_EQ(panel.windowTitle(), "Miscellaneous tests");
  const std::vector<int> expected = {1030, 1037, 1036, 1038, 1032, 1031, 1041, 1039, 1029, 1040,
                                     1035, 1033, 1049, 1050, 1051, 1052, 1053, 1054, 1042, 1043};
  EXPECT_EQ(ControlIds(panel), expected);
  EXPECT_EQ(panel.GetDlgItemText(1030), "Loop tests");
  EXPECT_EQ(panel.GetDlgItemText(1052), "PurgeComm TXABORT");
  // The Non-Overlap group shows one ampersand (Qt's escaped form), not a shortcut marker.
  bool found = false;
  for (auto* group : panel.findChildren<QGroupBox*>())
    found = found || group->title() == "Test Non-Overlap && Timeouts";
  EXPECT_TRUE(found);
  auto* source = panel.Item<QComboBox>(1041);
  ASSERT_NE(source, nullptr);
  ASSERT_EQ(source->count(), 2);
  EXPECT_EQ(source->itemText(1), "quor_vix.exe");

  // Created: the Open/Close and Non-Overlap groups and the record box usable, the rest not.
  const std::vector<int> usable = {1030, 1037, 1036, 1038, 1032, 1033};
  for (int id : expected) {
    const bool shouldBe = std::find(usable.begin(), usable.end(), id) != usable.end();
    EXPECT_EQ(Enabled(id), shouldBe) << id;
  }

  OpenPort("vloop0");
  for (int id : expected) EXPECT_TRUE(Enabled(id)) << id;
  ClosePort();
  // From the first close on the record box follows the connection with its neighbours.
  for (int id : expected) {
    const bool before = id == 1030 || id == 1037 || id == 1036 || id == 1038 || id == 1032;
    EXPECT_EQ(Enabled(id), before) << id;
  }
}

TEST_F(TestsPanelTest, StoredValuesComeBackAfterARestart) {
  Open();
  EXPECT_EQ(Panel().GetDlgItemText(1041), "Random");
  EXPECT_EQ(Panel().GetDlgItemText(1031), "4096");
  EXPECT_EQ(CommConnection.LogData.Load(), 0);
  Panel().CheckDlgButton(1030, BST_CHECKED);
  Type(1037, "250");
  Check(1033, true);  // the click takes all three by data exchange
  EXPECT_EQ(Panel().LoopTests, 1);
  EXPECT_EQ(Panel().LoopInterval.Load(), 250u);
  EXPECT_EQ(CommConnection.LogData.Load(), 1);
  Panel().SetDlgItemText(1041, "/tmp/some file.bin");
  Close();

  CommConnection.LogData = 0;
  Open();
  EXPECT_EQ(CommConnection.LogData.Load(), 1);  // read when the panel is built
  EXPECT_EQ(Panel().IsDlgButtonChecked(1030), BST_CHECKED);
  EXPECT_EQ(Panel().IsDlgButtonChecked(1033), BST_CHECKED);
  EXPECT_EQ(Panel().GetDlgItemText(1037), "250");
  EXPECT_EQ(Panel().GetDlgItemText(1041), "/tmp/some file.bin");
}

TEST_F(TestsPanelTest, RepeatIntervalAbove65535IsRefusedWithThePromptAndKeepsTheLastValue) {
  Open();
  Panel().show();
  Type(1037, "100");
  Click(1030);
  ASSERT_EQ(Panel().LoopInterval.Load(), 100u);
  // Typing alone takes nothing.
  Type(1037, "300");
  EXPECT_EQ(Panel().LoopInterval.Load(), 100u);

  Type(1037, "65536");
  boxes_.Answer(IDOK);
  Check(1030, true);
  ASSERT_EQ(boxes_.Count(), 1u);
  EXPECT_EQ(boxes_.Boxes()[0].text, "Please enter an integer between 0 and 65535.");
  EXPECT_EQ(Panel().LoopInterval.Load(), 100u);
  EXPECT_EQ(Panel().LoopTests, 1);  // exchanged before the interval
  EXPECT_EQ(Panel().focusWidget(), Panel().GetDlgItem(1037));

  Type(1037, "65535");
  Click(1033);
  EXPECT_EQ(Panel().LoopInterval.Load(), 65535u);
  EXPECT_EQ(boxes_.Count(), 1u);
}

TEST_F(TestsPanelTest, BlockSizeEditAppliesAndStoresOnlyPositiveNumbers) {
  Open();
  Type(1031, "0");
  EXPECT_EQ(CommConnection.ReadBlockSize.Load(), 4096u);
  EXPECT_FALSE(qv::store::HasProfileEntry(kSettings, "BlockSize"));
  Panel().Item<QLineEdit>(1031)->setValidator(nullptr);  // what a paste could bring
  Type(1031, "12x");
  EXPECT_EQ(CommConnection.ReadBlockSize.Load(), 4096u);
  EXPECT_FALSE(qv::store::HasProfileEntry(kSettings, "BlockSize"));

  Type(1031, "8192");
  EXPECT_EQ(CommConnection.ReadBlockSize.Load(), 8192u);
  EXPECT_EQ(qv::store::GetProfileInt(kSettings, "BlockSize", 0), 8192);
}

TEST_F(TestsPanelTest, SizesThatCannotWorkAreRefusedAndStoredValuesComeBackInRange) {
  // Stored by hand or by an older version: each comes back within what its field takes.
  qv::store::WriteProfileInt(kSettings, "BlockSize", 100000000);
  for (const auto& [stored, loaded] : {std::pair{-1, 0u}, std::pair{70000, 65535u}}) {
    qv::store::WriteProfileInt(kSettings, "LoopInterval", stored);
    Open();
    EXPECT_EQ(Panel().LoopInterval.Load(), loaded) << stored;
    EXPECT_EQ(CommConnection.ReadBlockSize.Load(), kMaxBlockSize);
    Close();
  }
  Open();
  SetCommBlockSize(4096);
  CommConnection.ReadBufferSize = 4096;  // no connection runs: the buffer may shrink back
  const std::string range = "Please enter an integer between 1 and 16777216.";
  const std::string positive = "Please enter a positive integer.";
  const struct {
    qv::ui::TemplateDialog* panel;
    int id;
    const char* typed;
    const std::string& prompt;
  } refused[] = {{&Panel(), IDC_BLOCKSIZE, "16777217", range},
                 {&Panel(), IDC_BLOCKSIZE, "99999999999", range},
                 {Dlg().StatesPanel(), qv::states::IDC_IN_QUEUE_SIZE, "0", positive},
                 {Dlg().StatesPanel(), qv::states::IDC_OUT_QUEUE_SIZE, "0", positive}};
  std::vector<std::string> prompts;
  for (const auto& c : refused) {
    boxes_.Answer(IDOK);
    c.panel->SetDlgItemText(c.id, c.typed);
    prompts.push_back(c.prompt);
  }
  EXPECT_EQ(boxes_.Texts(), prompts);
  EXPECT_EQ(CommConnection.ReadBlockSize.Load(), 4096u);
  EXPECT_EQ(std::pair(CommConnection.InQueueSize.Load(), CommConnection.OutQueueSize.Load()),
            std::pair(4096u, 4096u));
}

TEST_F(TestsPanelTest, WatchdogTimersArmedFromAWorkerFireOnTheUiThreadUntilDisarmed) {
  Open();
  qv::drivertests::TestHost& host = Panel().Host();
  std::atomic<int> fired{0};
  std::atomic<bool> offUi{false};
  host.BindTimer(7, [&] {
    if (!qv::ui::IsUiThread()) offUi = true;
    ++fired;
  });
  // A worker's request waits for the UI thread, which keeps serving while it waits here.
  auto fromWorker = [&](std::function<void()> request) {
    std::atomic<bool> done{false};
    std::thread worker([&] {
      request();
      done = true;
    });
    const bool served = WaitUntil([&] { return done.load(); });
    worker.join();
    return served;
  };
  ASSERT_TRUE(fromWorker([&] { host.ArmTimer(7, 30); }));
  ASSERT_TRUE(WaitUntil([&] { return fired >= 2; }));  // it repeats, as a Win32 timer does
  ASSERT_TRUE(fromWorker([&] { host.DisarmTimer(7); }));
  const int count = fired;
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < 200) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  EXPECT_EQ(fired.load(), count);
  EXPECT_FALSE(offUi.load());
}

}  // namespace
}  // namespace qv::test
