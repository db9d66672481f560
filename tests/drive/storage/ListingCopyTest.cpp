// A listing reads a folder's children where they are: listing a folder of 100,000 entries
// must not copy them. Every allocation made by the listing thread is counted while the
// listing runs (this program replaces the global allocation functions for that).
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "drive/core/DriveProcess.h"
#include "drive/core/MirrorConfig.h"
#include "drive/storage/QLVMirror.h"
#include "drive/storage/StorageProcess.h"
#include "platform/codepage/CodePage.h"
#include "tests/support/FakeWebService.h"
#include "tests/support/TempDir.h"

namespace {

thread_local bool counting = false;
thread_local size_t allocations = 0;
thread_local size_t allocatedBytes = 0;

size_t listed = 0;
int CountEntry(PWIN32_FIND_DATAW, PDOKAN_FILE_INFO) {
  ++listed;
  return 0;
}

}  // namespace

// The replacements below pair malloc with free by design.
#pragma GCC diagnostic ignored "-Wpragmas"
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(size_t size) {
  if (counting) {
    ++allocations;
    allocatedBytes += size;
  }
  if (void* block = std::malloc(size ? size : 1)) return block;
  throw std::bad_alloc();
}
// Sorting's temporary buffers come from the non-throwing form; the sanitizers would otherwise
// answer it with their own allocator and see it freed here.
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  if (counting) {
    ++allocations;
    allocatedBytes += size;
  }
  return std::malloc(size ? size : 1);
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }

TEST(Listing, AFolderOfManyChildrenIsListedWithoutCopyingThem) {
  constexpr int kChildren = 100000;
  std::string lines = "1,Big,dir,0,,1500000000\n";
  for (int i = 0; i < kChildren; ++i) {
    lines += std::to_string(100 + i) + ",file " + std::to_string(i) + ".dat,file,7,1,1500000001\n";
  }
  TempDir temp;
  DriveProcess drive;
  StorageProcess storage;
  drive.programFolder = temp.path() + "/";
  FakeWebService service;
  service.set("list3", FakeWebService::ListReply("1,5,100", lines));
  MirrorConfig config(codepage::Utf8ToWide(temp.path() + "/tarvex.ini"));
  config.ServerAddress = u"127.0.0.1";
  MirrorOptions options;
  options.webPort = service.port();
  QLVMirror mirror(drive, storage, options);
  mirror.SetConfig(&config);
  ASSERT_EQ(mirror.readDirTree(), 0);

  for (int round = 0; round < 3; ++round) {
    DOKAN_FILE_INFO info{};
    listed = 0;
    allocations = allocatedBytes = 0;
    counting = true;
    int result = mirror.FindFiles(u"\\big", &CountEntry, &info);
    counting = false;
    ASSERT_EQ(result, 0);
    EXPECT_EQ(listed, kChildren + 2u);  // with "." and ".."
    // A copy of the children would take at least a pointer each; the path looked up and the
    // like take a few small blocks.
    EXPECT_LT(allocations, 16u);
    EXPECT_LT(allocatedBytes, 4096u);
  }
}
