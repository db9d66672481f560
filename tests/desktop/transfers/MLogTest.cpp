// The desktop log: rotation at open time and the lines it appends.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "desktop/log/MLog.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(MLogTest, RotatesOnlyAnOversizedLogWhoseOldNameIsFree) {
  struct Case {
    uintmax_t size;
    bool oldExists;
    bool rotated;
  } cases[] = {{5000000, false, false}, {5000001, false, true}, {5000001, true, false}};
  for (const Case& c : cases) {
    TempDir dir;
    std::string path = dir.file("quellan.log");
    { std::ofstream(path, std::ios::binary) << std::string(c.size, 'x'); }
    if (c.oldExists) std::ofstream(path + ".1") << "old\n";
    {
      MLog log(QString::fromStdString(path));
      log.write(QStringLiteral("next"));
    }
    SCOPED_TRACE(testing::Message() << c.size << " old " << c.oldExists);
    const uintmax_t lineSize = std::string("[2026-01-01 00:00:00] next\n").size();
    if (c.rotated) {
      EXPECT_EQ(fs::file_size(path + ".1"), c.size);
      EXPECT_EQ(fs::file_size(path), lineSize);
    } else {
      EXPECT_EQ(fs::file_size(path), c.size + lineSize);
      if (c.oldExists) {
        EXPECT_EQ(ReadAll(path + ".1"), "old\n");
      }
    }
  }
}

TEST(MLogTest, AppendsLinesWithTheirTime) {
  TempDir dir;
  std::string path = dir.file("quellan.log");
  std::ofstream(path) << "before\n";
  {
    MLog log(QString::fromStdString(path));
    log.write(-12);
    log.write(QStringLiteral("网盘正在运行"));
    // Each line is on disk as soon as it was written.
    const std::string stamp = R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] )";
    EXPECT_TRUE(std::regex_match(
        ReadAll(path), std::regex("before\n" + stamp + "-12\n" + stamp + "网盘正在运行\n")))
        << ReadAll(path);
  }
}

}  // namespace
