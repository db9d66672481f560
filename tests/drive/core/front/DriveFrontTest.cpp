// The drive front on a real mount: a MemoryMirror behind the driver, shell commands and
// system calls on the mounted folder in front of it.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <thread>

#include "drive/core/DriveFront.h"
#include "drive/core/DriveProcess.h"
#include "drive/core/RunLoop.h"
#include "platform/codepage/CodePage.h"
#include "tests/drive/core/front/FrontHarness.h"
#include "tests/support/Files.h"

namespace {

uint32_t ThisThreadId() { return static_cast<uint32_t>(::syscall(SYS_gettid)); }

bool HasLine(const std::vector<std::string>& lines, const std::string& wanted) {
  return std::find(lines.begin(), lines.end(), wanted) != lines.end();
}

bool AnyLineContains(const std::vector<std::string>& lines, const std::string& part) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& line) { return line.find(part) != std::string::npos; });
}

class DriveFrontTest : public ::testing::Test {
 protected:
  std::string at(const std::string& relative, char letter = 'M') const {
    return folders.mountPoint(letter) + relative;
  }

  TestDriveFolders folders;
  std::shared_ptr<MemoryTree> tree = std::make_shared<MemoryTree>();
};

TEST_F(DriveFrontTest, WithoutSettingsFileNoMirrorIsMade) {
  int made = 0;
  folders.drive().createMirror = [&] {
    ++made;
    return new MemoryMirror(tree);
  };
  MountCycle cycle(codepage::AnsiToWide(folders.programFolder() + "tarvex.ini"));
  std::atomic<bool> keepRunning{true};
  EXPECT_EQ(Mount(folders.drive(), cycle, RunLoopTiming{}, keepRunning), -1);
  EXPECT_EQ(made, 0);
  folders.drive().createMirror = nullptr;
}

TEST_F(DriveFrontTest, FailedLoginDestroysTheMirrorAndMountsNothing) {
  folders.writeSettings("M", 1);
  tree->loginResult = -4;
  folders.drive().createMirror = [&] { return new MemoryMirror(tree); };
  MountCycle cycle(codepage::AnsiToWide(folders.programFolder() + "tarvex.ini"));
  std::atomic<bool> keepRunning{true};
  EXPECT_EQ(Mount(folders.drive(), cycle, RunLoopTiming{}, keepRunning), -2);
  EXPECT_EQ(tree->liveMirrors, 0);
  EXPECT_EQ(folders.drive().currentMirror.load(), nullptr);
  EXPECT_EQ(folders.drive().driveState(), drive_state::kLoginFailedRefused);
  EXPECT_FALSE(folders.isMounted('M'));
  EXPECT_TRUE(tree->calls().empty());
  folders.drive().createMirror = nullptr;
}

TEST_F(DriveFrontTest, ReadingCommandsReachTheMirrorAndShowItsAnswers) {
  SKIP_WITHOUT_FUSE();
  tree->addFolder(u"\\docs");
  tree->addFile(u"\\docs\\a.txt", "hello world");
  tree->addFile(u"\\b.bin", std::string(3000, 'b'));
  folders.writeSettings("M", 0);
  FrontRun run(folders, tree);
  ASSERT_TRUE(run.waitMounted('M'));

  std::string out;
  ASSERT_EQ(RunCommand("ls -1 " + at(""), &out), 0) << out;
  EXPECT_EQ(out, "b.bin\ndocs\n");
  ASSERT_EQ(RunCommand("ls -1 " + at("/docs"), &out), 0) << out;
  EXPECT_EQ(out, "a.txt\n");
  auto finds = tree->callsOf("FindFiles");
  ASSERT_GE(finds.size(), 2u);
  EXPECT_EQ(finds[0].name, u"\\");
  EXPECT_EQ(finds[1].name, u"\\docs");
  EXPECT_EQ(finds[1].isDirectory, 1);

  ASSERT_EQ(RunCommand("stat -c '%s %F' " + at("/docs/a.txt") + " " + at("/docs"), &out), 0);
  EXPECT_EQ(out, "11 regular file\n0 directory\n");
  // The listing carried the file's attributes, so its stat needs no question of its own.
  auto infos = tree->callsOf("GetFileInformation");
  EXPECT_TRUE(std::none_of(infos.begin(), infos.end(),
                           [](const MirrorCall& c) { return c.name == u"\\docs\\a.txt"; }));

  ASSERT_EQ(RunCommand("cat " + at("/docs/a.txt"), &out), 0);
  EXPECT_EQ(out, "hello world");

  ASSERT_EQ(RunCommand("df -B1 --output=size,avail " + at(""), &out), 0) << out;
  EXPECT_NE(out.find(std::to_string(MemoryMirror::kTotalBytes)), std::string::npos) << out;
  EXPECT_NE(out.find(std::to_string(MemoryMirror::kFreeBytes)), std::string::npos) << out;
  EXPECT_FALSE(tree->callsOf("GetDiskFreeSpace").empty());
  EXPECT_FALSE(tree->callsOf("GetVolumeInformation").empty());
}

