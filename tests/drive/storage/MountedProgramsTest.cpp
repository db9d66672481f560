// Real programs working inside files on a real mount backed by the reference service: editors,
// in-place writers, sqlite, git, tar and cp run the same steps in the writable folder of the
// drive and in a local folder. Each ends with the service's data folder holding byte for byte
// what the local folder holds, the drive reading back the same, and the programs printing the
// same on stdout and nothing on stderr.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/drive/core/front/FrontHarness.h"
#include "tests/drive/storage/mounted/MountedServiceTest.h"
#include "tests/support/Files.h"
#include "tests/support/ReferenceServer.h"

namespace fs = std::filesystem;

namespace {

std::string Quoted(const fs::path& path) { return "'" + path.string() + "'"; }

// One program run: the same `command` in a folder of the drive and in a local one, both seeded
// alike. `check` runs afterwards in the drive's folder and in the service's copy and must print
// `checked` in both.
struct ProgramRun {
  std::string name;  // the case's folder
  std::vector<std::string> programs;
  std::function<void(const fs::path&)> seed;
  std::string command;
  std::string check = "";
  std::string checked = "";
  // Files that hold the machine's own data (git's index records inode numbers and times, its
  // config what the file system can do): present on both sides, compared by name only.
  std::set<std::string> nameOnly = {};
};

// Relative path → "d" for a folder, the file's bytes otherwise.
std::map<std::string, std::string> ContentsOf(const fs::path& top, bool withEmptyFiles) {
  std::map<std::string, std::string> seen;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(top, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    std::string relative = fs::relative(it->path(), top).string();
    if (it->is_directory()) {
      seen[relative] = "d";
    } else if (withEmptyFiles || it->file_size() > 0) {
      seen[relative] = ReadFile(it->path());
    }
  }
  return seen;
}

// What differs between the expected and the actual tree, one line per path.
std::vector<std::string> Differences(const fs::path& expected, const fs::path& actual,
                                     const std::set<std::string>& nameOnly, bool withEmptyFiles) {
  auto want = ContentsOf(expected, withEmptyFiles);
  auto got = ContentsOf(actual, withEmptyFiles);
  std::vector<std::string> differences;
  for (const auto& [path, bytes] : want) {
    auto found = got.find(path);
    if (found == got.end()) {
      differences.push_back("missing " + path);
    } else if (found->second != bytes && !nameOnly.count(path)) {
      differences.push_back("differs " + path + " (" + std::to_string(bytes.size()) + " bytes, " +
                            std::to_string(found->second.size()) + " there)");
    }
  }
  for (const auto& [path, bytes] : got) {
    if (!want.count(path)) differences.push_back("extra " + path);
  }
  return differences;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) text += line + "\n";
  return text;
}

// Lines holding "alpha" for the editors to change, and others to keep.
std::string Notes() {
  std::string text;
  for (int i = 0; i < 200; ++i) {
    text += "line " + std::to_string(i) + (i % 7 == 0 ? " alpha" : " beta") + "\n";
  }
  return text;
}

// A tree with nested folders, a large file, a small one and an empty one.
void WriteSampleTree(const fs::path& top) {
  WriteFile(top / "readme.txt", Notes());
  WriteFile(top / "empty.txt", "");
  WriteFile(top / "a" / "b" / "deep.bin", PatternBytes(3 << 20, 5));
  WriteFile(top / "a" / "small.bin", PatternBytes(1000, 6));
  fs::create_directories(top / "a" / "no files");
}

