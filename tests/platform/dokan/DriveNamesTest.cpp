#include <gtest/gtest.h>

#include <cerrno>
#include <climits>

#include "platform/dokan/DriveNames.h"

using dokan::DrivePathOf;

TEST(DrivePath, SlashesBecomeBackslashesAndTextBecomesUtf16) {
  std::u16string out;
  EXPECT_EQ(DrivePathOf("/", out), 0);
  EXPECT_EQ(out, u"\\");
  EXPECT_EQ(DrivePathOf("/a/b c.txt", out), 0);
  EXPECT_EQ(out, u"\\a\\b c.txt");
  EXPECT_EQ(DrivePathOf("/照片/\xF0\x9F\x98\x80.jpg", out), 0);
  EXPECT_EQ(out, u"\\照片\\\U0001F600.jpg");
}

TEST(DrivePath, RefusesWhatCannotBeADrivePath) {
  std::u16string out;
  EXPECT_EQ(DrivePathOf("/a\\b", out), EINVAL);  // one name here, two on the drive
  EXPECT_EQ(DrivePathOf(nullptr, out), EINVAL);
  EXPECT_EQ(DrivePathOf("relative", out), EINVAL);
  const char* malformed[] = {
      "/\xff",              // not a lead byte
      "/\xe4\xb8",          // cut short
      "/\xe4\xb8x",         // continuation missing
      "/\xc0\xaf",          // overlong "/"
      "/\xed\xa0\x80",      // a surrogate half
      "/\xf4\x90\x80\x80",  // beyond U+10FFFF
      "/\x80",              // lone continuation
  };
  for (const char* path : malformed) EXPECT_EQ(DrivePathOf(path, out), EILSEQ) << path;
}

TEST(DrivePath, LimitsNamesAndPathsInUtf16Units) {
  std::u16string out;
  EXPECT_EQ(DrivePathOf(("/" + std::string(255, 'a')).c_str(), out), 0);
  EXPECT_EQ(DrivePathOf(("/" + std::string(256, 'a')).c_str(), out), ENAMETOOLONG);
  std::string wideName;
  for (int i = 0; i < 255; ++i) wideName += "中";  // 765 bytes, 255 units
  EXPECT_EQ(DrivePathOf(("/" + wideName).c_str(), out), 0);
  std::string deep;
  while (deep.size() <= dokan::kMaxPathUnits) deep += "/" + std::string(100, 'd');
  EXPECT_EQ(DrivePathOf(deep.c_str(), out), ENAMETOOLONG);
}

TEST(DriveText, Utf16ToUtf8RefusesUnpairedSurrogates) {
  std::string out;
  EXPECT_TRUE(dokan::Utf16ToUtf8(u"a\U0001F600", out));
  EXPECT_EQ(out, "a\xF0\x9F\x98\x80");
  EXPECT_FALSE(dokan::Utf16ToUtf8(std::u16string(1, char16_t(0xD800)), out));
  EXPECT_FALSE(dokan::Utf16ToUtf8(std::u16string{char16_t(0xDC00), u'a'}, out));
  EXPECT_FALSE(dokan::Utf16ToUtf8(std::u16string{char16_t(0xD800), u'a'}, out));
}

TEST(DriveResults, NegativeCodesMapToErrno) {
  EXPECT_EQ(dokan::ErrnoOfResult(0), 0);
  EXPECT_EQ(dokan::ErrnoOfResult(7), 0);
  EXPECT_EQ(dokan::ErrnoOfResult(-2), ENOENT);
  EXPECT_EQ(dokan::ErrnoOfResult(-3), ENOENT);
  EXPECT_EQ(dokan::ErrnoOfResult(-5), EACCES);
  EXPECT_EQ(dokan::ErrnoOfResult(-112), ENOSPC);
  EXPECT_EQ(dokan::ErrnoOfResult(-148), EBUSY);
  EXPECT_EQ(dokan::ErrnoOfResult(-183), EEXIST);
  EXPECT_EQ(dokan::ErrnoOfResult(-6009), EROFS);
  EXPECT_EQ(dokan::ErrnoOfResult(-1), EIO);
  EXPECT_EQ(dokan::ErrnoOfResult(-4), EIO);
  EXPECT_EQ(dokan::ErrnoOfResult(INT_MIN), EIO);
}

TEST(DriveTimes, FiletimeAndTimespecConvertBothWays) {
  timespec moment{1609459200, 123456700};  // 2021-01-01, a whole number of 100 ns
  timespec back = dokan::TimespecOf(dokan::FiletimeOf(moment));
  EXPECT_EQ(back.tv_sec, moment.tv_sec);
  EXPECT_EQ(back.tv_nsec, moment.tv_nsec);

  timespec early = dokan::TimespecOf(FILETIME{1, 0});  // 1601
  EXPECT_EQ(early.tv_sec, 0);
  EXPECT_EQ(early.tv_nsec, 0);
  timespec latest = dokan::TimespecOf(FILETIME{0xFFFFFFFFu, 0xFFFFFFFFu});
  EXPECT_GT(latest.tv_sec, 0);
  // Far-off times are clamped, not wrapped into the past.
  FILETIME far = dokan::FiletimeOf(timespec{LONG_MAX, 0});
  EXPECT_GT(dokan::TimespecOf(far).tv_sec, moment.tv_sec);
  FILETIME before = dokan::FiletimeOf(timespec{-5, 0});
  EXPECT_EQ(dokan::TimespecOf(before).tv_sec, 0);
}
