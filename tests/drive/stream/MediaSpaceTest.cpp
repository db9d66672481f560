#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <future>
#include <random>
#include <string>
#include <vector>

#include "drive/stream/CMediaSpace.h"
#include "drive/wire/ReplyFrame.h"
#include "tests/support/Files.h"
#include "tests/support/ScriptedStreamServer.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"

namespace {

constexpr int64_t kFileSize = (24 << 20) + 12345;

const std::string& Content() {
  static const std::string bytes = PatternBytes(kFileSize, 3);
  return bytes;
}

class MediaSpaceTest : public ::testing::Test {
 protected:
  MediaSpaceTest()
      : folder_(dir_.path() + "/"),
        service_(Content(), "ticket", "cafe01", "mkv"),
        server_(service_.handler()) {}

  std::unique_ptr<CMediaSpace> openReader(const std::string& expect = "ok") {
    auto reader = std::make_unique<CMediaSpace>(folder_, stream_);
    EXPECT_EQ(reader->open("127.0.0.1", server_.port(), "ticket", "cafe01"), expect);
    return reader;
  }

  // Reads the file from `start` to its end in reads of `size` and compares every byte.
  void readSequentially(CMediaSpace& reader, int32_t size, int64_t start = 0) {
    std::vector<uint8_t> buffer(size);
    for (int64_t offset = start; offset < kFileSize; offset += size) {
      int32_t expected = static_cast<int32_t>(std::min<int64_t>(size, kFileSize - offset));
      ASSERT_EQ(reader.read(buffer.data(), offset, size), expected) << "offset " << offset;
      ASSERT_EQ(std::memcmp(buffer.data(), Content().data() + offset, expected), 0)
          << "offset " << offset;
    }
  }

