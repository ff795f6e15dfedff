#include "support/mru_combo_box.h"

#include <QAbstractItemView>
#include <QTimer>

MruComboBox::MruComboBox(QWidget* parent) : QComboBox(parent) {
  // The send-line box is an editable one. Only Add changes the list: Return in the edit field
  // must not insert the text by itself.
  setEditable(true);
  setInsertPolicy(QComboBox::NoInsert);
  KeepTypedText();
  // Promotion follows a real choice in the open list, never a mere close-up (Escape, a click
  // outside). The open list closes before it reports the choice, so hidePopup opens the window
  // and the choice that follows in the same event closes it.
  connect(this, &QComboBox::activated, this, [this](int) {
    if (!closingPopup_) return;
    closingPopup_ = false;
    // The chosen entry is selected by now; moving it while Qt still reports the choice would
    // pull the list from under its own handler.
    QTimer::singleShot(0, this, [this] { Promote(); });
  });
}

MruComboBox::~MruComboBox() { history_.Save(); }

void MruComboBox::KeepTypedText() {
  // Qt gives an editable box an inline completer that matches the list without regard to case:
  // "AT" typed over a history holding "ATI" would read back as "ATI", and Return would replace
  // "at+cgmi" by a listed "AT+CGMI". What the user typed is what gets sent.
  if (isEditable()) setCompleter(nullptr);
}

void MruComboBox::Load(const QString& section, const char* keyFormat, int capacity) {
  if (!notLoaded_) return;
  KeepTypedText();  // the owner may have given the box another edit field meanwhile
  fixedCount_ = count();
  history_.Load(section, keyFormat, capacity);
  const QString editText = currentText();
  const int selected = currentIndex();
  const QStringList& entries = history_.Entries();
  for (int i = 0; i < entries.size() && i < capacity; ++i) addItem(entries[i]);
  // Filling an empty box selects its first entry; loading leaves selection and edit text alone.
  setCurrentIndex(selected);
  if (isEditable()) setEditText(editText);
  notLoaded_ = false;
}

int MruComboBox::FindExact(const QString& text) const {
  for (int i = 0; i < count(); ++i)
    if (itemText(i) == text) return i;
  return -1;
}

void MruComboBox::Add(const QString& text) {
  if (notLoaded_) return;
  const int found = FindExact(text);
  if (found >= 0 && found < fixedCount_) return;
  if (found >= fixedCount_) removeItem(found);
  insertItem(fixedCount_, text);
  setCurrentIndex(fixedCount_);
  history_.Add(text);
}

void MruComboBox::Promote() {
  if (notLoaded_) return;
  const int selected = currentIndex();
  if (selected < 0 || selected < fixedCount_) return;
  const QString text = itemText(selected);
  removeItem(selected);
  insertItem(fixedCount_, text);
  setCurrentIndex(fixedCount_);
}

void MruComboBox::hidePopup() {
  const bool wasOpen = view()->window()->isVisible();
  QComboBox::hidePopup();
  if (!wasOpen) return;
  // A choice reports itself right after this, in the same event; anything later is not one.
  closingPopup_ = true;
  QTimer::singleShot(0, this, [this] { closingPopup_ = false; });
}
