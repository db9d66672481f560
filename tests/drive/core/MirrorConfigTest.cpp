#include <gtest/gtest.h>

#include "drive/core/DriveProcess.h"
#include "drive/core/MirrorConfig.h"
#include "platform/codepage/CodePage.h"
#include "tests/drive/core/TestFiles.h"

namespace {

class MirrorConfigTest : public ::testing::Test {
 protected:
  void SetUp() override { drive.openLog(dir.file("mirror.log")); }
  MirrorConfig configWith(const std::string& text) {
    WriteFile(dir.file("tarvex.ini"), text);
    return MirrorConfig(codepage::Utf8ToWide(dir.file("tarvex.ini")));
  }
  std::vector<std::string> logLines() { return LogTexts(dir.file("mirror.log")); }

  TempDir dir;
  DriveProcess drive;
};

TEST(DebugValueTest, WordsAndNumbers) {
  EXPECT_EQ(ParseDebugValue(u"true"), 9);
  EXPECT_EQ(ParseDebugValue(u"TRUE"), 0);
  EXPECT_EQ(ParseDebugValue(u"false"), 0);
  EXPECT_EQ(ParseDebugValue(u"31"), 31);
  EXPECT_EQ(ParseDebugValue(u"x"), 0);
  EXPECT_EQ(ParseDebugValue(u"12ab"), 12);
  EXPECT_EQ(ParseDecimal(u"99999999999999"), INT32_MAX);
  EXPECT_EQ(ParseDecimal(u"-3"), -3);
}

TEST_F(MirrorConfigTest, MissingKeysGiveTheDefaults) {
  // Keys that are present but empty count as missing.
  MirrorConfig config = configWith("[Set]\nRun=\nDriveLetter=\nServerAddress=  \n");
  ASSERT_EQ(config.readSettings(drive), 0);
  EXPECT_EQ(config.Debug, 0);
  EXPECT_EQ(config.CacheMod, 2);
  EXPECT_EQ(config.MaxDiskCache, 300);
  EXPECT_EQ(config.DriveLetter, u"M");
  EXPECT_EQ(config.ServerAddress, u"127.0.0.1");
  EXPECT_EQ(config.Run, 1);
  EXPECT_EQ(config.ThreadCount, 10);
  EXPECT_EQ(config.userName(), u"");
  EXPECT_EQ(drive.debugMask, 0u);
}

TEST_F(MirrorConfigTest, MissingFileLogsAndChangesNothing) {
  drive.debugMask = 1;
  MirrorConfig config(codepage::Utf8ToWide(dir.file("absent.ini")));
  EXPECT_EQ(config.readSettings(drive), -1);
  EXPECT_EQ(config.MaxDiskCache, 100);
  EXPECT_EQ(config.Run, 0);
  EXPECT_EQ(config.DriveLetter, u"M");
  EXPECT_TRUE(Contains(logLines(), dir.file("absent.ini") + "不存在!"));
}

// Every setting but the password digest, which is as good as the password: its echo only
// shows that one is set.
TEST_F(MirrorConfigTest, DebugSetsTheMaskAndEchoesEverySetting) {
  MirrorConfig config = configWith(
      "[Set]\nDebug=31\nCacheMod=3\nMaxDiskCache=50\nDriveLetter=Q\nServerAddress=host.example\n"
      "Run=0\n[User]\nUserName=王五\nPassWord=0123456789abcdef0123456789abcdef\n");
  ASSERT_EQ(config.readSettings(drive), 0);
  EXPECT_EQ(drive.debugMask, 31u);
  std::vector<std::string> lines = logLines();
  const char* expected[] = {
      "CacheMod:3", "MaxDiskCache:50 MB", "DriveLetter:Q",  "ServerAddress:host.example",
      "Run:0 ",     "UserName:王五",      "PassWord:******"};
  ASSERT_EQ(lines.size(), std::size(expected));
  for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i], expected[i]);
}

TEST_F(MirrorConfigTest, DebugTrueWritesNoDetailLines) {
  MirrorConfig config = configWith("[Set]\nDebug=true\n");
  ASSERT_EQ(config.readSettings(drive), 0);
  EXPECT_EQ(drive.debugMask, 9u);
  EXPECT_TRUE(logLines().empty());
}

TEST_F(MirrorConfigTest, GarbageFileYieldsDefaultsOrZero) {
  std::string garbage = std::string("\x00\x01\xFF[Set\n", 8) +
                        "[Set]\nDebug=\xFF\xFE\nCacheMod=abc\nRun=" + std::string(4000, '9') +
                        "\nMaxDiskCache=-\nDriveLetter=" + std::string(3000, 'Z');
  MirrorConfig config = configWith(garbage);
  ASSERT_EQ(config.readSettings(drive), 0);
  EXPECT_EQ(config.Debug, 0);
  EXPECT_EQ(config.CacheMod, 0);
  EXPECT_EQ(config.Run, INT32_MAX);
  EXPECT_EQ(config.MaxDiskCache, 0);
  EXPECT_EQ(config.DriveLetter.size(), 1023u);
}

TEST_F(MirrorConfigTest, SettersWriteTheirKeysAtOnce) {
  MirrorConfig config = configWith("[Set]\nDebug=1\n");
  ASSERT_EQ(config.readSettings(drive), 0);
  EXPECT_EQ(config.setDebug(16), 0);
  EXPECT_EQ(config.setUserName(u"赵六"), 0);
  EXPECT_EQ(config.setPassWord(u"abc"), 0);
  EXPECT_EQ(config.Debug, 16);
  EXPECT_EQ(drive.debugMask, 1u) << "the mask only changes at the next read";
  MirrorConfig reread(config.settingsPath());
  ASSERT_EQ(reread.readSettings(drive), 0);
  EXPECT_EQ(reread.Debug, 16);
  EXPECT_EQ(reread.userName(), u"赵六");
  EXPECT_EQ(reread.passWord(), u"abc");
}

}  // namespace
