// A list of recently used texts, most recent first, kept in a section of the per-user store.
//
// Position i is stored under the value name keyFormat formatted with i ("%d" gives "0", "1", ...).
// During a run the list may grow beyond capacity; only the first capacity entries are read and
// written.
#pragma once

#include <QString>
#include <QStringList>
#include <string>

class MruList {
 public:
  // The longest entry read back: what an edit field can hold.
  static constexpr int kMaxEntryLength = 32767;

  // Remembers where the list lives and reads its non-empty entries from positions 0..capacity-1.
  // A damaged entry (longer than kMaxEntryLength, more than one line, a repeat) is traced and
  // left out.
  void Load(const QString& section, const char* keyFormat, int capacity);
  // Puts text at the head, removing an equal entry first. An empty text is never kept.
  void Add(const QString& text);
  // Writes the entries at positions 0.. while an entry exists and the position is below capacity.
  // Names beyond the written ones are left as they are.
  void Save() const;

  const QStringList& Entries() const { return entries_; }
  int Capacity() const { return capacity_; }
  QString Section() const { return section_; }

  // The value name of position i.
  QString KeyName(int position) const;

 private:
  QString section_;
  std::string keyFormat_;
  int capacity_ = 0;
  QStringList entries_;
};
