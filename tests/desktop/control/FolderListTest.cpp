// The reader of ".filelist": which files it takes, and what it makes of their lines.
#include <gtest/gtest.h>

#include <fstream>

#include "desktop/control/FolderList.h"
#include "tests/support/TempDir.h"

namespace {

void WriteList(const std::string& path, const std::string& stampLine, const std::string& body) {
  std::ofstream(path, std::ios::binary) << stampLine << "\r\n" << body;
}

TEST(FolderListTest, TakesNewerStampsAcrossSignChangeAndWrap) {
  TempDir dir;
  std::string path = dir.file(".filelist");
  FolderList list;
  struct Step {
    const char* stamp;
    bool taken;
  } steps[] = {
      {"6000", true},         // first file
      {"5000", false},        // older
      {"6000", false},        // unchanged
      {"2147483000", true},   // 24.8 days of uptime
      {"-2147483000", true},  // written as a negative number afterwards
      {"-1", true},           // the last tick before the wrap
      {"100", true},          // wrapped
      {"4294967295", false},  // older again, written unsigned
      {"xyz", false},         // not a number reads as 0, older than 100
  };
  int expectedReads = 0;
  for (const Step& step : steps) {
    WriteList(path, std::string(step.stamp) + "|alice",
              "0|k1|" + std::string(step.stamp) + "|1|1||1|3\r\n");
    list.read(path);
    if (step.taken) ++expectedReads;
    SCOPED_TRACE(step.stamp);
    EXPECT_EQ(list.readCount(), expectedReads);
    if (step.taken) {
      EXPECT_EQ(list.entries().at("k1").name, step.stamp);
    }
  }
  // A first line without exactly two parts leaves the stamp alone and the lines are read.
  WriteList(path, "100", "0|k1|no stamp|1|1||1|3\r\n");
  list.read(path);
  EXPECT_EQ(list.entries().at("k1").name, "no stamp");
}

TEST(FolderListTest, KeepsOnlyWellFormedLinesAndMapsOnlyGrow) {
  TempDir dir;
  std::string path = dir.file(".filelist");
  FolderList list;
  WriteList(path, "1|alice",
            "1||||1|1|f1,f2,\r\n"         // root: children f1, f2 and ""
            "1|f1||照片|0|0|\r\n"         // empty child list
            "1|f2||Docs|1|0|x|extra\r\n"  // 8-part folder line
            "0|a1|a.jpg|1575158400|1575158400|\\照片\\|1|3000\r\n"
            "0|a2|b.txt|1|1|\\|0|5|extra\r\n"  // 9-part file line
            "0|a3|c.txt|1|1|\\|0\r\n"          // 7-part file line
            "\r\n"
            "2|z|z|z|z|z|z\r\n");
  list.read(path);

  ASSERT_EQ(list.entries().size(), 3u);
  const FileListEntry& root = list.entries().at("");
  EXPECT_EQ(root.kind, FolderList::kFolder);
  EXPECT_EQ(root.category, 1);
  EXPECT_TRUE(root.isParent);
  EXPECT_EQ(list.folders().at(""), (std::vector<std::string>{"f1", "f2", ""}));
  const FileListEntry& photos = list.entries().at("f1");
  EXPECT_EQ(photos.name, "照片");
  EXPECT_EQ(photos.category, 2);
  EXPECT_TRUE(list.folders().at("f1").empty());
  EXPECT_EQ(list.folders().count("f2"), 0u);
  const FileListEntry& file = list.entries().at("a1");
  EXPECT_EQ(file.kind, FolderList::kFile);
  EXPECT_EQ(file.name, "a.jpg");
  EXPECT_EQ(file.time, 1575158400);
  EXPECT_EQ(file.folderPath, "\\照片\\");
  EXPECT_EQ(file.category, 1);
  EXPECT_EQ(file.size, 3000);

  // A newer list without f1 and with a1 changed: f1 stays, a1 is replaced.
  WriteList(path, "2|alice", "0|a1|renamed.jpg|5|5|\\|0|x\r\n");
  list.read(path);
  EXPECT_EQ(list.entries().count("f1"), 1u);
  EXPECT_EQ(list.entries().at("a1").name, "renamed.jpg");
  EXPECT_EQ(list.entries().at("a1").size, 0);
  EXPECT_EQ(list.entries().at("a1").category, 2);

  // A missing file changes nothing.
  list.read(dir.file("missing"));
  EXPECT_EQ(list.entries().size(), 3u);
}

}  // namespace