// A folder too large for one answer to the kernel is handed out in pieces; every entry
// reaches a program reading the folder, once.
TEST_F(DriveFrontTest, AFolderOfThousandsIsListedWholeAndOnce) {
  SKIP_WITHOUT_FUSE();
  constexpr int kFiles = 3000;
  tree->addFolder(u"\\big");
  for (int i = 0; i < kFiles; ++i)
    tree->addFile(u"\\big\\file " + codepage::Utf8ToWide(std::to_string(i)) + u".dat", "x");
  folders.writeSettings("M", 0);
  FrontRun run(folders, tree);
  ASSERT_TRUE(run.waitMounted('M'));

  for (int pass = 0; pass < 2; ++pass) {  // the second pass is answered from the kernel's cache
    std::set<std::string> names;
    int entries = 0;
    DIR* folder = ::opendir(at("/big").c_str());
    ASSERT_NE(folder, nullptr);
    while (dirent* entry = ::readdir(folder)) {
      ++entries;
      names.insert(entry->d_name);
    }
    ::closedir(folder);
    EXPECT_EQ(entries, kFiles + 2) << "pass " << pass;
    EXPECT_EQ(names.size(), static_cast<size_t>(kFiles + 2)) << "pass " << pass;
    EXPECT_EQ(names.count("file 2999.dat"), 1u);
  }
}

TEST_F(DriveFrontTest, OpenReadCloseCarryContextCallerAndOptions) {
  SKIP_WITHOUT_FUSE();
  tree->addFile(u"\\a.txt", "hello world");
  folders.writeSettings("M", 0);
  FrontRun run(folders, tree);
  ASSERT_TRUE(run.waitMounted('M'));

  int fd = ::open(at("/a.txt").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0) << std::strerror(errno);
  char buffer[64];
  ASSERT_EQ(::read(fd, buffer, sizeof buffer), 11);
  ::close(fd);
  ASSERT_TRUE(WaitFor([&] { return !tree->callsOf("CloseFile").empty(); }));

  auto creates = tree->callsOf("CreateFile");
  ASSERT_EQ(creates.size(), 1u);
  EXPECT_EQ(creates[0].name, u"\\a.txt");
  EXPECT_EQ(creates[0].disposition, OPEN_EXISTING);
  EXPECT_EQ(creates[0].desiredAccess & (GENERIC_READ | GENERIC_WRITE), GENERIC_READ);
  EXPECT_EQ(creates[0].processId, ThisThreadId());
  EXPECT_EQ(creates[0].options.DriveLetter, u'M');
  EXPECT_EQ(creates[0].options.ThreadCount, 10);
  EXPECT_EQ(creates[0].options.Options, 0x28u);
  EXPECT_EQ(creates[0].options.GlobalContext, 0u);

  auto reads = tree->callsOf("ReadFile");
  ASSERT_FALSE(reads.empty());
  EXPECT_EQ(reads[0].context, 1000u);  // the context the mirror gave the open handle
  EXPECT_EQ(reads[0].offset, 0);

  // Cleanup comes before CloseFile, both on the handle's context.
  std::vector<std::string> order;
  for (const MirrorCall& call : tree->calls()) {
    if (call.operation == "Cleanup" || call.operation == "CloseFile") {
      order.push_back(call.operation);
      EXPECT_EQ(call.context, 1000u);
      EXPECT_EQ(call.name, u"\\a.txt");
    }
  }
  EXPECT_EQ(order, (std::vector<std::string>{"Cleanup", "CloseFile"}));
}

