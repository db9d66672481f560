// Where the programs keep their files and find the page: a self-contained folder (build tree,
// unpacked copy) keeps everything beside the programs; an installed layout uses the XDG data
// folder and ../share/quellan.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/appfolder/AppFolders.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

namespace {

void PutPage(const std::string& folder) {
  fs::create_directories(folder + "/skin");
  std::ofstream(folder + "/skin/index.html") << "<html></html>";
}

// Sets an environment variable for one test and puts the old value back.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old, hadOld_ = true;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedVariable() { hadOld_ ? ::setenv(name_, old_.c_str(), 1) : ::unsetenv(name_); }

 private:
  const char* name_;
  std::string old_;
  bool hadOld_ = false;
};

TEST(AppFoldersTest, ProgramFolderIsTheOwnFolderOnlyWhenItHoldsThePage) {
  TempDir dir;
  ScopedVariable home("HOME", dir.file("home"));
  const std::string portable = dir.file("portable/bin");
  PutPage(portable);
  const std::string installed = dir.file("usr/bin");
  fs::create_directories(installed);

  EXPECT_EQ(appfolder::DefaultProgramFolder(portable + "/"), portable);

  {
    ScopedVariable data("XDG_DATA_HOME", dir.file("xdg") + "/");
    EXPECT_EQ(appfolder::DefaultProgramFolder(installed), dir.file("xdg/quellan"));
    struct stat info {};
    ASSERT_EQ(::stat(dir.file("xdg/quellan").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
  }
  // A relative XDG_DATA_HOME is ignored, as the base directory rules say.
  ScopedVariable relative("XDG_DATA_HOME", "relative/data");
  EXPECT_EQ(appfolder::DefaultProgramFolder(installed), dir.file("home/.local/share/quellan"));
  EXPECT_TRUE(fs::is_directory(dir.file("home/.local/share/quellan")));
}

TEST(AppFoldersTest, PageFolderPrefersProgramFolderThenOwnFolderThenInstalledData) {
  TempDir dir;
  const std::string withPage = dir.file("given");
  PutPage(withPage);
  const std::string empty = dir.file("empty");
  fs::create_directories(empty);
  const std::string portable = dir.file("portable");
  PutPage(portable);
  const std::string installedBin = dir.file("usr/bin");
  fs::create_directories(installedBin);
  PutPage(dir.file("usr/share/quellan"));
  const std::string bare = dir.file("bare/bin");
  fs::create_directories(bare);

  struct Row {
    std::string programFolder, programDir, expected;
  } rows[] = {
      {withPage, portable, withPage},
      {empty, portable, portable},
      {empty, installedBin + "/", dir.file("usr/share/quellan")},
      {empty, bare, empty},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(appfolder::PageFolder(row.programFolder, row.programDir), row.expected)
        << row.programFolder << " / " << row.programDir;
  }
}

}  // namespace
