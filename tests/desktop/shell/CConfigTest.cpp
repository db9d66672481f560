// The desktop settings store against the drive program's settings reader and writer, and
// the page's key-value store.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QSettings>
#include <filesystem>
#include <fstream>

#include "desktop/settings/CConfig.h"
#include "platform/profile/Profile.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;

QString Q(const std::string& text) { return QString::fromStdString(text); }

std::u16string U(const QString& text) {
  return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()), text.size());
}

TEST(CConfigTest, MissingFileGivesDefaultsAndTextNumbersReadAsZero) {
  TempDir dir;
  CConfig missing(Q(dir.file("none.ini")));
  missing.load();
  EXPECT_EQ(missing.driveLetter, "M");
  EXPECT_EQ(missing.cacheMod, 2);
  EXPECT_EQ(missing.maxDiskCache, 100);
  EXPECT_EQ(missing.serverAddress, "127.0.0.1");
  EXPECT_EQ(missing.width, 0);
  EXPECT_EQ(missing.defaultPath, CConfig::UserDownloadFolder() + "/QLDownloads/");

  std::ofstream(dir.file("tarvex.ini")) << "[Set]\nWidth=wide\nHeight=690\nProcess=a,,b\n";
  CConfig config(Q(dir.file("tarvex.ini")));
  config.load();
  EXPECT_EQ(config.width, 0);
  EXPECT_EQ(config.height, 690);
  EXPECT_EQ(config.process, "a,,b");
}

// The default download folder follows the desktop's download folder, is made on load, and
// is never made at the file-system root when the user has no home folder.
TEST(CConfigTest, DefaultDownloadFolderIsInsideTheUsersDownloadFolder) {
  TempDir home;
  ScopedEnv config("XDG_CONFIG_HOME", home.file("config"));
  fs::create_directories(home.file("config"));
  struct Row {
    std::string home;
    std::string userDirs;  // user-dirs.dirs, none when empty
    std::string expected;  // the default, "" when it must not be created
  };
  const bool rootHasDownloads = fs::exists("/Downloads");
  const Row rows[] = {
      {home.path(), "", home.file("Downloads/QLDownloads/")},
      {home.path(), "XDG_DOWNLOAD_DIR=\"$HOME/下载\"\n", home.file("下载/QLDownloads/")},
      {"/", "", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.home + " / " + row.userDirs);
    ScopedEnv homeVariable("HOME", row.home);
    fs::remove(home.file("config/user-dirs.dirs"));
    if (!row.userDirs.empty()) std::ofstream(home.file("config/user-dirs.dirs")) << row.userDirs;
    CConfig settings(Q(home.file("tarvex.ini")));
    settings.load();
    if (row.expected.empty()) {
      EXPECT_EQ(settings.defaultPath, "/Downloads/QLDownloads/");
      EXPECT_EQ(fs::exists("/Downloads"), rootHasDownloads) << "made at the file-system root";
      continue;
    }
    EXPECT_EQ(settings.defaultPath, Q(row.expected));
    EXPECT_TRUE(fs::is_directory(row.expected));
  }
}

// Loads a settings file whose download folder is `stored` as user `uid` (a child process when
// that is another user) and gives the folder it reads.
std::string DownloadFolderReadAs(uid_t uid, const TempDir& home, const std::string& stored) {
  std::ofstream(home.file("tarvex.ini")) << "[Set]\nDefaultPath=" << stored << "\n";
  fs::permissions(home.path(), fs::perms::all);
  auto readFolder = [&] {
    ScopedEnv homeVariable("HOME", home.path());
    ScopedEnv config("XDG_CONFIG_HOME", home.file("config"));
    CConfig settings(Q(home.file("tarvex.ini")));
    settings.load();
    return settings.defaultPath.toStdString();
  };
  if (uid == ::getuid()) return readFolder();
  int answer[2];
  if (::pipe(answer) != 0) return "no pipe";
  pid_t child = ::fork();
  if (child == 0) {
    ::close(answer[0]);
    if (::setgid(uid) != 0 || ::setuid(uid) != 0) _exit(1);
    std::string folder = readFolder();
    _exit(::write(answer[1], folder.data(), folder.size()) == ssize_t(folder.size()) ? 0 : 1);
  }
  ::close(answer[1]);
  std::string folder;
  char buffer[512];
  for (ssize_t got; (got = ::read(answer[0], buffer, sizeof buffer)) > 0;)
    folder.append(buffer, got);
  ::close(answer[0]);
  ::waitpid(child, nullptr, 0);
  return folder;
}

