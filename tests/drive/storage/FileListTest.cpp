#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "drive/tree/FileListWriter.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"

namespace {

std::vector<std::string> Lines(const std::string& content) {
  std::vector<std::string> lines;
  size_t from = 0;
  while (from < content.size()) {
    size_t end = content.find("\r\n", from);
    EXPECT_NE(end, std::string::npos) << "every line ends in CR LF";
    if (end == std::string::npos) break;
    lines.push_back(content.substr(from, end - from));
    from = end + 2;
  }
  return lines;
}

}  // namespace

TEST(FileList, FirstLineThenEveryNodeInIdOrder) {
  BuiltTree tree = BuildFolderTree(
      u"10,Photos,dir,0,,1500000000\n"
      u"11,2019,dir,0,10,1500000001\n"
      u"12,a.jpg,file,2048,11,1500000002\n"
      u"13,empty,file,0,10,1\n"
      u"15,Shared,dir,0,,1500000005\n"
      u"16,notes.txt,file,5000000000,15,-1\n"
      u"17,文档,dir,0,15,0\n",
      {u"15"}, nullptr);
  std::vector<std::string> lines = Lines(FormatFileList(tree.tables, -5, u"用户"));
  std::vector<std::string> expected = {
      "-5|用户",
      "1|||\\|2|1|10,15",
      "1|10||Photos|2|1|11",
      "1|11|10|2019|2|0|12",
      "0|12|a.jpg|1500000002|1500000002|\\Photos\\2019\\|2|2048",
      "1|15||Shared|1|1|16,17",
      "0|16|notes.txt|4294967295|4294967295|\\Shared\\|1|5000000000",
      "1|17|15|文档|1|0|",
  };
  EXPECT_EQ(lines, expected);
}

TEST(FileList, ReplacesTheFileWhole) {
  TempDir folder;
  std::string path = folder.file(".filelist");
  ASSERT_TRUE(ReplaceFileContent(path, "first, longer content\r\n"));
  ASSERT_TRUE(ReplaceFileContent(path, "second\r\n"));
  EXPECT_EQ(ReadFile(path), "second\r\n");
  EXPECT_FALSE(std::filesystem::exists(path + ".new"));
  EXPECT_FALSE(ReplaceFileContent(folder.file("missing/x"), "y"));
}
