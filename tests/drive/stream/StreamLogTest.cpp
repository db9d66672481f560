#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "drive/stream/HeadCache.h"
#include "drive/stream/ReadStatistics.h"
#include "drive/wire/StreamLog.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"

namespace {

TEST(StreamLog, LevelZeroAlwaysOtherLevelsByMask) {
  TempDir dir;
  const std::string folder = dir.path() + "/";
  CStreamLog log;
  // Before its owner names the file, the log writes nowhere (no "vod.log" in the working folder).
  log.log(0, "unplaced %s", folder.c_str());
  EXPECT_EQ(ReadFile("vod.log").find("unplaced " + folder), std::string::npos);
  log.setPath(folder + "vod.log");
  log.readMask(folder + "media.ini");  // missing: mask 0
  log.log(0, "zero %d", 1);
  log.log(2, "two");
  log.log(31, "thirty-one");
  std::string text = ReadFile(folder + "vod.log");
  EXPECT_EQ(text.find("unplaced"), std::string::npos);
  EXPECT_NE(text.find("] zero 1\n"), std::string::npos);
  EXPECT_EQ(text.find("two"), std::string::npos);
  EXPECT_EQ(text.front(), '[');

  WriteFile(folder + "media.ini", "B4\n");
  log.readMask(folder + "media.ini");
  EXPECT_EQ(log.mask(), 0xB4u);
  for (int level : {2, 4, 5, 7}) EXPECT_TRUE(log.enabled(level)) << level;
  for (int level : {1, 3, 6, 8, 32, -1}) EXPECT_FALSE(log.enabled(level)) << level;

  WriteFile(folder + "media.ini", "nonsense");
  log.readMask(folder + "media.ini");
  EXPECT_EQ(log.mask(), 0u);
}

TEST(StreamLog, LongLinesAreCutNotOverrun) {
  TempDir dir;
  const std::string folder = dir.path() + "/";
  CStreamLog log;
  log.setPath(folder + "vod.log");
  log.log(0, "%s", std::string(50000, 'x').c_str());
  std::string text = ReadFile(folder + "vod.log");
  EXPECT_LT(text.size(), CStreamLog::kMaxLine + 40);
  EXPECT_GT(text.size(), CStreamLog::kMaxLine - 10);
}

TEST(StreamLog, RotatesOnlyAboveFiveMillionBytes) {
  TempDir dir;
  const std::string folder = dir.path() + "/";
  std::string path = folder + "vod.log";
  CStreamLog log;
  WriteFile(path, std::string(5000000, 'a'));
  log.setPath(path);
  EXPECT_FALSE(std::filesystem::exists(path + ".1"));

  WriteFile(path + ".1", "older");
  WriteFile(path, std::string(5000001, 'b'));
  log.setPath(path);
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_EQ(std::filesystem::file_size(path + ".1"), 5000001u);
}

TEST(ReadStatistics, LongJumpMakesASegmentAndCountsForward) {
  CReadStatistics stats;
  stats.start("key", 300 << 20, "mkv");
  stats.countRead(0, 65536);
  stats.countRead(2097152, 65536);
  EXPECT_EQ(stats.counter("F_Times"), 1);
  EXPECT_EQ(stats.counter("FF"), 1);
  EXPECT_EQ(stats.counter("S_64K"), 2);
  EXPECT_EQ(stats.segments(), (std::vector<int32_t>{0, 64, 2}));
  EXPECT_EQ(stats.readCount(), 2);

  stats.countRead(2097152 - 3000, 50);  // back 3000 bytes: f = -2
  EXPECT_EQ(stats.counter("B_Times"), 1);
  EXPECT_EQ(stats.counter("B_2K"), 1);
  EXPECT_EQ(stats.counter("S_100"), 1);

  std::string text = stats.text();
  EXPECT_EQ(text.rfind("key 300 mkv ", 0), 0u);
  EXPECT_NE(
      text.find(" 3\n(B_2K,1) (B_Times,1) (FF,1) (F_Times,1) (S_100,1) (S_64K,2) \n0 64 2 \n"),
      std::string::npos);
}

TEST(ReadStatistics, SizeAndJumpBoundaries) {
  CReadStatistics stats;
  stats.start("k", 0, "");
  stats.countRead(0, 100);         // S_100
  stats.countRead(100, 2047);      // k = 1: S_1K, sequential
  stats.countRead(2147, 2 << 20);  // k = 2048: SS
  // A gap of 1023 KiB after a 1 MiB read: F_1M and S_1M, still no long jump.
  stats.countRead(2147 + (1 << 20) + 1023 * 1024, 1 << 20);
  EXPECT_EQ(stats.counter("S_100"), 1);
  EXPECT_EQ(stats.counter("S_1K"), 1);
  EXPECT_EQ(stats.counter("SS"), 1);
  EXPECT_EQ(stats.counter("S_1M"), 1);
  EXPECT_EQ(stats.counter("F_1M"), 1);
  EXPECT_EQ(stats.counter("F_Times"), 1);
  EXPECT_EQ(stats.segments().size(), 1u);
  stats.countRead(0, 10);  // back by more than 1023 KiB: a segment
  EXPECT_EQ(stats.segments().size(), 3u);
  EXPECT_EQ(stats.counter("BB"), 1);
}

TEST(HeadCache, OnlyAWholeHeadIsReadAndNoHeadIsRewritten) {
  TempDir dir;
  const std::string folder = dir.path() + "/";
  CStreamLog log;
  std::string head(headcache::kHeadSize, 'h');
  uint8_t buffer[headcache::kHeadSize];
  EXPECT_EQ(headcache::Read(log, folder, "abc", buffer), -1);

  EXPECT_TRUE(headcache::Write(log, folder, "abc", reinterpret_cast<const uint8_t*>(head.data()),
                               headcache::kHeadSize));
  EXPECT_EQ(headcache::Read(log, folder, "abc", buffer), headcache::kHeadSize);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), sizeof buffer), head);

  // A short head is written, read back short (so never used), and never replaced.
  EXPECT_TRUE(headcache::Write(log, folder, "short", reinterpret_cast<const uint8_t*>("xyz"), 3));
  EXPECT_EQ(headcache::Read(log, folder, "short", buffer), 3);
  EXPECT_FALSE(headcache::Write(log, folder, "short", reinterpret_cast<const uint8_t*>(head.data()),
                                headcache::kHeadSize));
  EXPECT_EQ(std::filesystem::file_size(folder + "cache/short"), 3u);
  // Nothing but the two heads: no temporary files left behind.
  int files = 0;
  for (auto& entry : std::filesystem::directory_iterator(folder + "cache")) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(files, 2);
}

TEST(HeadCache, NamesThatAreNotPlainFileNamesAreNeverUsed) {
  TempDir dir;
  const std::string folder = dir.path() + "/";
  CStreamLog log;
  uint8_t data[4] = {1, 2, 3, 4};
  for (const char* name : {"", ".", "..", "../escape", "a/b"}) {
    EXPECT_FALSE(headcache::Write(log, folder, name, data, 4)) << name;
    uint8_t buffer[headcache::kHeadSize];
    EXPECT_EQ(headcache::Read(log, folder, name, buffer), -1) << name;
  }
  EXPECT_FALSE(std::filesystem::exists(folder + "escape"));
}

}  // namespace