// 10,000 rows in 100 transactions, then an index, updates and deletes that rewrite pages.
std::string SqliteScript() {
  std::string sql = "CREATE TABLE t(id INTEGER PRIMARY KEY, name TEXT, payload TEXT);\n";
  for (int transaction = 0; transaction < 100; ++transaction) {
    sql += "BEGIN;\n";
    for (int row = 0; row < 100; ++row) {
      int id = transaction * 100 + row;
      sql += "INSERT INTO t(name, payload) VALUES('row " + std::to_string(id) + "', '" +
             std::string(40 + id % 160, static_cast<char>('a' + id % 26)) + "');\n";
    }
    sql += "COMMIT;\n";
  }
  sql += "CREATE INDEX by_name ON t(name);\n";
  sql += "UPDATE t SET payload = upper(payload) WHERE id % 3 = 0;\n";
  sql += "DELETE FROM t WHERE id % 10 = 0;\n";
  return sql;
}

// Writes 300 pieces at random places (some past the end), then cuts and extends the file.
const char* const kRandomWrites = R"(import os, random, sys
r = random.Random(27)
with open(sys.argv[1], 'r+b') as f:
    size = f.seek(0, os.SEEK_END)
    for _ in range(300):
        f.seek(r.randrange(0, size + 8192))
        f.write(r.randbytes(r.randrange(1, 65536)))
    f.flush()
    os.fsync(f.fileno())
    f.truncate(size - 12345)
    f.seek(size + 4096)
    f.write(b'end')
)";

// Git with a fixed identity and fixed times, so that both runs make the same objects.
const char* const kGitEnvironment =
    "export GIT_CONFIG_NOSYSTEM=1 GIT_CONFIG_GLOBAL=/dev/null GIT_AUTHOR_NAME=Tester "
    "GIT_AUTHOR_EMAIL=tester@example.org GIT_COMMITTER_NAME=Tester "
    "GIT_COMMITTER_EMAIL=tester@example.org GIT_AUTHOR_DATE=2026-01-02T03:04:05Z "
    "GIT_COMMITTER_DATE=2026-01-02T03:04:05Z; ";

}  // namespace

class MountedProgramsTest : public MountedServiceTest {
 protected:
  MountedProgramsTest() : MountedServiceTest('P') {}

  void SetUp() override {
    MountedServiceTest::SetUp();
    if (!reason_.empty()) return;
    local_ = fs::path(folders_.top()) / "local";
    files_ = fs::path(folders_.top()) / "files";
    fs::create_directories(files_);
  }

  // The reason to skip: no FUSE, or a program the runs need is missing; "" when none.
  std::string missing(const std::vector<ProgramRun>& runs) {
    if (!reason_.empty()) return reason_;
    for (const ProgramRun& run : runs) {
      for (const std::string& program : run.programs) {
        if (RunCommand("command -v " + program) != 0) return program + " is not installed";
      }
    }
    return std::string();
  }

  // Seeds every run's folder at the service and locally, then mounts.
  void seedAndMount(const std::vector<ProgramRun>& runs) {
    for (const ProgramRun& run : runs) {
      fs::create_directories(mine_ / run.name);
      fs::create_directories(local_ / run.name);
      if (run.seed) {
        run.seed(mine_ / run.name);
        run.seed(local_ / run.name);
      }
    }
    // Log level 1: the thousands of callbacks of a clone are not logged one by one.
    mountDrive({}, 1'000'000, 1);
  }

  // Runs `command` in `folder`: its exit status, its stdout in `output`, its stderr in `errors`.
  int runIn(const fs::path& folder, const std::string& command, std::string* output,
            std::string* errors) {
    fs::path errorFile = fs::path(folders_.top()) / "stderr.txt";
    // A home of their own, so that no user's settings (~/.sqliterc, ~/.vimrc) take part.
    std::string environment = "export HOME=" + Quoted(files_) + "; " + kGitEnvironment;
    int status = RunCommand("(cd " + Quoted(folder) + " && { " + environment + command + "; } 2>" +
                                Quoted(errorFile) + ")",
                            output);
    *errors = ReadFile(errorFile);
    return status;
  }

