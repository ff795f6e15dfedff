#include "support/mru_combo_box.h"

#include <QTimer>

MruComboBox::MruComboBox(QWidget* parent) : QComboBox(parent) {
  // Only Add changes the list: Return in the edit field must not insert the text by itself.
  setInsertPolicy(QComboBox::NoInsert);
}

MruComboBox::~MruComboBox() { history_.Save(); }

void MruComboBox::Load(const QString& section, const char* keyFormat, int capacity) {
  if (!notLoaded_) return;
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
  QComboBox::hidePopup();
  // Qt selects the clicked entry only after the pop-up has closed: promote once it has.
  QTimer::singleShot(0, this, [this] { Promote(); });
}
