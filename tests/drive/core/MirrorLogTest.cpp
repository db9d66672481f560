#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <regex>
#include <thread>

#include "drive/core/MirrorLog.h"
#include "tests/drive/core/TestFiles.h"

namespace {

mode_t PermissionsOf(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_mode & 07777;
}

TEST(MirrorLogTest, WritesTimeStampedLinesOnlyForMaskedCategories) {
  TempDir dir;
  std::atomic<uint32_t> mask{0x01 | 0x10};
  MirrorLog log(dir.file("mirror.log"), mask);
  EXPECT_EQ(log.log(u"结果", 0x01), 0);
  EXPECT_EQ(log.log(u"progress", 0x02), 1);
  EXPECT_EQ(log.logf(0x10, "%lld %ld CreateFile:%s", 7LL, 42L, "\\a"), 0);
  EXPECT_EQ(log.logf(0x04, "%s", "dropped"), 1);

  std::string text = ReadFile(dir.file("mirror.log"));
  std::regex shape(
      "\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\] 结果\r\n"
      "\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\] 7 42 CreateFile:\\\\a\r\n");
  EXPECT_TRUE(std::regex_match(text, shape)) << text;
}

// Whether it begins a new log or appends to an older one (of a version that logged the
// password digest), the log is closed to other users.
TEST(MirrorLogTest, LargeLogIsRotatedOnceAtOpenSmallOneIsAppended) {
  TempDir dir;
  std::atomic<uint32_t> mask{1};
  std::string path = dir.file("mirror.log");
  WriteFile(path + ".1", "older generation");
  WriteFile(path, std::string(600000, 'x'));
  {
    MirrorLog log(path, mask);
    log.log(u"fresh", 1);
  }
  EXPECT_EQ(std::filesystem::file_size(path + ".1"), 600000u);
  EXPECT_EQ(LogTexts(path), std::vector<std::string>{"fresh"});
  EXPECT_EQ(PermissionsOf(path), 0600u);

  WriteFile(path, std::string(500000, 'y'));
  ::chmod(path.c_str(), 0644);
  {
    MirrorLog log(path, mask);
    log.log(u"appended", 1);
  }
  EXPECT_GT(std::filesystem::file_size(path), 500000u);
  EXPECT_EQ(std::filesystem::file_size(path + ".1"), 600000u);
  EXPECT_EQ(PermissionsOf(path), 0600u);
}

TEST(MirrorLogTest, ConcurrentLinesNeverInterleave) {
  TempDir dir;
  std::atomic<uint32_t> mask{1};
  MirrorLog log(dir.file("mirror.log"), mask);
  constexpr int kThreads = 8, kLines = 200;
  std::vector<std::thread> threads;
  ::testing::internal::CaptureStdout();
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&log, t] {
      std::u16string body(100, static_cast<char16_t>(u'a' + t));
      for (int i = 0; i < kLines; ++i) log.log(body, 1);
    });
  }
  for (auto& thread : threads) thread.join();
  ::testing::internal::GetCapturedStdout();

  std::vector<std::string> lines = LogTexts(dir.file("mirror.log"));
  ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
  for (const std::string& line : lines) {
    ASSERT_EQ(line.size(), 100u);
    EXPECT_EQ(line.find_first_not_of(line[0]), std::string::npos) << line;
  }
}

TEST(MirrorLogTest, UnopenableLogStillEchoesOnTheConsole) {
  std::atomic<uint32_t> mask{1};
  MirrorLog log("/nonexistent-folder/mirror.log", mask);
  EXPECT_FALSE(log.isOpen());
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(log.log(u"still shown", 1), 0);
  std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("] still shown\r\n"), std::string::npos) << out;
}

}  // namespace