  // Runs the command on the drive and locally, and compares what they leave.
  void expectSameAsLocal(const ProgramRun& run) {
    SCOPED_TRACE(run.name);
    std::string localOutput, localErrors, driveOutput, driveErrors;
    ASSERT_EQ(runIn(local_ / run.name, run.command, &localOutput, &localErrors), 0)
        << localOutput << localErrors;
    EXPECT_EQ(runIn(drive_ / run.name, run.command, &driveOutput, &driveErrors), 0)
        << driveOutput << driveErrors;
    EXPECT_EQ(driveErrors, localErrors);
    EXPECT_EQ(driveOutput, localOutput);

    // A file closed without writes is finished at its release, which follows the close.
    auto atService = [&] {
      return Differences(local_ / run.name, mine_ / run.name, run.nameOnly, true);
    };
    WaitFor([&] { return atService().empty(); }, std::chrono::seconds(30));
    EXPECT_EQ(Joined(atService()), "") << "the service's copy against the local one";
    // The drive shows no empty files; the kernel may keep an old entry for its entry time.
    auto onDrive = [&] {
      return Differences(local_ / run.name, drive_ / run.name, run.nameOnly, false);
    };
    WaitFor([&] { return onDrive().empty(); });
    EXPECT_EQ(Joined(onDrive()), "") << "the drive's view against the local copy";

    if (run.check.empty()) return;
    for (const fs::path& folder : {drive_ / run.name, mine_ / run.name}) {
      std::string output, errors;
      EXPECT_EQ(runIn(folder, run.check, &output, &errors), 0) << errors;
      EXPECT_EQ(output, run.checked) << folder;
      EXPECT_EQ(errors, "") << folder;
    }
  }

  fs::path local_;
  fs::path files_;  // inputs outside both folders: scripts, archives, sources
};

TEST_F(MountedProgramsTest, EditorsAndInPlaceWritesSaveWhatALocalDiskSaves) {
  const std::string vim = "vim -u NONE -i NONE -N -es -c 'set swapfile' ";
  const std::string edits = "-c '%s/alpha/omega/g' -c 'normal Goadded by vim' -c wq notes.txt";
  auto notes = [](const fs::path& folder) { WriteFile(folder / "notes.txt", Notes()); };
  const size_t big = BigTestBytes(100 << 20);
  auto bigFile = [big](const fs::path& folder) {
    WriteFile(folder / "big.bin", PatternBytes(big, 100));
  };
  WriteFile(files_ / "patch.bin", PatternBytes(1 << 20, 101));
  WriteFile(files_ / "random_writes.py", kRandomWrites);
  std::vector<ProgramRun> runs = {
      // vim writes into the file it opened without truncating it, then cuts it.
      {"vim in place", {"vim"}, notes, vim + "-c 'set backupcopy=yes' " + edits},
      // vim writes a new file after renaming the old one out of the way.
      {"vim by rename", {"vim"}, notes, vim + "-c 'set backupcopy=no' " + edits},
      {"sed", {"sed"}, notes, "sed -i -e 's/alpha/omega/' -e '3d' notes.txt"},
      {"python r+b",
       {"python3"},
       [](const fs::path& folder) { WriteFile(folder / "data.bin", PatternBytes(20 << 20, 20)); },
       "python3 " + Quoted(files_ / "random_writes.py") + " data.bin"},
      {"dd notrunc",
       {"dd"},
       bigFile,
       "dd if=" + Quoted(files_ / "patch.bin") +
           " of=big.bin bs=1M seek=" + std::to_string(big / 2 >> 20) + " conv=notrunc status=none"},
      {"save by rename",
       {},
       notes,
       "printf 'saved\\n' > .notes.txt.new && sync .notes.txt.new && mv -f .notes.txt.new "
       "notes.txt"},
  };
  std::string skip = missing(runs);
  if (!skip.empty()) GTEST_SKIP() << skip;
  seedAndMount(runs);
  for (const ProgramRun& run : runs) expectSameAsLocal(run);
}

