// The pieces of the read path that need no service: the "readdist" reply, the read-link
// cache's minute, the delayed release of closed contexts (with injected tick counts) and
// the pruning of the two cache folders.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "drive/replies/ReadLinkReply.h"
#include "drive/storage/CachePruning.h"
#include "drive/storage/ClosedFiles.h"
#include "drive/storage/QLVFile.h"
#include "drive/storage/ReadLinkCache.h"
#include "drive/stream/StreamContext.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

TEST(ReadLinkReply, AcceptsOnlyCompleteLinks) {
  StreamLink link;
  EXPECT_EQ(ParseReadLinkReply(u"ok, 10.0.0.5 ,8169, 0abc ,tic:ket\r\n", &link), 0);
  EXPECT_EQ(link.host, u"10.0.0.5");
  EXPECT_EQ(link.port, 8169);
  EXPECT_EQ(link.token2, u"0abc");
  EXPECT_EQ(link.token1, u"tic:ket");

  for (const char16_t* refused :
       {u"ok,", u"ok,host,8169,t2", u"ok,host,port,t2,t1", u"ok,host,0,t2,t1",
        u"ok,host,70000,t2,t1", u"ok,,8169,t2,t1", u"ok,host,8169,,t1", u"", u"err", u"err,Name",
        u"Filed", u"x ok,a,1,b,c"}) {
    EXPECT_EQ(ParseReadLinkReply(refused, &link), read_link::kRefused)
        << std::u16string(refused).size();
  }
  EXPECT_EQ(ParseReadLinkReply(u"err,File not found", &link), read_link::kFileRefused);
  EXPECT_EQ(ParseReadLinkReply(u"err,Session expired", &link), read_link::kSessionRefused);
  EXPECT_EQ(ParseReadLinkReply(u"err,File Session", &link), read_link::kSessionRefused);
  EXPECT_EQ(link.host, u"10.0.0.5");  // refusals leave the link alone
}

TEST(ReadLinkCache, EntriesStayFreshForAMinuteAfterTheirLastUseUntilDropped) {
  ReadLinkCache cache;
  StreamLink link{u"h", 1, u"a", u"b"};
  EXPECT_FALSE(cache.fresh(u"7", 1000));
  cache.store(u"7", link, 1000);
  EXPECT_TRUE(cache.fresh(u"7", 60999));
  EXPECT_FALSE(cache.fresh(u"7", 61000));
  cache.touch(u"7", 50000);
  EXPECT_TRUE(cache.fresh(u"7", 109999));
  EXPECT_FALSE(cache.fresh(u"8", 50000));
  // Across the wrap of the 32-bit tick count.
  cache.store(u"9", link, 0xfffff000u);
  EXPECT_EQ(cache.fresh(u"9", 0x1000u)->host, u"h");

  // A dropped entry is gone; a link asked for before the drop is not kept.
  uint64_t before = cache.drops();
  EXPECT_EQ(cache.drop(u"9")->token2, u"b");
  EXPECT_FALSE(cache.fresh(u"9", 0x1000u));
  EXPECT_FALSE(cache.drop(u"9"));
  cache.store(u"9", link, 0x1000u, before);
  EXPECT_FALSE(cache.fresh(u"9", 0x1000u));
  cache.store(u"9", link, 0x1000u, cache.drops());
  EXPECT_TRUE(cache.fresh(u"9", 0x1000u));
}

class ClosedFilesTest : public ::testing::Test {
 protected:
  std::unique_ptr<QLVFile> closedAt(uint32_t ticks, const char16_t* id) {
    auto file = std::make_unique<QLVFile>(id, 10, WebSession{}, folder_.path() + "/", stream_);
    file->setCloseTime(ticks);
    return file;
  }

  TempDir folder_;
  StreamContext stream_;
};

TEST_F(ClosedFilesTest, IdleContextsGoAfterASecondOnePerCall) {
  ClosedFiles list;
  list.add(closedAt(10000, u"a"));
  list.add(closedAt(10500, u"b"));
  EXPECT_FALSE(list.releaseOne(11000));  // exactly one second is not yet more than one
  EXPECT_TRUE(list.releaseOne(11001));
  EXPECT_EQ(list.size(), 1u);
  EXPECT_FALSE(list.releaseOne(11001));  // the second one closed later
  EXPECT_TRUE(list.releaseOne(11501));
  EXPECT_EQ(list.size(), 0u);
  EXPECT_FALSE(list.releaseOne(99999));
}

