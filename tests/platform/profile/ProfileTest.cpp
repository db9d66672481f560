#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/profile/Profile.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"

namespace {

TEST(ProfileTest, ReadsWithCaseInsensitiveNamesTrimmedValuesAndDefaults) {
  TempDir dir;
  std::string ini = dir.file("a.ini");
  WriteFile(ini, "; comment\r\n[set]\r\n  debug =  31  \r\nEmpty=\r\n[User]\nUserName=张三\n");
  EXPECT_EQ(GetPrivateProfileString(u"Set", u"Debug", u"0", ini), u"31");
  EXPECT_EQ(GetPrivateProfileString(u"SET", u"empty", u"d", ini), u"");
  EXPECT_EQ(GetPrivateProfileString(u"Set", u"Missing", u"M", ini), u"M");
  EXPECT_EQ(GetPrivateProfileString(u"Nope", u"Debug", u"x", ini), u"x");
  EXPECT_EQ(GetPrivateProfileString(u"User", u"UserName", u"", ini), u"张三");
  EXPECT_EQ(GetPrivateProfileString(u"Set", u"Debug", u"dflt", dir.file("none.ini")), u"dflt");
}

TEST(ProfileTest, LongValuesAreCutToTheBuffer) {
  TempDir dir;
  std::string ini = dir.file("a.ini");
  WriteFile(ini, "[Set]\nDriveLetter=" + std::string(5000, 'Q') + "\n");
  EXPECT_EQ(GetPrivateProfileString(u"Set", u"DriveLetter", u"M", ini).size(),
            kProfileBufferChars - 1);
}

TEST(ProfileTest, GarbageAndBinaryLinesNeverBreakReading) {
  TempDir dir;
  std::string ini = dir.file("a.ini");
  std::string garbage("\x00\xFF\xFE[[[=\n[Set\n=novalue\n\x01\x02=\x03\n[Set]\nRun=0\n", 40);
  WriteFile(ini, garbage);
  EXPECT_EQ(GetPrivateProfileString(u"Set", u"Run", u"", ini), u"0");
  EXPECT_EQ(GetPrivateProfileString(u"Set", u"Debug", u"0", ini), u"0");
}

TEST(ProfileTest, WriteReplacesInPlaceAndKeepsOtherLines) {
  TempDir dir;
  std::string ini = dir.file("a.ini");
  WriteFile(ini, "[Set]\ndebug=1\nRun=1\n\n[User]\nUserName=a\n");
  ASSERT_TRUE(WritePrivateProfileString(u"SET", u"Debug", u"16", ini));
  ASSERT_TRUE(WritePrivateProfileString(u"User", u"PassWord", u"abc", ini));
  ASSERT_TRUE(WritePrivateProfileString(u"New", u"Key", u"v", ini));
  EXPECT_EQ(ReadFile(ini),
            "[Set]\ndebug=16\nRun=1\n\n[User]\nUserName=a\nPassWord=abc\n\n[New]\nKey=v\n");
}

TEST(ProfileTest, WriteCreatesTheFileAndValuesRoundTrip) {
  TempDir dir;
  std::string ini = dir.file("new.ini");
  const std::u16string values[] = {u"plain", u"a,b;c=d",     u" padded ", u"quote\"back\\slash",
                                   u"@at",   u"line\nbreak", u"李四",     u""};
  for (const std::u16string& value : values) {
    ASSERT_TRUE(WritePrivateProfileString(u"User", u"UserName", value, ini));
    EXPECT_EQ(GetPrivateProfileString(u"User", u"UserName", u"-", ini), value);
  }
}

TEST(ProfileTest, WriteToAnUnwritablePlaceFails) {
  EXPECT_FALSE(WritePrivateProfileString(u"S", u"K", u"V", "/nonexistent-folder/x/a.ini"));
}

// Two threads write their own keys into one file at once: every write succeeds, no key is
// lost, and no temporary file is left beside it.
TEST(ProfileTest, ConcurrentWritersInOneProcessBothSucceed) {
  TempDir dir;
  std::string ini = dir.file("shared.ini");
  constexpr int kWrites = 40;
  std::atomic<int> failures{0};
  auto writer = [&](char16_t who) {
    for (int i = 0; i < kWrites; ++i) {
      std::u16string key = std::u16string(1, who) + static_cast<char16_t>(u'0' + i % 10) +
                           static_cast<char16_t>(u'0' + i / 10);
      if (!WritePrivateProfileString(u"Set", key, u"value", ini)) ++failures;
    }
  };
  std::thread first(writer, u'A');
  std::thread second(writer, u'B');
  first.join();
  second.join();
  EXPECT_EQ(failures.load(), 0);
  for (char16_t who : {u'A', u'B'}) {
    for (int i = 0; i < kWrites; ++i) {
      std::u16string key = std::u16string(1, who) + static_cast<char16_t>(u'0' + i % 10) +
                           static_cast<char16_t>(u'0' + i / 10);
      EXPECT_EQ(GetPrivateProfileString(u"Set", key, u"-", ini), u"value");
    }
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

}  // namespace