// Earlier versions stored "/QLDownloads/" as the default; where the user cannot write it, the
// new default takes its place. Any other stored folder stays as it is.
TEST(CConfigTest, OldRootDefaultThatTheUserCannotWriteGivesWayToTheNewOne) {
  TempDir home;
  const uid_t user = ::getuid() == 0 ? 65534 : ::getuid();  // root reads as "nobody"
  if (::access("/QLDownloads", W_OK) == 0 && user == ::getuid())
    GTEST_SKIP() << "/QLDownloads is writable for this user";
  EXPECT_EQ(DownloadFolderReadAs(user, home, "/QLDownloads/"), home.file("Downloads/QLDownloads/"));
  EXPECT_EQ(DownloadFolderReadAs(user, home, "/srv/shared/"), "/srv/shared/");
}

TEST(CConfigTest, BothProgramsReadWhatTheOtherWrote) {
  TempDir dir;
  std::string ini = dir.file("tarvex.ini");
  CConfig config(Q(ini));
  config.setUserName(QStringLiteral("张三 user"));
  config.setPassWord(QStringLiteral("0123456789abcdef0123456789abcdef"));
  config.setDriveLetter(QStringLiteral("Q"));
  config.setDefaultPath(QStringLiteral("/home/张三/下载/"));
  config.setRun(1);
  config.setCacheMod(3);
  config.setDebug(7);
  config.setMaxDiskCache(250);
  // Every write is on disk at once, each under its own key.
  EXPECT_EQ(GetPrivateProfileString(u"User", u"UserName", u"", ini), u"张三 user");
  EXPECT_EQ(GetPrivateProfileString(u"User", u"PassWord", u"", ini),
            u"0123456789abcdef0123456789abcdef");
  EXPECT_EQ(GetPrivateProfileString(u"Set", u"DriveLetter", u"", ini), u"Q");
  EXPECT_EQ(GetPrivateProfileString(u"Set", u"DefaultPath", u"", ini), u"/home/张三/下载/");
  EXPECT_EQ(GetPrivateProfileString(u"Set", u"Run", u"", ini), u"1");
  EXPECT_EQ(GetPrivateProfileString(u"Set", u"CacheMod", u"", ini), u"3");
  EXPECT_EQ(GetPrivateProfileString(u"Set", u"Debug", u"", ini), u"7");
  EXPECT_EQ(GetPrivateProfileString(u"Set", u"MaxDiskCache", u"", ini), u"250");

  // The other way round, in a file this process has not read before (QSettings caches).
  std::string other = dir.file("other.ini");
  WritePrivateProfileString(u"User", u"UserName", u"李四,王五", other);
  WritePrivateProfileString(u"Set", u"Width", u"800", other);
  WritePrivateProfileString(u"Set", u"DriveLetter", u"K", other);
  CConfig reader(Q(other));
  reader.load();
  EXPECT_EQ(U(reader.userName), u"李四,王五");
  EXPECT_EQ(reader.width, 800);
  EXPECT_EQ(reader.driveLetter, "K");
}

TEST(CConfigTest, PageStoreRoundTripsAndEmptyValueRemovesTheKey) {
  TempDir dir;
  CConfig config(Q(dir.file("tarvex.ini")));
  const QString pairs[][2] = {{"lastFolder", "/我的空间/照片"},
                              {"\?\?\?", "值 with = and ;"},
                              {"键名", "ünïcödé"},
                              {"a", "b"}};
  for (const auto& pair : pairs) config.save(pair[0], pair[1]);
  for (const auto& pair : pairs) EXPECT_EQ(config.read(pair[0]), pair[1]);
  EXPECT_EQ(config.read("never"), "");

  config.save("a", "");
  EXPECT_EQ(config.read("a"), "");
  QSettings store(Q(dir.file(".data")), QSettings::IniFormat);
  store.setIniCodec("UTF-8");
  EXPECT_FALSE(store.contains("data/YQ=="));
  // Keys and values are stored as Base64 only; "???" encodes as "Pz8/", whose slash opens a
  // group below "data".
  EXPECT_EQ(store.value("data/bGFzdEZvbGRlcg==").toString(),
            QString::fromLatin1(QStringLiteral("/我的空间/照片").toUtf8().toBase64()));
  EXPECT_EQ(store.childGroups(), QStringList{"data"});
}

}  // namespace
