// The desktop program's own files in the program folder are the user's alone, whatever the
// process's umask and the folder's mode: the settings with the password digest, the page's
// store, the log and the task lists.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "desktop/log/MLog.h"
#include "desktop/settings/CConfig.h"
#include "desktop/transfers/TaskListFile.h"
#include "tests/support/TempDir.h"

namespace {

mode_t PermissionsOf(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_mode & 07777;
}

TEST(ProgramFilesTest, DesktopFilesAreMadeForTheirUserAlone) {
  TempDir dir;
  const mode_t umaskBefore = ::umask(022);  // the usual one, which leaves new files readable
  CConfig settings(QString::fromStdString(dir.file("tarvex.ini")));
  settings.setPassWord(QStringLiteral("0123456789abcdef0123456789abcdef"));
  settings.save(QStringLiteral("page key"), QStringLiteral("page value"));
  { MLog(QString::fromStdString(dir.file("quellan.log"))).write(QStringLiteral("a line")); }
  tasklistfile::Tasks tasks;
  tasks["1"] = std::make_unique<TaskRecord>();
  for (const char* list : {".tasklist", ".tasklist.u"}) {
    tasklistfile::Save(QString::fromStdString(dir.file(list)), tasks,
                       [](const TaskFields&) { return std::string("line\n"); });
  }
  ::umask(umaskBefore);

  for (const char* name : {"tarvex.ini", ".data", "quellan.log", ".tasklist", ".tasklist.u"}) {
    EXPECT_EQ(PermissionsOf(dir.file(name)), 0600u) << name;
  }
  // What was written is still there: the settings writer kept the file made for it.
  CConfig reread(QString::fromStdString(dir.file("tarvex.ini")));
  reread.load();
  EXPECT_EQ(reread.passWord, QStringLiteral("0123456789abcdef0123456789abcdef"));
  EXPECT_EQ(settings.read(QStringLiteral("page key")), QStringLiteral("page value"));
}

}  // namespace
