#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <thread>

#include "platform/sync/clock.h"
#include "platform/sync/event.h"
#include "platform/sync/kernel_object.h"
#include "platform/ui/message_box.h"
#include "platform/ui/qt/qt_ui.h"
#include "platform/ui/ui_thread.h"
#include "tests/common/scripted_boxes.h"

namespace {

class MessageBoxTest : public ::testing::Test {
 protected:
  void SetUp() override { qv::ui::InstallQtUi(); }
  void TearDown() override { qv::ui::ClearUiThread(); }
};

TEST_F(MessageBoxTest, ScriptedBoxesRecordTextsExactlyAndAnswerInOrder) {
  qv::test::TestMessageBoxes boxes;
  boxes.Answer(IDRETRY);
  boxes.Answer(IDNO);
  EXPECT_EQ(MessageBoxA(nullptr, "Line one\r\nLine two  (err 5)", "quor_vix - Unexpected error",
                        MB_ABORTRETRYIGNORE | MB_ICONERROR | MB_TASKMODAL | MB_SETFOREGROUND),
            IDRETRY);
  EXPECT_EQ(MessageBoxA(nullptr, "Yes or no ?", "quor_vix", MB_YESNO | MB_ICONEXCLAMATION), IDNO);
  const auto shown = boxes.Boxes();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].text, "Line one\r\nLine two  (err 5)");
  EXPECT_EQ(shown[0].caption, "quor_vix - Unexpected error");
  EXPECT_EQ(shown[0].flags, 0x12012u);
  EXPECT_EQ(shown[1].flags, MB_YESNO | MB_ICONEXCLAMATION);
}

TEST_F(MessageBoxTest, WorkersBoxIsAnsweredWhileUiThreadSitsInPumpingWait) {
  qv::test::TestMessageBoxes boxes;
  boxes.Answer(IDOK);
  HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::thread::id shownOn;
  int answer = -1;
  std::thread worker([&] {
    answer = MessageBoxA(nullptr, "from the worker", "quor_vix", MB_OK | MB_ICONEXCLAMATION);
    SetEvent(done);
  });
  // Without serving the worker's request this wait would dead-lock until its time-out.
  EXPECT_EQ(qv::ui::PumpingWait(1, &done, 10000), WAIT_OBJECT_0);
  worker.join();
  EXPECT_EQ(answer, IDOK);
  ASSERT_EQ(boxes.Count(), 1u);
  CloseHandle(done);
  (void)shownOn;
}

TEST_F(MessageBoxTest, ANestedWaitServesRequestsQueuedBeforeItBegan) {
  // Request a waits for what request b does; both are queued before the UI thread waits, so the
  // outer wait takes their one wake and runs a, whose own wait must serve b.
  HANDLE bRan = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE bothDone = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  DWORD nested = WAIT_FAILED;
  std::thread a(
      [&] { qv::ui::RunOnUiThread([&] { nested = qv::ui::PumpingWait(1, &bRan, 2000); }); });
  Sleep(100);
  std::thread b([&] {
    qv::ui::RunOnUiThread([&] { SetEvent(bRan); });
    a.join();
    SetEvent(bothDone);
  });
  Sleep(200);  // both queued, nothing served yet
  EXPECT_EQ(qv::ui::PumpingWait(1, &bothDone, 10000), WAIT_OBJECT_0);
  b.join();
  EXPECT_EQ(nested, WAIT_OBJECT_0);
  CloseHandle(bRan);
  CloseHandle(bothDone);
}

TEST_F(MessageBoxTest, WorkerRequestsRunOnTheUiThreadFromTheEventLoop) {
  std::thread::id ranOn;
  std::thread worker([&] { qv::ui::RunOnUiThread([&] { ranOn = std::this_thread::get_id(); }); });
  // The worker's request wakes the Qt event loop.
  QTimer::singleShot(5000, qApp, [] { qApp->quit(); });
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (ranOn != std::thread::id()) qApp->quit();
  });
  poll.start(5);
  qApp->exec();
  worker.join();
  EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST_F(MessageBoxTest, QtBoxHasTheFlagsButtonsAndSelectableText) {
  qv::ui::QtMessageBoxes qtBoxes;
  qv::ui::SetMessageBoxProvider(&qtBoxes);
  QString seenText;
  QStringList buttons;
  bool selectable = false;
  QTimer::singleShot(0, [&] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
        seenText = box->text();
        for (auto* b : box->buttons()) buttons << b->text();
        selectable = box->textInteractionFlags() & Qt::TextSelectableByMouse;
        for (auto* b : box->buttons())
          if (b->text() == "&Retry") b->click();
      }
    }
  });
  const int r = MessageBoxA(nullptr, "Something failed", "quor_vix - Unexpected error",
                            MB_ABORTRETRYIGNORE | MB_ICONERROR);
  qv::ui::SetMessageBoxProvider(nullptr);
  EXPECT_EQ(r, IDRETRY);
  EXPECT_EQ(seenText, "Something failed");
  EXPECT_EQ(buttons, (QStringList{"&Abort", "&Retry", "&Ignore"}));
  EXPECT_TRUE(selectable);
}

TEST_F(MessageBoxTest, OwnerlessBoxGoesOverTheVisibleMainWindow) {
  qv::ui::QtMessageBoxes qtBoxes;
  qv::ui::SetMessageBoxProvider(&qtBoxes);
  QWidget mainWindow;
  mainWindow.show();
  QWidget* boxParent = &mainWindow;  // overwritten with what the box really had
  QTimer::singleShot(0, [&] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
        boxParent = box->parentWidget();
        box->accept();
      }
    }
  });
  QApplication::setActiveWindow(nullptr);
  MessageBoxA(nullptr, "Event (Error) waiting", "quor_vix", MB_OK);
  qv::ui::SetMessageBoxProvider(nullptr);
  EXPECT_EQ(boxParent, &mainWindow);
}

}  // namespace
