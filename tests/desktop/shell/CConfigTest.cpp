// The desktop settings store against the drive program's settings reader and writer, and
// the page's key-value store.
#include <gtest/gtest.h>

#include <QSettings>
#include <fstream>

#include "desktop/settings/CConfig.h"
#include "platform/profile/Profile.h"
#include "tests/support/TempDir.h"

namespace {

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
  EXPECT_EQ(missing.defaultPath, "/QLDownloads/");

  std::ofstream(dir.file("tarvex.ini")) << "[Set]\nWidth=wide\nHeight=690\nProcess=a,,b\n";
  CConfig config(Q(dir.file("tarvex.ini")));
  config.load();
  EXPECT_EQ(config.width, 0);
  EXPECT_EQ(config.height, 690);
  EXPECT_EQ(config.process, "a,,b");
}

TEST(CConfigTest, DefaultDownloadFolderKeepsTheDrivePrefix) {
  EXPECT_EQ(CConfig::DefaultDownloadFolder("D:/Programs/Ondrel"), "D:/QLDownloads/");
  EXPECT_EQ(CConfig::DefaultDownloadFolder("/opt/ondrel"), "/QLDownloads/");
  EXPECT_EQ(CConfig::DefaultDownloadFolder(""), "/QLDownloads/");
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