TEST_F(DriveFrontTest, ChangingCommandsReachTheMirrorWithTheirArguments) {
  SKIP_WITHOUT_FUSE();
  tree->addFolder(u"\\docs");
  tree->addFile(u"\\docs\\a.txt", "hello world");
  tree->addFile(u"\\b.bin", "bbb");
  folders.writeSettings("M", 0);
  FrontRun run(folders, tree);
  ASSERT_TRUE(run.waitMounted('M'));
  std::string out;

  ASSERT_EQ(RunCommand("mkdir " + at("/new"), &out), 0) << out;
  EXPECT_TRUE(tree->exists(u"\\new"));
  ASSERT_EQ(tree->callsOf("CreateDirectory").size(), 1u);
  EXPECT_EQ(tree->callsOf("CreateDirectory")[0].name, u"\\new");

  ASSERT_EQ(RunCommand("mv " + at("/docs/a.txt") + " " + at("/new/c.txt"), &out), 0) << out;
  auto moves = tree->callsOf("MoveFile");
  ASSERT_EQ(moves.size(), 1u);
  EXPECT_EQ(moves[0].name, u"\\docs\\a.txt");
  EXPECT_EQ(moves[0].newName, u"\\new\\c.txt");
  EXPECT_EQ(moves[0].replace, 0);  // mv asks not to replace a target that appeared meanwhile
  EXPECT_EQ(tree->contents(u"\\new\\c.txt"), "hello world");
  ASSERT_EQ(::rename(at("/new/c.txt").c_str(), at("/new/a.txt").c_str()), 0);
  ASSERT_EQ(::rename(at("/new/a.txt").c_str(), at("/new/c.txt").c_str()), 0);
  moves = tree->callsOf("MoveFile");
  ASSERT_EQ(moves.size(), 3u);
  EXPECT_EQ(moves[1].replace, 1);  // plain rename replaces

  ASSERT_EQ(RunCommand("truncate -s 5 " + at("/new/c.txt"), &out), 0) << out;
  auto ends = tree->callsOf("SetEndOfFile");
  ASSERT_EQ(ends.size(), 1u);
  EXPECT_EQ(ends[0].name, u"\\new\\c.txt");
  EXPECT_EQ(ends[0].offset, 5);
  EXPECT_EQ(tree->contents(u"\\new\\c.txt"), "hello");

  ASSERT_EQ(RunCommand("printf abc > " + at("/new/d.txt"), &out), 0) << out;
  EXPECT_EQ(tree->contents(u"\\new\\d.txt"), "abc");
  auto creates = tree->callsOf("CreateFile");
  ASSERT_FALSE(creates.empty());
  EXPECT_EQ(creates.back().name, u"\\new\\d.txt");
  EXPECT_EQ(creates.back().disposition, CREATE_ALWAYS);
  EXPECT_EQ(creates.back().desiredAccess & (GENERIC_READ | GENERIC_WRITE), GENERIC_WRITE);
  ASSERT_EQ(RunCommand("cat " + at("/new/d.txt"), &out), 0);
  EXPECT_EQ(out, "abc");

  ASSERT_EQ(RunCommand("rm " + at("/b.bin"), &out), 0) << out;
  ASSERT_EQ(tree->callsOf("DeleteFile").size(), 1u);
  EXPECT_EQ(tree->callsOf("DeleteFile")[0].name, u"\\b.bin");
  EXPECT_FALSE(tree->exists(u"\\b.bin"));

  ASSERT_EQ(RunCommand("rmdir " + at("/docs"), &out), 0) << out;
  ASSERT_EQ(tree->callsOf("DeleteDirectory").size(), 1u);
  EXPECT_EQ(tree->callsOf("DeleteDirectory")[0].name, u"\\docs");
  EXPECT_FALSE(tree->exists(u"\\docs"));
}

