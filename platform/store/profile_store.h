// The per-user settings store: sections of named int, string and binary values.
//
// It is QSettings with organization "QUELM" and application "quor_vix" in the native format
// (on Linux: $XDG_CONFIG_HOME/QUELM/quor_vix.conf). Ints are stored as ints, strings as strings,
// binary values as byte arrays, so records keep their sizes and layouts. Tests point
// XDG_CONFIG_HOME at a temporary folder before the first use (or call UseFolderForTests).
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

namespace qv::store {

inline constexpr const char* kOrganization = "QUELM";
inline constexpr const char* kApplication = "quor_vix";

int GetProfileInt(const QString& section, const QString& entry, int defaultValue);
bool WriteProfileInt(const QString& section, const QString& entry, int value);

QString GetProfileString(const QString& section, const QString& entry,
                         const QString& defaultValue = QString());
bool WriteProfileString(const QString& section, const QString& entry, const QString& value);

// Empty optional when the value is missing or not binary.
std::optional<QByteArray> GetProfileBinary(const QString& section, const QString& entry);
bool WriteProfileBinary(const QString& section, const QString& entry, const QByteArray& value);

bool HasProfileEntry(const QString& section, const QString& entry);
QStringList ProfileEntries(const QString& section);
void RemoveProfileEntry(const QString& section, const QString& entry);

// Writes pending changes to disk (the destructor of the program does it too).
void SyncProfile();

// Redirects the per-user store to folder (tests); the machine-wide store is redirected as well.
void UseFolderForTests(const QString& folder);

// The machine-wide store (QSettings system scope) of another application of the same company.
QString GetMachineString(const QString& application, const QString& entry);

}  // namespace qv::store
