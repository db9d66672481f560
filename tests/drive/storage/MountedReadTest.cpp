// Reading files through a real mounted drive backed by the reference service: copies are
// byte-identical for sizes around the 64 KiB head and for large files, eight processes read
// at once, an expired session surfaces as an error of the read, a stream server that drops
// its connections still yields identical copies, and the maintenance thread prunes the head
// files but keeps those of open files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "drive/core/DriveFront.h"
#include "drive/core/DriveProcess.h"
#include "drive/replies/TextDigest.h"
#include "drive/storage/QLVMirror.h"
#include "drive/storage/ReadLinkCache.h"
#include "platform/codepage/CodePage.h"
#include "tests/drive/core/front/FrontHarness.h"
#include "tests/drive/storage/mounted/MountedServiceTest.h"
#include "tests/support/Files.h"
#include "tests/support/ReferenceServer.h"

namespace fs = std::filesystem;

namespace {

// Fast reproducible bytes: large files are written without waiting on a slow generator.
void WritePattern(const fs::path& path, uint64_t size, uint64_t seed) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  std::vector<uint64_t> block(1 << 16);
  uint64_t state = seed * 0x9E3779B97F4A7C15ULL + 1;
  for (uint64_t done = 0; done < size;) {
    for (uint64_t& word : block) {
      state ^= state << 13;
      state ^= state >> 7;
      state ^= state << 17;
      word = state;
    }
    uint64_t piece = std::min<uint64_t>(size - done, block.size() * sizeof(uint64_t));
    out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(piece));
    done += piece;
  }
}

std::string Quoted(const fs::path& path) { return "'" + path.string() + "'"; }

// Size of the large file: the 200 MiB unless QUELLAN_TEST_LARGE_MIB says otherwise.
uint64_t LargeFileBytes() {
  const char* mib = std::getenv("QUELLAN_TEST_LARGE_MIB");
  return (mib ? std::strtoull(mib, nullptr, 10) : 200ULL) << 20;
}

}  // namespace

class MountedReadTest : public MountedServiceTest {
 protected:
  MountedReadTest() : MountedServiceTest('R') {}

  void SetUp() override {
    MountedServiceTest::SetUp();
    if (!reason_.empty()) return;
    for (uint64_t size : {1ULL, 65535ULL, 65536ULL, 65537ULL, 10ULL << 20})
      WritePattern(mine_ / ("f" + std::to_string(size) + ".bin"), size, size);
    WritePattern(mine_ / "大 文件 large.bin", LargeFileBytes(), 99);
    WritePattern(mine_ / "子 文件夹" / "第 一.txt", 300001, 5);
  }

  // Copies the file off the drive with cp and compares the copy with the service's file.
  void expectIdenticalCopy(const std::string& relative) {
    SCOPED_TRACE(relative);
    fs::path copy = fs::path(folders_.top()) / "copy.bin";
    std::string output;
    EXPECT_EQ(RunCommand("cp " + Quoted(drive_ / relative) + " " + Quoted(copy), &output), 0)
        << output;
    EXPECT_EQ(RunCommand("cmp " + Quoted(copy) + " " + Quoted(mine_ / relative), &output), 0)
        << output;
    fs::remove(copy);
  }
};

TEST_F(MountedReadTest, CopiesAreByteIdenticalAlsoWithEightReadersAtOnce) {
  SKIP_WITHOUT_FUSE_HERE();
  mountDrive();
  for (const char* name : {"f1.bin", "f65535.bin", "f65536.bin", "f65537.bin", "f10485760.bin",
                           "大 文件 large.bin", "子 文件夹/第 一.txt"}) {
    expectIdenticalCopy(name);
  }
  // A second copy is served partly from the head files the first one left.
  expectIdenticalCopy("f65537.bin");

  // Eight processes at once, four on one file and four on others.
  std::string script;
  const char* names[] = {"f10485760.bin",       "f10485760.bin",     "f10485760.bin",
                         "f10485760.bin",       "大 文件 large.bin", "f65537.bin",
                         "子 文件夹/第 一.txt", "f65535.bin"};
  for (int i = 0; i < 8; ++i) {
    script += "cmp " + Quoted(drive_ / names[i]) + " " + Quoted(mine_ / names[i]) + " & p" +
              std::to_string(i) + "=$!; ";
  }
  script += "s=0; for p in $p0 $p1 $p2 $p3 $p4 $p5 $p6 $p7; do wait $p || s=1; done; exit $s";
  std::string output;
  EXPECT_EQ(RunCommand("bash -c \"" + script + "\"", &output), 0) << output;
}

TEST_F(MountedReadTest, ExpiredSessionFailsTheReadWithoutANewLogin) {
  SKIP_WITHOUT_FUSE_HERE();
  mountDrive({"--fault-web-error", "readdist=err,Session expired"});
  std::string output;
  EXPECT_NE(RunCommand("{ cat " + Quoted(drive_ / "f65537.bin") + " > /dev/null; }", &output), 0);
  EXPECT_NE(output.find("Permission denied"), std::string::npos) << output;
  std::string log = ReadFile(folders_.programFolder() + "mirror.log");
  EXPECT_NE(log.find("readdist ERR:-12 "), std::string::npos);
  EXPECT_EQ(CountOf(ReadFile(server_.logPath()), "action=login"), 1u);

  server_.setFaults({});
  expectIdenticalCopy("f65537.bin");
}

TEST_F(MountedReadTest, DroppedStreamConnectionsStillGiveIdenticalCopies) {
  SKIP_WITHOUT_FUSE_HERE();
  mountDrive({"--fault-drop-after", "1500000"});
  expectIdenticalCopy("f10485760.bin");
  expectIdenticalCopy("子 文件夹/第 一.txt");
  EXPECT_NE(ReadFile(server_.logPath()).find("dropping the connection"), std::string::npos);
}

TEST_F(MountedReadTest, MaintenancePrunesHeadFilesButKeepsThoseOfOpenFiles) {
  SKIP_WITHOUT_FUSE_HERE();
  fs::path cache = fs::path(folders_.programFolder()) / "cache";
  for (int i = 0; i < 40; ++i) WritePattern(cache / ("old" + std::to_string(i)), 3000000, i);
  mountDrive({}, 5);  // a maintenance cycle every 50 ms

  int fd = ::open((drive_ / "f65537.bin").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  char byte = 0;
  ASSERT_EQ(::pread(fd, &byte, 1, 0), 1);
  fs::path head;
  ASSERT_TRUE(WaitFor([&] {
    for (const auto& entry : fs::directory_iterator(cache)) {
      if (entry.path().filename().string().rfind("old", 0) != 0 && entry.file_size() == 65536)
        head = entry.path();
    }
    return !head.empty();
  }));
  auto total = [&] {
    uint64_t sum = 0;
    for (const auto& entry : fs::directory_iterator(cache)) sum += entry.file_size();
    return sum;
  };
  EXPECT_TRUE(WaitFor([&] { return total() <= 100000000 + 3000000 + 65536; })) << total();
  EXPECT_TRUE(fs::exists(head));
  ::close(fd);
}
