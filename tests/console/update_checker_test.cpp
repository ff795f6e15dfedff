// The update checker named in the machine-wide settings is started with the program's path.
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include "console/update_checker.h"
#include "platform/sync/library.h"
#include "tests/console/console_fixture.h"

using qv::test::ConsoleTest;

TEST_F(ConsoleTest, UpdateCheckerGetsTheProgramPath) {
  EXPECT_FALSE(qv::console::LaunchUpdateChecker()) << "no key: nothing is started";

  QTemporaryDir work;
  ASSERT_TRUE(work.isValid());
  const QString script = work.filePath("checker.sh");
  const QString out = work.filePath("args.txt");
  {
    QFile f(script);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QStringLiteral("#!/bin/sh\nprintf '%s|%s' \"$#\" \"$1\" > '%1.tmp'\nmv '%1.tmp' '%1'\n")
                .arg(out)
                .toUtf8());
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }
  {
    QSettings machine(QSettings::NativeFormat, QSettings::SystemScope, "QUELM", "Zentrik");
    machine.setValue("Path", script);
  }
  ASSERT_TRUE(qv::console::LaunchUpdateChecker());
  ASSERT_TRUE(WaitUntil([&] { return QFile::exists(out); }, 10000));
  QFile f(out);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  char self[4096];
  const DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
  EXPECT_EQ(QString::fromUtf8(f.readAll()), "1|" + QString::fromLocal8Bit(self, n));

  {
    QSettings machine(QSettings::NativeFormat, QSettings::SystemScope, "QUELM", "Zentrik");
    machine.setValue("Path", work.filePath("missing-program"));
  }
  EXPECT_FALSE(qv::console::LaunchUpdateChecker()) << "a failed start is silent";
}