TEST_F(MountedProgramsTest, SqliteDatabaseIsWholeOnTheDriveAndAtTheService) {
  WriteFile(files_ / "rows.sql", SqliteScript());
  std::vector<ProgramRun> runs = {
      {"sqlite",
       {"sqlite3"},
       nullptr,
       "sqlite3 rows.db < " + Quoted(files_ / "rows.sql"),
       "sqlite3 rows.db 'PRAGMA integrity_check;' 'SELECT count(*) FROM t;'",
       "ok\n9000\n"},
  };
  std::string skip = missing(runs);
  if (!skip.empty()) GTEST_SKIP() << skip;
  seedAndMount(runs);
  expectSameAsLocal(runs[0]);
}

TEST_F(MountedProgramsTest, GitWorksInsideTheDrive) {
  // The repository to clone: 1,000 files in 10 folders, one commit.
  fs::path source = files_ / "source repository";
  for (int i = 0; i < 1000; ++i) {
    WriteFile(source / ("dir" + std::to_string(i / 100)) / ("file" + std::to_string(i) + ".txt"),
              "file " + std::to_string(i) + "\n" + std::string(i % 500, 'x') + "\n");
  }
  std::string git = "git -c init.defaultBranch=main ";
  std::vector<ProgramRun> runs = {
      {"git",
       {"git"},
       [](const fs::path& folder) {
         WriteFile(folder / "a.txt", Notes());
         WriteFile(folder / "src" / "main.c", "int main(void) { return 0; }\n");
       },
       git + "init -q && git add . && git commit -q -m first && echo more >> a.txt && " +
           "echo '*.o' > .gitignore && touch src/main.o && git add -A && git commit -q -m second "
           "&& git mv a.txt b.txt && git rm -q --cached src/main.c && git commit -q -m third && "
           "git status --porcelain && git log --format='%H %s' && git fsck --strict --no-progress",
       "git status --porcelain && git log --format=%s && git fsck --strict --no-progress",
       "?? src/\nthird\nsecond\nfirst\n",
       {".git/index", ".git/config"}},
      {"git clone",
       {"git"},
       nullptr,
       "git clone -q " + Quoted(source) + " clone && git -C clone log --format=%s",
       "git -C clone status --porcelain && git -C clone fsck --strict --no-progress",
       "",
       {"clone/.git/index", "clone/.git/config"}},
  };
  std::string skip = missing(runs);
  if (!skip.empty()) GTEST_SKIP() << skip;
  ASSERT_EQ(RunCommand("cd " + Quoted(source) + " && " + kGitEnvironment + git +
                       "init -q && git add . && git commit -q -m 'all files'"),
            0);
  seedAndMount(runs);
  for (const ProgramRun& run : runs) expectSameAsLocal(run);
}

TEST_F(MountedProgramsTest, ArchivesAndCopiesKeepEveryFile) {
  fs::path tree = files_ / "tree";
  WriteSampleTree(tree);
  // Owned by the user running the test, which is the drive's user: extracting as root sets
  // that owner on every file.
  ASSERT_EQ(RunCommand("tar -C " + Quoted(tree) + " --owner=" + std::to_string(::getuid()) +
                       " --group=" + std::to_string(::getgid()) + " -cf " +
                       Quoted(files_ / "tree.tar") + " ."),
            0);
  std::vector<ProgramRun> runs = {
      // The second extraction replaces every file the first one made.
      {"tar",
       {"tar"},
       nullptr,
       "mkdir out && tar -C out -xf " + Quoted(files_ / "tree.tar") + " && tar -C out -xf " +
           Quoted(files_ / "tree.tar")},
      {"cp -a",
       {"cp"},
       nullptr,
       "cp -a " + Quoted(tree) + " copy && cp -a " + Quoted(tree) + "/. copy"},
  };
  std::string skip = missing(runs);
  if (!skip.empty()) GTEST_SKIP() << skip;
  seedAndMount(runs);
  for (const ProgramRun& run : runs) expectSameAsLocal(run);
}