TEST_F(DriveFrontTest, MirrorCodesReachTheCallerAsErrno) {
  SKIP_WITHOUT_FUSE();
  const std::pair<int, int> codes[] = {{-2, ENOENT},  {-3, ENOENT},   {-5, EACCES},
                                       {-148, EBUSY}, {-183, EEXIST}, {-6009, EROFS},
                                       {-1, EIO},     {-77, EIO},     {-2147483647, EIO}};
  for (const auto& [code, errnoValue] : codes) {
    std::u16string name = u"\\e" + codepage::Utf8ToWide(std::to_string(-code));
    tree->addFile(name, "x");
    tree->forceResult("GetFileInformation", name, code);
  }
  tree->addFile(u"\\locked", "x");
  tree->forceResult("CreateFile", u"\\locked", -5);
  tree->addFile(u"\\from", "x");
  tree->forceResult("MoveFile", u"\\from", -183);
  tree->forceResult("CreateDirectory", u"\\ro", -6009);
  folders.writeSettings("M", 0);
  FrontRun run(folders, tree);
  ASSERT_TRUE(run.waitMounted('M'));

  for (const auto& [code, errnoValue] : codes) {
    std::string path = at("/e" + std::to_string(-code));
    struct stat st {};
    errno = 0;
    EXPECT_EQ(::stat(path.c_str(), &st), -1) << code;
    EXPECT_EQ(errno, errnoValue) << "mirror code " << code;
  }
  errno = 0;
  EXPECT_EQ(::open(at("/locked").c_str(), O_RDONLY), -1);
  EXPECT_EQ(errno, EACCES);
  errno = 0;
  EXPECT_EQ(::rename(at("/from").c_str(), at("/to").c_str()), -1);
  EXPECT_EQ(errno, EEXIST);
  errno = 0;
  EXPECT_EQ(::mkdir(at("/ro").c_str(), 0755), -1);
  EXPECT_EQ(errno, EROFS);
}

