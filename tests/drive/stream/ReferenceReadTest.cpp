// The reader against the reference service: real web login, real stream server, its faults.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <random>
#include <sstream>
#include <vector>

#include "drive/stream/CMediaSpace.h"
#include "tests/support/Files.h"
#include "tests/support/ReferenceLink.h"
#include "tests/support/ReferenceServer.h"
#include "tests/support/ScriptedStreamServer.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"

namespace {

constexpr int64_t kFileSize = 200ll << 20;

const std::string& Content() {
  static const std::string bytes = PatternBytes(kFileSize, 11);
  return bytes;
}

class ReferenceReadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = dir_.path() + "/";
    server_.addUser("reader", "secret");
    std::ofstream(server_.userDir("reader") + "/下载空间/movie.bin", std::ios::binary) << Content();
    ASSERT_TRUE(server_.start());
    std::string error;
    ASSERT_TRUE(FetchReadLink(server_.webPort(), "reader", "secret", "movie.bin", &link_, &error))
        << error;
  }

  std::unique_ptr<CMediaSpace> openReader() {
    auto reader = std::make_unique<CMediaSpace>(folder_, stream_);
    EXPECT_EQ(reader->open(link_.host, link_.port, link_.token1, link_.token2), "ok");
    return reader;
  }

  void expectRead(CMediaSpace& reader, int64_t offset, int32_t size) {
    std::vector<uint8_t> buffer(size);
    int32_t expected =
        static_cast<int32_t>(std::max<int64_t>(0, std::min<int64_t>(size, kFileSize - offset)));
    ASSERT_EQ(reader.read(buffer.data(), offset, size), expected) << offset << " " << size;
    ASSERT_EQ(std::memcmp(buffer.data(), Content().data() + offset, expected), 0)
        << offset << " " << size;
  }

  void readAll(CMediaSpace& reader, int32_t size, int64_t start = 0, int64_t end = kFileSize) {
    for (int64_t offset = start; offset < end; offset += size) {
      ASSERT_NO_FATAL_FAILURE(expectRead(reader, offset, size));
    }
  }

  TempDir dir_;
  std::string folder_;
  StreamContext stream_;
  ReferenceServer server_;
  ReadLink link_;
};

TEST_F(ReferenceReadTest, EveryByteComesBackInSequentialAndRandomReads) {
  for (int32_t size : {4096, 65536, 1 << 20}) {
    auto reader = openReader();
    ASSERT_NO_FATAL_FAILURE(readAll(*reader, size));
    EXPECT_EQ(reader->fileLength(), kFileSize);
    uint8_t byte;
    EXPECT_EQ(reader->read(&byte, kFileSize, 4096), 0);
  }
  auto reader = openReader();
  std::mt19937_64 random(9);
  for (int i = 0; i < 150; ++i) {
    int32_t size = static_cast<int32_t>(1 + random() % (i % 4 == 0 ? (1 << 20) : 65536));
    ASSERT_NO_FATAL_FAILURE(expectRead(*reader, random() % kFileSize, size));
  }
}

TEST_F(ReferenceReadTest, HeadFromTheDiskCacheNeedsNoServer) {
  openReader()->close();
  server_.stop();
  auto reader = openReader();
  ASSERT_NO_FATAL_FAILURE(readAll(*reader, 4096, 0, 65536));
  std::vector<uint8_t> buffer(4096);
  EXPECT_EQ(reader->read(buffer.data(), 65536, 4096), -1);  // past the head: the open fails
}

TEST_F(ReferenceReadTest, SmallSequentialReadsAskOncePer256KiB) {
  std::ofstream(folder_ + "media.ini") << "20";  // level 5: one "RequestMedia" line per request
  {
    auto reader = openReader();
    ASSERT_NO_FATAL_FAILURE(readAll(*reader, 4096, 0, 16 << 20));
  }
  // Requests of at least 256 KiB, not one per read (4096) nor per 64 KiB (256). On a loaded
  // machine a few late pieces are asked for again, and a round trip slow enough to grow the
  // read-ahead window makes the requests fewer and larger.
  std::istringstream log(ReadFile(folder_ + "vod.log"));
  int requests = 0;
  int64_t requested = 0;
  for (std::string line; std::getline(log, line);) {
    size_t at = line.find("RequestMedia: ");
    if (at == std::string::npos) continue;
    size_t size = line.find(" Size=", at);
    ASSERT_NE(size, std::string::npos) << line;
    int64_t bytes = std::stoll(line.substr(size + 6));
    EXPECT_GE(bytes, 262144) << line;
    ++requests;
    requested += bytes;
  }
  constexpr int kPieces = (16 << 20) / 262144;
  EXPECT_GE(requested, (16 << 20) - 65536);  // all but the head, which comes from the open
  EXPECT_LE(requests, kPieces + kPieces / 4);
}

TEST_F(ReferenceReadTest, CloseWhileAReaderWaitsEndsTheRead) {
  std::ofstream(folder_ + "media.ini") << "4";  // level 2: "RequestReceive: Index=" when sent
  server_.setFaults({"fault-silent t1_read"});
  auto reader = openReader();
  auto waiting = std::async(std::launch::async, [&] {
    std::vector<uint8_t> buffer(4096);
    return reader->read(buffer.data(), 50 << 20, 4096);
  });
  ASSERT_TRUE(WaitFor([&] {
    return ReadFile(folder_ + "vod.log").find("RequestReceive: Index=") != std::string::npos;
  }));
  reader->close();
  EXPECT_EQ(waiting.get(), -1);
}

TEST_F(ReferenceReadTest, DroppedConnectionsStillGiveExactBytes) {
  server_.setFaults({"fault-drop-after 3145728"});
  auto reader = openReader();
  ASSERT_NO_FATAL_FAILURE(readAll(*reader, 65536, 0, 40 << 20));
  ASSERT_NO_FATAL_FAILURE(readAll(*reader, 1 << 20, 100 << 20, 120 << 20));
}

TEST_F(ReferenceReadTest, SilentFetchesAndFailingSlaveOpensFallBackToDirectReads) {
  server_.setFaults({"fault-silent t1_read"});
  {
    auto reader = openReader();
    auto started = std::chrono::steady_clock::now();
    ASSERT_NO_FATAL_FAILURE(readAll(*reader, 65536, 10 << 20, 12 << 20));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
  }
  server_.setFaults({"fault-error t_open=busy"});
  auto reader = openReader();
  ASSERT_NO_FATAL_FAILURE(readAll(*reader, 65536, 30 << 20, 34 << 20));
  server_.setFaults({"fault-error t1_open=busy"});
  CMediaSpace refused(folder_, stream_);
  EXPECT_EQ(refused.open(link_.host, link_.port, link_.token1, "other" + link_.token2), "busy");
}

}  // namespace
