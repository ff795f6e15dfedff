// The send-line history: order, capacity across a restart, promotion from the drop-down list,
// empty texts and template entries.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTemporaryDir>
#include <memory>

#include "platform/store/profile_store.h"
#include "support/mru_combo_box.h"
#include "tests/common/key_input.h"

namespace {

class MruComboBoxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    qv::store::UseFolderForTests(dir_.path());
  }

  // A send-line box as the console makes it: editable, loaded, then its edit text set.
  std::unique_ptr<MruComboBox> MakeBox(const QStringList& templateEntries = {}) {
    auto box = std::make_unique<MruComboBox>();
    box->setEditable(true);
    box->addItems(templateEntries);
    box->Load("SendMRU", "%d", 10);
    box->setEditText("ATE1V1&K3+CMEE=1");
    return box;
  }

  static QStringList Items(const QComboBox& box) {
    QStringList items;
    for (int i = 0; i < box.count(); ++i) items << box.itemText(i);
    return items;
  }

  static QStringList Stored() {
    QStringList values;
    for (int i = 0; i < 12; ++i) {
      const QString name = QString::number(i);
      if (qv::store::HasProfileEntry("SendMRU", name))
        values << qv::store::GetProfileString("SendMRU", name);
    }
    return values;
  }

  QTemporaryDir dir_;
};

TEST_F(MruComboBoxTest, KeepsTheTenNewestAcrossARestartNewestFirst) {
  {
    auto box = MakeBox();
    for (int i = 1; i <= 11; ++i) box->Add(QString("AT+T%1").arg(i));
    EXPECT_EQ(box->count(), 11);  // the run keeps all of them
    EXPECT_EQ(box->itemText(0), "AT+T11");
    EXPECT_EQ(box->currentText(), "AT+T11");
    EXPECT_TRUE(Stored().isEmpty());  // nothing is written while the program runs
  }
  QStringList expected;
  for (int i = 11; i >= 2; --i) expected << QString("AT+T%1").arg(i);
  EXPECT_EQ(Stored(), expected);
  EXPECT_EQ(qv::store::GetProfileString("SendMRU", "0"), "AT+T11");
  EXPECT_EQ(qv::store::GetProfileString("SendMRU", "9"), "AT+T2");

  auto restarted = MakeBox();
  EXPECT_EQ(Items(*restarted), expected);
  EXPECT_EQ(restarted->currentText(), "ATE1V1&K3+CMEE=1");  // loading leaves the edit text alone
}

TEST_F(MruComboBoxTest, AddingAKnownTextMovesItToTheTopWithoutDuplicates) {
  {
    auto box = MakeBox();
    box->Add("AT");
    box->Add("ATI");
    box->Add("AT+CGMI");
    box->Add("AT");
    box->Add("AT");
    EXPECT_EQ(Items(*box), (QStringList{"AT", "AT+CGMI", "ATI"}));
    box->Add("at");  // a different text: case counts
    EXPECT_EQ(Items(*box), (QStringList{"at", "AT", "AT+CGMI", "ATI"}));
  }
  EXPECT_EQ(Stored(), (QStringList{"at", "AT", "AT+CGMI", "ATI"}));
}

TEST_F(MruComboBoxTest, AnEmptyTextIsListedDuringTheRunButNeverSaved) {
  {
    auto box = MakeBox();
    box->Add("ATI");
    box->Add("");
    box->Add("");
    EXPECT_EQ(Items(*box), (QStringList{"", "ATI"}));
    EXPECT_EQ(box->History().Entries(), QStringList{"ATI"});
  }
  EXPECT_EQ(Stored(), QStringList{"ATI"});
}

TEST_F(MruComboBoxTest, ChosenOlderEntryMovesUpAtOnceButIsSavedFirstOnlyOnceSent) {
  {
    auto box = MakeBox();
    for (const char* t : {"A1", "A2", "A3", "A4"}) box->Add(t);
    box->show();
    qv::test::ChooseFromList(*box, 2);  // "A2"
    EXPECT_EQ(Items(*box), (QStringList{"A2", "A4", "A3", "A1"}));
    EXPECT_EQ(box->currentText(), "A2");
  }
  EXPECT_EQ(Stored(), (QStringList{"A4", "A3", "A2", "A1"}));  // promotion alone saves nothing new
  {
    auto box = MakeBox();
    box->show();
    qv::test::ChooseFromList(*box, 2);  // "A2"
    box->Add(box->currentText());       // sent
  }
  EXPECT_EQ(Stored(), (QStringList{"A2", "A4", "A3", "A1"}));
}

TEST_F(MruComboBoxTest, ChoosingFromTheOpenListWithTheKeyboardPromotes) {
  auto box = MakeBox();
  for (const char* t : {"B1", "B2", "B3"}) box->Add(t);
  box->show();
  box->showPopup();
  QAbstractItemView* view = box->view();
  view->setCurrentIndex(box->model()->index(2, 0));  // "B1"
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QApplication::sendEvent(view, &enter);
  QApplication::processEvents();
  EXPECT_EQ(Items(*box), (QStringList{"B1", "B3", "B2"}));
  EXPECT_EQ(box->currentText(), "B1");
}