TEST_F(DriveFrontTest, BadNamesAndBadAnswersGiveClearErrors) {
  SKIP_WITHOUT_FUSE();
  tree->addFile(u"\\ok.txt", "fine");
  tree->addFile(u"\\liar.txt", "0123456789");
  WIN32_FIND_DATAW lone{};
  lone.cFileName[0] = 0xD800;  // an unpaired surrogate: no name on this side
  tree->addRawEntry(u"\\", lone);
  WIN32_FIND_DATAW dot{};
  dot.cFileName[0] = u'.';
  tree->addRawEntry(u"\\", dot);
  WIN32_FIND_DATAW slash{};
  std::u16string(u"a/b").copy(slash.cFileName, 3);
  tree->addRawEntry(u"\\", slash);
  WIN32_FIND_DATAW backslash{};
  std::u16string(u"c\\d").copy(backslash.cFileName, 3);
  tree->addRawEntry(u"\\", backslash);
  WIN32_FIND_DATAW unterminated{};
  std::fill(std::begin(unterminated.cFileName), std::end(unterminated.cFileName), u'x');
  tree->addRawEntry(u"\\", unterminated);
  folders.writeSettings("M", 0);
  FrontRun run(folders, tree);
  ASSERT_TRUE(run.waitMounted('M'));

  errno = 0;
  EXPECT_EQ(::open(at("/bad\xff\xfename").c_str(), O_RDONLY | O_CREAT, 0644), -1);
  EXPECT_EQ(errno, EILSEQ);
  errno = 0;
  EXPECT_EQ(::mkdir(at("/two\\names").c_str(), 0755), -1);
  EXPECT_EQ(errno, EINVAL);
  errno = 0;
  EXPECT_EQ(::open(at("/" + std::string(256, 'n')).c_str(), O_RDONLY), -1);
  EXPECT_EQ(errno, ENAMETOOLONG);
  for (const MirrorCall& call : tree->calls()) {
    EXPECT_EQ(call.name.find(u"name"), std::u16string::npos) << "a bad name reached the mirror";
  }

  std::string out;
  ASSERT_EQ(RunCommand("ls -1 " + at(""), &out), 0) << out;
  EXPECT_EQ(out, "liar.txt\nok.txt\n" + std::string(MAX_PATH, 'x') + "\n");

  tree->overReportReads((1u << 20) + 1);  // more than any read the driver asks for
  int fd = ::open(at("/liar.txt").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  char buffer[16];
  errno = 0;
  EXPECT_EQ(::read(fd, buffer, sizeof buffer), -1);
  EXPECT_EQ(errno, EIO);
  ::close(fd);
}

// The kernel's whole read (at most 1 MiB) reaches the mirror in one call; the mirror's
// reader splits it where it must.
TEST_F(DriveFrontTest, ReadsReachTheMirrorWholeUpToTheKernelsLargestRead) {
  SKIP_WITHOUT_FUSE();
  std::string data(300000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 251);
  tree->addFile(u"\\big.bin", data);
  folders.writeSettings("M", 0);
  FrontRun run(folders, tree);
  ASSERT_TRUE(run.waitMounted('M'));

  EXPECT_EQ(ReadFile(at("/big.bin")), data);
  auto reads = tree->callsOf("ReadFile");
  ASSERT_FALSE(reads.empty());
  for (const MirrorCall& call : reads) EXPECT_LE(call.length, 1u << 20);
}

TEST_F(DriveFrontTest, TenReadersAreServedBySeveralDriverThreadsAtOnce) {
  SKIP_WITHOUT_FUSE();
  for (int i = 0; i < 10; ++i)
    tree->addFile(u"\\f" + codepage::Utf8ToWide(std::to_string(i)), std::string(20000, 'a' + i));
  tree->holdReadsUntil(3);
  folders.writeSettings("M", 0);
  FrontRun run(folders, tree);
  ASSERT_TRUE(run.waitMounted('M'));

  std::vector<std::string> results(10);
  std::vector<std::thread> readers;
  for (int i = 0; i < 10; ++i)
    readers.emplace_back([&, i] { results[i] = ReadFile(at("/f" + std::to_string(i))); });
  for (std::thread& reader : readers) reader.join();
  for (int i = 0; i < 10; ++i) EXPECT_EQ(results[i], std::string(20000, 'a' + i)) << i;
  EXPECT_GE(tree->mostReadsAtOnce(), 3);
  EXPECT_GE(tree->readThreadCount(), 3u);
}

TEST_F(DriveFrontTest, TakenLetterMovesToTheNextOne) {
  SKIP_WITHOUT_FUSE();
  LetterOccupier occupier('M');
  ASSERT_TRUE(occupier.mounted());
  folders.writeSettings("M", 3);
  FrontRun run(folders, tree);
  ASSERT_TRUE(run.waitMounted('N'));
  EXPECT_EQ(folders.drive().runDriveLetter(), u"N");
  EXPECT_EQ(run.join(), 0);
  EXPECT_TRUE(HasLine(folders.logLines(), "RunDriveLetter:N"));
}

TEST_F(DriveFrontTest, TakenZContinuesAtA) {
  SKIP_WITHOUT_FUSE();
  LetterOccupier occupier('Z');
  ASSERT_TRUE(occupier.mounted());
  folders.writeSettings("Z", 0);
  FrontRun run(folders, tree);
  ASSERT_TRUE(run.waitMounted('A'));
  EXPECT_EQ(folders.drive().runDriveLetter(), u"A");
}

TEST_F(DriveFrontTest, WithEveryLetterTakenTheCycleEndsWithALogLine) {
  SKIP_WITHOUT_FUSE();
  std::vector<std::unique_ptr<LetterOccupier>> occupiers;
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    occupiers.push_back(std::make_unique<LetterOccupier>(letter));
  }
  for (auto& occupier : occupiers) ASSERT_TRUE(occupier->mounted());
  folders.writeSettings("M", 1);
  FrontRun run(folders, tree);
  ASSERT_TRUE(WaitFor([&] { return run.finished(); }));
  EXPECT_EQ(run.join(), 0);
  EXPECT_TRUE(HasLine(folders.logLines(), "Dokan:No free drive letter"));
  EXPECT_EQ(folders.drive().driveState(), DOKAN_MOUNT_ERROR);
  auto states = run.states();
  EXPECT_EQ(std::count(states.begin(), states.end(), drive_state::kMounted), 0);
  EXPECT_EQ(tree->liveMirrors, 0);
  EXPECT_EQ(folders.drive().currentMirror.load(), nullptr);
}

TEST_F(DriveFrontTest, LowerCaseLetterIsPassedOnAndRefusedByTheDriver) {
  folders.writeSettings("m", 1);
  FrontRun run(folders, tree);
  EXPECT_EQ(run.join(), 0);
  EXPECT_EQ(folders.drive().runDriveLetter(), u"m");
  EXPECT_EQ(folders.drive().driveState(), DOKAN_DRIVE_LETTER_ERROR);
  EXPECT_TRUE(HasLine(folders.logLines(), "Dokan:Bad Drive letter"));
  EXPECT_EQ(tree->liveMirrors, 0);
}