  TempDir dir_;
  std::string folder_;
  StreamContext stream_;
  FileStreamService service_;
  ScriptedStreamServer server_;
};

TEST_F(MediaSpaceTest, SequentialReadsOfEverySizeReturnTheFile) {
  for (int32_t size : {4096, 65536, 1 << 20}) {
    // The first open fetches the head; the later ones take it from the disk cache.
    auto reader = openReader();
    EXPECT_EQ(reader->headSize(), 65536);
    readSequentially(*reader, size);
    EXPECT_EQ(reader->fileLength(), kFileSize);
    uint8_t byte;
    EXPECT_EQ(reader->read(&byte, kFileSize, 1), 0);
    EXPECT_EQ(reader->read(&byte, kFileSize + 1, 1), -1);
    reader->close();
  }
  EXPECT_GT(server_.count("t_read"), 0);  // the 1 MiB reads go to the master connection
}

TEST_F(MediaSpaceTest, RandomReadsReturnTheFile) {
  auto reader = openReader();
  std::mt19937_64 random(42);
  std::vector<uint8_t> buffer(300000);
  for (int i = 0; i < 120; ++i) {
    int64_t offset = random() % kFileSize;
    int32_t size = static_cast<int32_t>(1 + random() % (i % 3 == 0 ? 300000 : 65536));
    int32_t expected = static_cast<int32_t>(std::min<int64_t>(size, kFileSize - offset));
    ASSERT_EQ(reader->read(buffer.data(), offset, size), expected) << offset << " " << size;
    ASSERT_EQ(std::memcmp(buffer.data(), Content().data() + offset, expected), 0)
        << offset << " " << size;
  }
  uint8_t byte;
  EXPECT_EQ(reader->read(&byte, -1, 1), -1);
  EXPECT_EQ(reader->read(&byte, 0, -1), -1);
}

TEST_F(MediaSpaceTest, SmallSequentialReadsAskOncePerWindowAndNeverPastTheEnd) {
  auto reader = openReader();
  readSequentially(*reader, 4096, kFileSize - (8 << 20));
  reader->close();
  int fetches = server_.count("t1_read");
  // At most one request per 256 KiB step; the window grows, so later requests are larger.
  EXPECT_LE(fetches, (8 << 20) / 262144 + 3);
  EXPECT_EQ(server_.count("t_read"), 0);
  int64_t asked = 0;
  for (const std::string& request : server_.requests()) {
    auto fields = streamwire::SplitFields(request);
    if (fields[0] != "t1_read") continue;
    int64_t offset = std::stoll(fields[2]);
    int64_t size = std::stoll(fields[3]);
    EXPECT_TRUE(size >= 262144 || offset + size == kFileSize) << request;
    EXPECT_LE(offset + size, kFileSize) << request;
    asked += size;
  }
  EXPECT_GE(asked, (8 << 20) - 65536);
  // "t_close" has no reply: wait for the server to have read all three.
  EXPECT_TRUE(WaitFor([&] { return server_.count("t_close") == 3; }));
}

TEST_F(MediaSpaceTest, OpenFromTheDiskCacheReadsTheHeadWithoutNetwork) {
  openReader()->close();
  std::ifstream head(folder_ + "cache/cafe01", std::ios::binary | std::ios::ate);
  ASSERT_EQ(head.tellg(), 65536);

  // The open's own connection and the spare made after it; the server counts a connection
  // when it accepts it, which may come after the client's connect has completed.
  ASSERT_TRUE(WaitFor([&] { return stream_.spares.readyCount() == 1; }));
  ASSERT_TRUE(WaitFor([&] { return server_.connections() == 2; })) << server_.connections();
  int before = server_.connections();
  auto reader = openReader();
  EXPECT_EQ(reader->fileLength(), 65536);
  std::vector<uint8_t> buffer(65536);
  ASSERT_EQ(reader->read(buffer.data(), 0, 4096), 4096);
  ASSERT_EQ(reader->read(buffer.data(), 1000, 64536), 64536);
  EXPECT_EQ(std::memcmp(buffer.data(), Content().data() + 1000, 64536), 0);
  EXPECT_EQ(server_.connections(), before);

  // The first read past the head opens the stream for real.
  ASSERT_EQ(reader->read(buffer.data(), 60000, 10000), 10000);
  EXPECT_EQ(std::memcmp(buffer.data(), Content().data() + 60000, 10000), 0);
  EXPECT_TRUE(WaitFor([&] { return server_.connections() > before; }));
  EXPECT_EQ(reader->fileLength(), kFileSize);
  readSequentially(*reader, 65536, 65536);
}

TEST_F(MediaSpaceTest, ShortHeadFileIsNeverUsed) {
  std::filesystem::create_directories(folder_ + "cache");
  std::ofstream(folder_ + "cache/cafe01", std::ios::binary) << "short";
  int before = server_.connections();
  auto reader = openReader();
  EXPECT_EQ(reader->fileLength(), kFileSize);
  EXPECT_GT(server_.connections(), before);
  std::vector<uint8_t> buffer(100);
  ASSERT_EQ(reader->read(buffer.data(), 0, 100), 100);
  EXPECT_EQ(std::memcmp(buffer.data(), Content().data(), 100), 0);
  EXPECT_EQ(std::filesystem::file_size(folder_ + "cache/cafe01"), 5u);  // never rewritten
}

TEST_F(MediaSpaceTest, CloseWhileAReaderWaitsMakesItReturnMinusOne) {
  service_.silentFetch = true;
  auto reader = openReader();
  auto started = std::chrono::steady_clock::now();
  auto waiting = std::async(std::launch::async, [&] {
    std::vector<uint8_t> buffer(4096);
    return reader->read(buffer.data(), 5 << 20, 4096);
  });
  ASSERT_TRUE(WaitFor([&] { return server_.count("t1_read") > 0; }));
  reader->close();
  EXPECT_EQ(waiting.get(), -1);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(8));
}

TEST_F(MediaSpaceTest, OpenFailuresReportTheirWords) {
  auto reader = std::make_unique<CMediaSpace>(folder_, stream_);
  // Arguments that cannot make a request connect nowhere and take no spare connection.
  EXPECT_EQ(reader->open("127.0.0.1", server_.port(), "", "cafe01"), "argument_not_correct");
  EXPECT_EQ(reader->open("", server_.port(), "ticket", "cafe01"), "argument_not_correct");
  EXPECT_EQ(reader->open("127.0.0.1", 0, "ticket", "cafe01"), "argument_not_correct");
  EXPECT_EQ(stream_.spares.readyCount(), 0);
  EXPECT_EQ(server_.connections(), 0);

  EXPECT_EQ(reader->open("127.0.0.1", server_.port(), "wrong", "cafe01"), "token");
  EXPECT_EQ(reader->fileLength(), 0);
  uint8_t byte;
  EXPECT_EQ(reader->read(&byte, 100000, 1), -1);

  int port = server_.port();
  server_.stop();
  EXPECT_EQ(reader->open("127.0.0.1", port, "ticket", "cafe01"), "connect_failed");
}

