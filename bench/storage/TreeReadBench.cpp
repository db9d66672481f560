// Reads and indexes a list3 reply of many entries through QLVMirror::readDirTree (HTTP over
// loopback, Base64 decoding, tree building, ".filelist"), and prints one line per figure.
//   storage_tree_bench [entries=100000] [depth=10] [rounds=5]
#include <malloc.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "bench/storage/TreeListing.h"
#include "drive/core/DriveProcess.h"
#include "drive/core/MirrorConfig.h"
#include "drive/replies/TextDigest.h"
#include "drive/storage/QLVMirror.h"
#include "drive/storage/StorageProcess.h"
#include "drive/tree/FileListWriter.h"
#include "drive/tree/FolderTree.h"
#include "drive/tree/ListReplyReader.h"
#include "platform/codepage/CodePage.h"
#include "tests/support/ScriptedHttpServer.h"
#include "tests/support/TempDir.h"

namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration span) {
  return std::chrono::duration<double, std::milli>(span).count();
}

long PeakRssKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// CPU time of the calling thread: steadier than wall time on a busy machine.
double ThreadCpuMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// The reply read as the drive program reads it: handed over in 1 KiB pieces.
BuiltTree ReadListReply(const std::string& reply) {
  ListReplyReader reader(nullptr);
  for (size_t at = 0; at < reply.size(); at += 1024) {
    reader.feed(std::string_view(reply).substr(at, 1024));
  }
  return reader.finish();
}

}  // namespace

int main(int argc, char** argv) {
  int entries = argc > 1 ? std::atoi(argv[1]) : 100000;
  int depth = argc > 2 ? std::atoi(argv[2]) : 10;
  int rounds = argc > 3 ? std::atoi(argv[3]) : 5;
  codepage::InitProcessLocale();

  TempDir temp;
  std::filesystem::path folder = temp.path();
  DriveProcess drive;
  StorageProcess storage;
  drive.programFolder = folder.string() + "/";

  TreeListing listing = MakeTreeListing(entries, depth);
  std::string reply = "ok,1,10,1," + text_digest::EncodeBase64(listing.lines);
  std::printf("tree: %d entries (%d folders, %d files), depth %d, reply %.1f MB\n",
              listing.folders + listing.files, listing.folders, listing.files, listing.maxDepth,
              reply.size() / 1e6);
  long rssBefore = PeakRssKiB();

  ScriptedHttpServer server([&](const std::string&) { return ScriptedHttpServer::Reply(reply); });
  MirrorConfig config(codepage::Utf8ToWide((folder / "tarvex.ini").string()));
  config.ServerAddress = u"127.0.0.1";
  MirrorOptions options;
  options.webPort = server.port();
  std::vector<double> whole, wholeCpu, parse, fileList;
  {
    QLVMirror mirror(drive, storage, options);
    mirror.SetConfig(&config);
    for (int round = 0; round < rounds; ++round) {
      auto start = Clock::now();
      double cpuStart = ThreadCpuMilliseconds();
      if (mirror.readDirTree() != 0) {
        std::fprintf(stderr, "tree read failed\n");
        return 1;
      }
      whole.push_back(Milliseconds(Clock::now() - start));
      wholeCpu.push_back(ThreadCpuMilliseconds() - cpuStart);
    }
    if (mirror.GetIdOfPath(u"\\FOLDER 1\\FOLDER 3") != u"3") {
      std::fprintf(stderr, "tree not indexed as expected\n");
      return 1;
    }
  }
  long rssAfterMirror = PeakRssKiB();

  for (int round = 0; round < rounds; ++round) {
    auto start = Clock::now();
    BuiltTree tree = ReadListReply(reply);
    auto built = Clock::now();
    std::string content = FormatFileList(tree.tables, 1, u"bench");
    fileList.push_back(Milliseconds(Clock::now() - built));
    parse.push_back(Milliseconds(built - start));
  }

  // The tables alone: heap in use with one built tree, less the heap in use without it.
  size_t tableBytes = 0;
  {
    size_t before = mallinfo2().uordblks;
    BuiltTree tree = ReadListReply(reply);
    tableBytes = mallinfo2().uordblks - before;
  }

  std::printf("readDirTree (HTTP + decode + index + .filelist): median %.0f ms, best %.0f ms\n",
              Median(whole), *std::min_element(whole.begin(), whole.end()));
  std::printf("readDirTree CPU time of the reading thread: median %.0f ms\n", Median(wholeCpu));
  std::printf("decode + index only: median %.0f ms\n", Median(parse));
  std::printf(".filelist text only: median %.0f ms\n", Median(fileList));
  std::printf("tables: %.1f MiB, %.0f bytes per entry\n", tableBytes / 1048576.0,
              static_cast<double>(tableBytes) / (listing.folders + listing.files));
  std::printf("peak memory: %ld MiB before, %ld MiB after the tree reads\n", rssBefore / 1024,
              rssAfterMirror / 1024);
  return 0;
}
