#include "console/update_checker.h"

#include <QProcess>
#include <QStringList>

#include "platform/store/profile_store.h"
#include "platform/sync/library.h"

namespace qv::console {

bool LaunchUpdateChecker() {
  const QString path =
      qv::store::GetMachineString(QStringLiteral("Zentrik"), QStringLiteral("Path"));
  // The stored path is at most 260 bytes, as the store's value always was.
  if (path.isEmpty() || path.toLocal8Bit().size() > 260) return false;
  char self[4096];
  const DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
  if (n == 0 || n >= sizeof self) return false;
  // Started detached: no handles inherited, nothing kept.
  return QProcess::startDetached(path, QStringList{QString::fromLocal8Bit(self, n)});
}

}  // namespace qv::console