TEST_F(ClosedFilesTest, BusyContextsWaitUpToAHundredSeconds) {
  ClosedFiles list;
  auto busy = closedAt(0xffffff00u, u"busy");  // closed just before the tick count wraps
  busy->enter();
  QLVFile* busyFile = busy.get();
  list.add(std::move(busy));
  list.add(closedAt(0xffffff80u, u"idle"));
  // The idle one behind the busy one goes first.
  EXPECT_TRUE(list.releaseOne(2000));
  EXPECT_EQ(list.headKeys().size(), 1u);
  EXPECT_FALSE(list.releaseOne(99000));
  busyFile->enter();
  busyFile->leave();
  EXPECT_FALSE(list.releaseOne(0xffffff00u + 100000u));
  EXPECT_TRUE(list.releaseOne(0xffffff00u + 100001u));
  EXPECT_EQ(list.size(), 0u);
}

namespace {

void WriteBytes(const fs::path& path, size_t size, int ageSeconds = 0) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  std::string block(64 * 1024, 'x');
  for (size_t done = 0; done < size; done += block.size())
    out.write(block.data(), static_cast<std::streamsize>(std::min(block.size(), size - done)));
  out.close();
  fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::seconds(ageSeconds));
}

size_t CountFiles(const fs::path& folder) {
  size_t count = 0;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    if (entry.is_regular_file()) ++count;
  return count;
}

}  // namespace

TEST(CachePruning, HeadFolderKeepsAboutAHundredMillionBytes) {
  TempDir folder;
  fs::path cache = fs::path(folder.path()) / "cache";
  // 40 files of 3 MB: the running total passes 100 000 000 after 34 of them.
  for (int i = 0; i < 40; ++i) WriteBytes(cache / ("h" + std::to_string(i)), 3000000);
  WriteBytes(cache / ".keep", 10);
  std::set<std::string> inUse;
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(cache)) {
    std::string name = entry.path().filename().string();
    if (name[0] != '.') names.push_back(name);
  }
  inUse.insert(names.back());  // listed last, and open

  cache_pruning::PruneHeadFolder(cache, inUse);
  EXPECT_EQ(CountFiles(cache), 34u + 1u + 1u);
  EXPECT_TRUE(fs::exists(cache / ".keep"));
  EXPECT_TRUE(fs::exists(cache / names.back()));
  for (size_t i = 0; i < 34; ++i) EXPECT_TRUE(fs::exists(cache / names[i])) << i;

  cache_pruning::PruneHeadFolder(fs::path(folder.path()) / "missing", inUse);  // no folder: nothing
}

TEST(CachePruning, TemporaryFolderLosesItsOldestFilesFirst) {
  TempDir folder;
  fs::path cache = fs::path(folder.path()) / "qlv_cache";
  WriteBytes(cache / "old" / "a", 3 << 20, 300);
  WriteBytes(cache / "b", 3 << 20, 200);
  WriteBytes(cache / "open", 3 << 20, 250);
  WriteBytes(cache / "c", 3 << 20, 100);
  fs::create_directories(cache / "empty" / "deeper");

  cache_pruning::PruneTemporaryFolder(cache, 100, {});  // within the limit: nothing goes
  EXPECT_EQ(CountFiles(cache), 4u);
  EXPECT_FALSE(fs::exists(cache / "empty"));

  // 12 MiB against 7: "old/a" and "b" go ("open" is in use), then 6 MiB are within it.
  cache_pruning::PruneTemporaryFolder(cache, 7, {"open"});
  EXPECT_FALSE(fs::exists(cache / "old"));
  EXPECT_FALSE(fs::exists(cache / "b"));
  EXPECT_TRUE(fs::exists(cache / "open"));
  EXPECT_TRUE(fs::exists(cache / "c"));
  EXPECT_TRUE(fs::exists(cache));
}
