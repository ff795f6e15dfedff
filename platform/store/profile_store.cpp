#include "platform/store/profile_store.h"

#include <QSettings>
#include <QVariant>

namespace qv::store {
namespace {

QSettings UserSettings() {
  return QSettings(QSettings::NativeFormat, QSettings::UserScope, kOrganization, kApplication);
}

QString Key(const QString& section, const QString& entry) { return section + '/' + entry; }

}  // namespace

int GetProfileInt(const QString& section, const QString& entry, int defaultValue) {
  const QVariant v = UserSettings().value(Key(section, entry));
  if (!v.isValid()) return defaultValue;
  bool ok = false;
  const int value = v.toInt(&ok);
  return ok ? value : defaultValue;
}

bool WriteProfileInt(const QString& section, const QString& entry, int value) {
  QSettings s = UserSettings();
  s.setValue(Key(section, entry), value);
  return s.status() == QSettings::NoError;
}

QString GetProfileString(const QString& section, const QString& entry,
                         const QString& defaultValue) {
  const QVariant v = UserSettings().value(Key(section, entry));
  return v.isValid() ? v.toString() : defaultValue;
}

bool WriteProfileString(const QString& section, const QString& entry, const QString& value) {
  QSettings s = UserSettings();
  s.setValue(Key(section, entry), value);
  return s.status() == QSettings::NoError;
}

std::optional<QByteArray> GetProfileBinary(const QString& section, const QString& entry) {
  const QVariant v = UserSettings().value(Key(section, entry));
  if (!v.isValid() || v.typeId() != QMetaType::QByteArray) return std::nullopt;
  return v.toByteArray();
}

bool WriteProfileBinary(const QString& section, const QString& entry, const QByteArray& value) {
  QSettings s = UserSettings();
  s.setValue(Key(section, entry), value);
  return s.status() == QSettings::NoError;
}

bool HasProfileEntry(const QString& section, const QString& entry) {
  return UserSettings().contains(Key(section, entry));
}

QStringList ProfileEntries(const QString& section) {
  QSettings s = UserSettings();
  s.beginGroup(section);
  return s.childKeys();
}

void RemoveProfileEntry(const QString& section, const QString& entry) {
  UserSettings().remove(Key(section, entry));
}

void SyncProfile() { UserSettings().sync(); }

void UseFolderForTests(const QString& folder) {
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder);
  QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, folder + "/system");
}

QString GetMachineString(const QString& application, const QString& entry) {
  QSettings s(QSettings::NativeFormat, QSettings::SystemScope, kOrganization, application);
  return s.value(entry).toString();
}

}  // namespace qv::store
