#include "support/mru_list.h"

#include <cstdio>

#include "platform/store/profile_store.h"
#include "platform/sync/debug_output.h"

QString MruList::KeyName(int position) const {
  char name[64];
  // The format comes from the program itself ("%d"), never from stored data.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  std::snprintf(name, sizeof name, keyFormat_.c_str(), position);
#pragma GCC diagnostic pop
  return QString::fromUtf8(name);
}

void MruList::Load(const QString& section, const char* keyFormat, int capacity) {
  section_ = section;
  keyFormat_ = keyFormat != nullptr ? keyFormat : "%d";
  capacity_ = capacity;
  entries_.clear();
  for (int i = 0; i < capacity_; ++i) {
    const QString value = qv::store::GetProfileString(section_, KeyName(i));
    if (value.isEmpty()) continue;
    // What Add keeps is one line of an edit field, each text once: anything else is damage.
    const bool oneLine = !value.contains(QLatin1Char('\r')) && !value.contains(QLatin1Char('\n')) &&
                         !value.contains(QChar(0));
    const char* damage = value.size() > kMaxEntryLength ? "too long"
                         : !oneLine                     ? "not one line"
                         : entries_.contains(value)     ? "a repeated entry"
                                                        : nullptr;
    if (damage == nullptr) {
      entries_ << value;
      continue;
    }
    const std::string text = "Stored history entry " + (section_ + '/' + KeyName(i)).toStdString() +
                             " is " + damage + ": left out\n";
    OutputDebugStringA(text.c_str());
  }
}

void MruList::Add(const QString& text) {
  if (text.isEmpty()) return;
  entries_.removeAll(text);
  entries_.prepend(text);
}

void MruList::Save() const {
  if (section_.isEmpty()) return;
  for (int i = 0; i < entries_.size() && i < capacity_; ++i)
    qv::store::WriteProfileString(section_, KeyName(i), entries_[i]);
}
