// Switching the desktop program's start at login on and off writes the user's autostart entry.
#include <gtest/gtest.h>

#include <QFile>
#include <cstdlib>

#include "desktop/shell/Autostart.h"
#include "tests/support/TempDir.h"

namespace {

QString ReadAll(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return QString();
  return QString::fromUtf8(file.readAll());
}

TEST(AutostartTest, OnWritesAnEntryStartingTheProgramAndOffHidesIt) {
  TempDir dir;
  ::setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
  const QString entry = QString::fromStdString(dir.file("autostart/quellanview.desktop"));
  ASSERT_EQ(AutostartEntryPath(), entry);

  ASSERT_TRUE(SetAutostart(true, QStringLiteral("/opt/my apps/quellanview")));
  QString text = ReadAll(entry);
  EXPECT_TRUE(text.startsWith(QStringLiteral("[Desktop Entry]\n"))) << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("\nExec=\"/opt/my apps/quellanview\"\n")));
  EXPECT_TRUE(text.contains(QStringLiteral("\nHidden=false\n")));

  ASSERT_TRUE(SetAutostart(false, QStringLiteral("/usr/bin/quellanview")));
  text = ReadAll(entry);
  EXPECT_TRUE(text.contains(QStringLiteral("\nExec=/usr/bin/quellanview\n")));
  EXPECT_TRUE(text.contains(QStringLiteral("\nHidden=true\n")));
  ::unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