// Each open takes the stream server's spare connection, which is then replaced for the next
// open. A spare the server has closed is no error: the open goes out again on a new one.
TEST_F(MediaSpaceTest, OpensTakeTheSpareConnectionAndGetPastOneTheServerClosed) {
  auto openAfresh = [&] {
    std::filesystem::remove(folder_ + "cache/cafe01");  // so that the open asks the server
    return openReader();
  };
  // The server counts a connection when it accepts it, which may come after the client's
  // connect has completed: the counts are waited for.
  openAfresh()->close();  // no spare yet: the open connects, and a spare is made
  ASSERT_TRUE(WaitFor([&] { return stream_.spares.readyCount() == 1; }));
  ASSERT_TRUE(WaitFor([&] { return server_.connections() == 2; })) << server_.connections();
  openAfresh()->close();  // takes the spare; only its replacement is a new connection
  ASSERT_TRUE(WaitFor([&] { return stream_.spares.readyCount() == 1; }));
  EXPECT_TRUE(WaitFor([&] { return server_.connections() == 3; })) << server_.connections();

  service_.hangUpOpens = 1;
  int opens = server_.count("t1_open");
  auto reader = openAfresh();
  EXPECT_EQ(server_.count("t1_open"), opens + 2);
  EXPECT_EQ(reader->fileLength(), kFileSize);
  readSequentially(*reader, 65536, kFileSize - (1 << 20));
}

// The three fetch threads open their connections side by side and the reader takes its data
// from whichever is ready, so the log names no particular thread: one may still be opening
// when the reader closes, and then gives its open up ("SlaveOpen(n) Failed") without entering.
TEST_F(MediaSpaceTest, StreamLogFollowsTheMask) {
  std::ofstream(folder_ + "media.ini") << "B4";
  {
    auto reader = openReader();
    readSequentially(*reader, 16384, kFileSize - (2 << 20));
  }
  std::string log = ReadFile(folder_ + "vod.log");
  for (const char* line :
       {"] -------------------------------------------------------------\n",
        "Open: Connect to 127.0.0.1:", "Open Success: 127.0.0.1:",
        " ticket cafe01 25178169 Ext=mkv", "WriteCacheFile(not_exists): ",
        "Enter Thread: Start Slave(", "Read: Times=0 Offset=", "RequestMedia: Offset=",
        "RequestReceive: Index=", "RequestReceive: Recv--FetchTimes=", "RecvData: Buf=ok,",
        "RecvData: hsize=", "Statistic: cafe01 24 mkv ",
        "MemCache: MaxId=", "Exit Thread: FileLength=25178169", "Close: ticket"}) {
    EXPECT_NE(log.find(line), std::string::npos) << line;
  }

  std::remove((folder_ + "media.ini").c_str());
  std::remove((folder_ + "vod.log").c_str());
  {
    auto reader = openReader();
    std::vector<uint8_t> buffer(4096);
    reader->read(buffer.data(), 1 << 20, 4096);
  }
  log = ReadFile(folder_ + "vod.log");
  EXPECT_NE(log.find("Open Success"), std::string::npos);
  EXPECT_NE(log.find("WriteCacheFile(exists): "), std::string::npos);
  EXPECT_EQ(log.find("Read: Times="), std::string::npos);
  EXPECT_EQ(log.find("RecvData"), std::string::npos);
}

// Faults: the reader returns the exact bytes or a clean negative result, within its limits.

TEST_F(MediaSpaceTest, ConnectionsDroppedEveryFewMegabytes) {
  service_.dropAfterBytes = 3 << 20;
  auto reader = openReader();
  readSequentially(*reader, 65536);
  std::vector<uint8_t> buffer(1 << 20);
  // Large reads on the master connection survive its drops too.
  for (int64_t offset = 0; offset < (12 << 20); offset += 1 << 20) {
    ASSERT_EQ(reader->read(buffer.data(), offset + 7, 1 << 20), 1 << 20);
    ASSERT_EQ(std::memcmp(buffer.data(), Content().data() + offset + 7, 1 << 20), 0);
  }
  EXPECT_GT(server_.connections(), 6);
}

TEST_F(MediaSpaceTest, FailedSlaveOpensLeaveDirectReads) {
  service_.failSlaveOpen = true;
  auto reader = openReader();
  readSequentially(*reader, 65536, kFileSize - (4 << 20));
  EXPECT_EQ(server_.count("t1_read"), 0);
  EXPECT_GT(server_.count("t_read"), 0);
}

TEST_F(MediaSpaceTest, SilentFetchThreadsAreReadAroundAfterTheLimit) {
  service_.silentFetch = true;
  auto reader = openReader();
  auto started = std::chrono::steady_clock::now();
  std::vector<uint8_t> buffer(65536);
  for (int64_t offset = 1 << 20; offset < (3 << 20); offset += 65536) {
    ASSERT_EQ(reader->read(buffer.data(), offset, 65536), 65536);
    ASSERT_EQ(std::memcmp(buffer.data(), Content().data() + offset, 65536), 0);
  }
  // One wait for the fetch limit, not one per read.
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(25));
}

}  // namespace