TEST_F(DriveFrontTest, CallbackLinesAreWrittenWithBit0x10) {
  SKIP_WITHOUT_FUSE();
  tree->addFile(u"\\a.txt", "hello");
  folders.writeSettings("M", 16);
  FrontRun run(folders, tree);
  ASSERT_TRUE(run.waitMounted('M'));

  int fd = ::open(at("/a.txt").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  char buffer[16];
  EXPECT_EQ(::read(fd, buffer, sizeof buffer), 5);
  ::close(fd);
  // The kernel releases the handle on its own time; rename only after that, or the release
  // is reported under the new name.
  ASSERT_TRUE(WaitFor([&] { return !tree->callsOf("CloseFile").empty(); }));
  ASSERT_EQ(::rename(at("/a.txt").c_str(), at("/b.txt").c_str()), 0);
  struct statvfs fs {};
  EXPECT_EQ(::statvfs(at("").c_str(), &fs), 0);
  EXPECT_EQ(run.join(), 0);

  std::string me = std::to_string(ThisThreadId());
  auto lines = folders.logLines();
  EXPECT_TRUE(HasLine(lines, "0 " + me + " CreateFile:\\a.txt CreationDisposition:3"));
  EXPECT_TRUE(HasLine(lines, "1000 " + me + " CreateFile:\\a.txt: [Return:0]"));
  EXPECT_TRUE(AnyLineContains(lines, "1000 " + me + " ReadFile:\\a.txt"));
  EXPECT_TRUE(AnyLineContains(lines, " ReadFile:\\a.txt: [Return:0]"));
  // The kernel closes a handle on its own behalf, without a caller: process id 0.
  EXPECT_TRUE(HasLine(lines, "1000 0 Cleanup:\\a.txt"));
  EXPECT_TRUE(HasLine(lines, "1000 0 Cleanup:\\a.txt: [Return:0]"));
  EXPECT_TRUE(HasLine(lines, "1000 0 CloseFile:\\a.txt: [Return:0]"));
  EXPECT_TRUE(HasLine(lines, "0 " + me + " GetFileInformation:\\a.txt: [Return:0]"));
  EXPECT_TRUE(HasLine(lines, "0 " + me + " MoveFile:\\a.txt - \\b.txt "));
  EXPECT_TRUE(HasLine(lines, "0 " + me + " MoveFile:\\a.txt - \\b.txt [Return:0]"));
  EXPECT_TRUE(AnyLineContains(lines, " Unmount: [Return:0]"));
  // Disk space and volume questions are not logged; progress and results need their bits.
  EXPECT_FALSE(AnyLineContains(lines, "DiskFree"));
  EXPECT_FALSE(AnyLineContains(lines, "Volume"));
  EXPECT_FALSE(AnyLineContains(lines, "RunDriveLetter:"));
  EXPECT_FALSE(AnyLineContains(lines, "Dokan:"));
}

TEST_F(DriveFrontTest, WithoutBit0x10NoCallbackIsLogged) {
  SKIP_WITHOUT_FUSE();
  tree->addFile(u"\\a.txt", "hello");
  folders.writeSettings("M", 3);
  FrontRun run(folders, tree);
  ASSERT_TRUE(run.waitMounted('M'));
  EXPECT_EQ(ReadFile(at("/a.txt")), "hello");
  EXPECT_EQ(run.join(), 0);

  auto lines = folders.logLines();
  EXPECT_FALSE(AnyLineContains(lines, "CreateFile:"));
  EXPECT_FALSE(AnyLineContains(lines, "ReadFile:"));
  EXPECT_FALSE(AnyLineContains(lines, "[Return:"));
  EXPECT_TRUE(HasLine(lines, "RunDriveLetter:M"));
  EXPECT_TRUE(HasLine(lines, "开始装载磁盘"));
  EXPECT_TRUE(HasLine(lines, "Dokan:Unmount\n"));
  EXPECT_TRUE(HasLine(lines, "Dokan:Success"));
}

TEST_F(DriveFrontTest, ResultsOnlyWithBit0x01) {
  SKIP_WITHOUT_FUSE();
  folders.writeSettings("M", 1);
  FrontRun run(folders, tree);
  ASSERT_TRUE(run.waitMounted('M'));
  EXPECT_EQ(run.join(), 0);
  auto lines = folders.logLines();
  EXPECT_FALSE(AnyLineContains(lines, "RunDriveLetter:"));
  EXPECT_FALSE(AnyLineContains(lines, "开始装载磁盘"));
  EXPECT_TRUE(HasLine(lines, "Dokan:Unmount\n"));
  EXPECT_TRUE(HasLine(lines, "Dokan:Success"));
}

TEST_F(DriveFrontTest, UnmountFromAnotherThreadEndsTheCycle) {
  SKIP_WITHOUT_FUSE();
  folders.writeSettings("M", 1);
  FrontRun run(folders, tree);
  ASSERT_TRUE(run.waitMounted('M'));
  EXPECT_EQ(folders.drive().driveState(), drive_state::kMounted);

  std::thread other([this] { Unmount(folders.drive()); });
  other.join();
  ASSERT_TRUE(WaitFor([&] { return run.finished(); }));
  EXPECT_EQ(run.join(), 0);
  EXPECT_EQ(folders.drive().driveState(), drive_state::kStopped);
  auto states = run.states();
  ASSERT_GE(states.size(), 2u);
  EXPECT_EQ(states[states.size() - 2], drive_state::kMounted);
  EXPECT_TRUE(HasLine(folders.logLines(), "Dokan:Success"));
  EXPECT_EQ(tree->liveMirrors, 0);
  EXPECT_EQ(tree->unmountCalls, 1);
  EXPECT_EQ(folders.drive().currentMirror.load(), nullptr);
  EXPECT_FALSE(folders.isMounted('M'));
}

TEST_F(DriveFrontTest, AFileOpenAtUnmountIsClosedExactlyOnce) {
  SKIP_WITHOUT_FUSE();
  tree->addFile(u"\\a.txt", "hello");
  folders.writeSettings("M", 0);
  FrontRun run(folders, tree);
  ASSERT_TRUE(run.waitMounted('M'));
  int fd = ::open(at("/a.txt").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  Unmount(folders.drive());
  EXPECT_TRUE(WaitFor([&] { return !folders.isMounted('M'); }));
  ::close(fd);
  EXPECT_EQ(run.join(), 0);
  auto closes = tree->callsOf("CloseFile");
  ASSERT_EQ(closes.size(), 1u);
  EXPECT_EQ(closes[0].context, 1000u);
  EXPECT_EQ(tree->callsOf("Cleanup").size(), 1u);
  EXPECT_EQ(tree->unmountCalls, 1);
}

TEST_F(DriveFrontTest, RunLoopMountsAgainAfterAnUnmount) {
  SKIP_WITHOUT_FUSE();
  folders.writeSettings("M", 0);
  std::atomic<int> made{0};
  folders.drive().createMirror = [&] {
    ++made;
    return new MemoryMirror(tree);
  };
  RunLoopTiming timing;
  timing.afterMount = std::chrono::milliseconds(20);
  timing.afterStop = std::chrono::milliseconds(20);
  timing.runPoll = std::chrono::milliseconds(20);
  std::atomic<bool> keepRunning{true};
  std::thread loop([&] { RunMountCycles(folders.drive(), timing, keepRunning); });
  struct StopLoop {
    std::atomic<bool>& keepRunning;
    std::thread& loop;
    TestDriveFolders& folders;
    ~StopLoop() {
      keepRunning = false;
      bool gone = WaitFor([&] {
        Unmount(folders.drive());
        return !folders.isMounted('M') && !folders.isMounted('N');
      });
      if (!gone) ForceUnmountBelow(folders.driveRoot());
      loop.join();
      folders.drive().createMirror = nullptr;
    }
  } stop{keepRunning, loop, folders};

  ASSERT_TRUE(WaitFor([&] { return folders.isMounted('M'); }));
  Unmount(folders.drive());
  ASSERT_TRUE(WaitFor([&] { return made == 2 && folders.isMounted('M'); }));
}

TEST_F(DriveFrontTest, EndingTheProcessLeavesNoMountBehind) {
  SKIP_WITHOUT_FUSE();
  folders.writeSettings("M", 0);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    folders.drive().createMirror = [this] { return new MemoryMirror(tree); };
    static MountCycle cycle(codepage::AnsiToWide(folders.programFolder() + "tarvex.ini"));
    static std::atomic<bool> keepRunning{true};
    std::thread([this] { Mount(folders.drive(), cycle, RunLoopTiming{}, keepRunning); }).detach();
    if (!WaitFor([&] { return folders.isMounted('M'); })) ::_exit(3);
    EndProcess(folders.drive(), 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the child never saw its drive mounted";
  EXPECT_FALSE(folders.isMounted('M'));
}

}  // namespace
