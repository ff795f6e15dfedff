// An editable combo box that keeps a history of the texts most recently used in it, saved in the per-user
// store and reloaded at the next start. History entries always sit behind the entries the
// dialog's template gave the box before Load (the fixed entries).
//
// The console's send-line combo 1020 loads with section "SendMRU", format "%d" and capacity 10,
// calls Add on every send, and the history is saved when the box is destroyed.
#pragma once

#include <QComboBox>

#include "support/mru_list.h"

class MruComboBox : public QComboBox {
 public:
  explicit MruComboBox(QWidget* parent = nullptr);
  ~MruComboBox() override;  // saves the history

  // Once, after the fixed entries are in: reads the history and appends it to the list. Does not
  // change the edit text.
  void Load(const QString& section, const char* keyFormat, int capacity);
  // A text was used: it moves to (or is inserted at) the top of the history entries and becomes
  // the selection, and heads the saved history unless it is empty. A text equal to a fixed entry
  // changes nothing. Nothing happens before Load.
  void Add(const QString& text);
  // The drop-down list closed on a choice: the selected history entry moves to the top of the
  // history entries (the saved history does not change). Runs by itself when the user chooses
  // an entry in the open list (click, Return); closing the list without a choice (Escape, a
  // click outside) changes neither the list nor the edit text.
  void Promote();

  bool IsLoaded() const { return !notLoaded_; }
  int FixedCount() const { return fixedCount_; }
  const MruList& History() const { return history_; }

  void hidePopup() override;

 private:
  int FindExact(const QString& text) const;
  // The box never completes typed text from its list.
  void KeepTypedText();

  bool notLoaded_ = true;
  int fixedCount_ = 0;
  bool closingPopup_ = false;  // between the list's close and the choice it reports
  MruList history_;
};