TEST_F(MruComboBoxTest, ClosingTheListWithoutAChoiceKeepsTheTypedTextAndTheOrder) {
  auto box = MakeBox();
  for (const char* t : {"C1", "C2", "C3"}) box->Add(t);
  box->show();
  box->setEditText("AT+typed");
  qv::test::EscapeFromList(*box, 2);
  EXPECT_EQ(box->currentText().toStdString(), "AT+typed");
  EXPECT_EQ(Items(*box), (QStringList{"C3", "C2", "C1"}));

  qv::test::ClickBesideList(*box, 1);
  EXPECT_FALSE(box->view()->window()->isVisible());
  EXPECT_EQ(box->currentText().toStdString(), "AT+typed");
  EXPECT_EQ(Items(*box), (QStringList{"C3", "C2", "C1"}));

  // Arrow keys in the closed box walk through the history without reordering it.
  qv::test::PressKey(box->lineEdit(), Qt::Key_Down);
  qv::test::PressKey(box->lineEdit(), Qt::Key_Down);
  QApplication::processEvents();
  EXPECT_EQ(Items(*box), (QStringList{"C3", "C2", "C1"}));
}

TEST_F(MruComboBoxTest, TypedTextIsNeverCompletedFromTheHistory) {
  auto box = MakeBox();
  for (const char* t : {"AT+CGMI", "ATI"}) box->Add(t);
  QWidget* focused = qv::test::FocusForTyping(box.get());
  QLineEdit* edit = box->lineEdit();
  ASSERT_TRUE(focused == box.get() || focused == edit) << "keys go to the box";
  for (const char* typed : {"AT", "at+c", "at+cgmi"}) {
    edit->clear();
    qv::test::TypeKeys(QApplication::focusWidget(), typed);
    EXPECT_EQ(box->currentText().toStdString(), typed);
  }
  // Return in the edit field keeps the typed case too.
  qv::test::PressKey(edit, Qt::Key_Return);
  QApplication::processEvents();
  EXPECT_EQ(box->currentText(), "at+cgmi");
  EXPECT_EQ(Items(*box), (QStringList{"ATI", "AT+CGMI"}));
}

TEST_F(MruComboBoxTest, TemplateEntriesStayFirstAndAreNeverMovedOrSaved) {
  {
    auto box = MakeBox({"AT", "ATZ"});
    EXPECT_EQ(box->FixedCount(), 2);
    box->Add("ATI");
    box->Add("ATZ");  // equal to a template entry: nothing changes
    EXPECT_EQ(Items(*box), (QStringList{"AT", "ATZ", "ATI"}));
    box->show();
    qv::test::ChooseFromList(*box, 1);  // a template entry stays where it is
    EXPECT_EQ(Items(*box), (QStringList{"AT", "ATZ", "ATI"}));
    box->Add("AT+CSQ");
    EXPECT_EQ(Items(*box), (QStringList{"AT", "ATZ", "AT+CSQ", "ATI"}));
  }
  EXPECT_EQ(Stored(), (QStringList{"AT+CSQ", "ATI"}));
  auto restarted = MakeBox({"AT", "ATZ"});
  EXPECT_EQ(Items(*restarted), (QStringList{"AT", "ATZ", "AT+CSQ", "ATI"}));
}

TEST_F(MruComboBoxTest, NothingHappensBeforeLoad) {
  qv::store::WriteProfileString("SendMRU", "0", "old");
  {
    MruComboBox box;
    box.setEditable(true);
    box.Add("new");
    box.setCurrentIndex(-1);
    box.Promote();
    EXPECT_EQ(box.count(), 0);
  }
  EXPECT_EQ(Stored(), QStringList{"old"});
}

TEST(MruList, ReadsAndWritesOnlyTheFirstCapacityPositions) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  qv::store::UseFolderForTests(dir.path());
  qv::store::WriteProfileString("Hist", "item2", "two");
  qv::store::WriteProfileString("Hist", "item0", "zero");
  qv::store::WriteProfileString("Hist", "item3", "beyond");  // past the capacity
  MruList list;
  list.Load("Hist", "item%d", 3);
  EXPECT_EQ(list.Entries(), (QStringList{"zero", "two"}));  // the empty position is skipped
  list.Add("new");
  list.Add("two");
  list.Add("more");
  list.Save();
  EXPECT_EQ(qv::store::GetProfileString("Hist", "item0"), "more");
  EXPECT_EQ(qv::store::GetProfileString("Hist", "item1"), "two");
  EXPECT_EQ(qv::store::GetProfileString("Hist", "item2"), "new");
  EXPECT_EQ(qv::store::GetProfileString("Hist", "item3"), "beyond");  // left as it was
}

}  // namespace
