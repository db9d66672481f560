#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/atomicfile/AtomicFile.h"
#include "platform/atomicfile/StagedFile.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"

namespace {

size_t EntryCount(const std::string& folder) {
  return std::distance(std::filesystem::directory_iterator(folder), {});
}

TEST(AtomicFileTest, CreatesReplacesAndLeavesNoTemporary) {
  TempDir dir;
  std::string path = dir.file("state");
  std::string error;
  ASSERT_TRUE(atomicfile::ReplaceFile(path, "first, longer content", {}, &error)) << error;
  ASSERT_TRUE(atomicfile::ReplaceFile(path, std::string("sec\0nd", 6),
                                      {.syncFile = true, .syncFolder = true, .mode = 0600}, &error))
      << error;
  EXPECT_EQ(ReadFile(path), std::string("sec\0nd", 6));
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  ASSERT_TRUE(atomicfile::ReplaceFile(path, "", {}, &error)) << error;
  EXPECT_EQ(ReadFile(path), "");
  EXPECT_EQ(EntryCount(dir.path()), 1u);
}

TEST(AtomicFileTest, StagedContentReplacesTheFileOnlyWhenCommitted) {
  TempDir dir;
  std::string path = dir.file("list");
  ASSERT_TRUE(atomicfile::ReplaceFile(path, "old"));
  {
    atomicfile::StagedFile dropped(path);
    dropped.write("never ");
    dropped.write("shown");
    EXPECT_TRUE(dropped.ok());
    EXPECT_EQ(ReadFile(path), "old");  // written beside the file, not over it
  }
  EXPECT_EQ(EntryCount(dir.path()), 1u);
  atomicfile::StagedFile staged(path);
  staged.write("new ");
  atomicfile::StagedFile moved = std::move(staged);
  moved.write("list");
  EXPECT_FALSE(staged.staged());
  EXPECT_TRUE(moved.commit());
  EXPECT_EQ(ReadFile(path), "new list");
  EXPECT_EQ(EntryCount(dir.path()), 1u);

  atomicfile::StagedFile nowhere(dir.file("missing/list"));
  nowhere.write("x");
  EXPECT_FALSE(nowhere.ok());
  EXPECT_FALSE(nowhere.commit());
}

TEST(AtomicFileTest, FailureSaysWhyAndKeepsTheOldFile) {
  TempDir dir;
  std::string error;
  EXPECT_FALSE(atomicfile::ReplaceFile(dir.file("missing/state"), "x", {}, &error));
  EXPECT_NE(error.find("create"), std::string::npos) << error;
  EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;

  // A folder in the way of the rename: the rename fails, the temporary goes away.
  std::filesystem::create_directory(dir.file("taken"));
  std::filesystem::create_directory(dir.file("taken/inside"));
  error.clear();
  EXPECT_FALSE(atomicfile::ReplaceFile(dir.file("taken"), "x", {}, &error));
  EXPECT_EQ(error.rfind("rename " + dir.file("taken") + ": ", 0), 0u) << error;
  EXPECT_EQ(EntryCount(dir.path()), 1u);
  EXPECT_TRUE(std::filesystem::is_directory(dir.file("taken/inside")));
}

// Many writers replace one file at once: each succeeds, and the file afterwards holds exactly
// one writer's whole content.
TEST(AtomicFileTest, ConcurrentWritersNeverMixOrFail) {
  TempDir dir;
  std::string path = dir.file("shared");
  constexpr int kWriters = 8;
  std::vector<std::string> contents;
  for (int i = 0; i < kWriters; ++i) contents.push_back(std::string(100000, 'a' + i));
  std::vector<int> failures(kWriters, 0);
  std::vector<std::thread> writers;
  for (int i = 0; i < kWriters; ++i) {
    writers.emplace_back([&, i] {
      for (int round = 0; round < 20; ++round)
        if (!atomicfile::ReplaceFile(path, contents[i])) ++failures[i];
    });
  }
  for (auto& writer : writers) writer.join();
  for (int i = 0; i < kWriters; ++i) EXPECT_EQ(failures[i], 0) << "writer " << i;
  std::string result = ReadFile(path);
  EXPECT_NE(std::find(contents.begin(), contents.end(), result), contents.end());
  EXPECT_EQ(EntryCount(dir.path()), 1u);
}

}  // namespace
