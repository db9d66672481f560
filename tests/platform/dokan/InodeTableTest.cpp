#include <gtest/gtest.h>

#include <cerrno>
#include <set>
#include <string>
#include <vector>

#include "platform/dokan/FuseRequest.h"
#include "platform/dokan/InodeTable.h"

namespace {

using dokan::InodeTable;

std::string PathOf(const InodeTable& table, uint64_t ino) {
  std::string path;
  return table.pathOf(ino, path) ? path : "<none>";
}

// Names never entered are not found, whichever part of the index they fall in.
void ExpectNoneFound(const InodeTable& table, const std::string& prefix) {
  for (int i = 0; i < 50000; ++i) ASSERT_EQ(table.find(prefix + std::to_string(i)), 0u);
}

TEST(InodeTable, NamesFollowMovesAndRemovalsOfTheirFolders) {
  InodeTable table;
  uint64_t photos = table.remember(InodeTable::kRoot, "Photos").ino;
  uint64_t year = table.remember(photos, "2024").ino;
  uint64_t picture = table.remember(year, "a.jpg").ino;
  EXPECT_EQ(table.remember(year, "a.jpg").ino, picture);  // a second lookup, same number
  EXPECT_NE(table.remember(year, "A.jpg").ino, picture);  // names are exact
  EXPECT_EQ(PathOf(table, picture), "/Photos/2024/a.jpg");
  EXPECT_EQ(table.find("/Photos/2024/a.jpg"), picture);

  uint64_t archive = table.remember(InodeTable::kRoot, "Archive").ino;
  table.moved(photos, "2024", archive, "old");
  EXPECT_EQ(PathOf(table, picture), "/Archive/old/a.jpg");
  EXPECT_EQ(table.find("/Photos/2024"), 0u);

  // A rename over a known entry takes the replaced entry's name away.
  uint64_t other = table.remember(archive, "new").ino;
  table.moved(archive, "old", archive, "new");
  EXPECT_EQ(PathOf(table, year), "/Archive/new");
  EXPECT_EQ(PathOf(table, other), "<none>");

  table.removed(year, "a.jpg");
  EXPECT_EQ(PathOf(table, picture), "<none>");
  EXPECT_EQ(table.remember(picture, "child").ino, 0u);  // no lookups below a removed entry

  // A name longer than any the kernel hands over is not kept: no number, and a move to it
  // leaves the entry without a path instead of under a cut name.
  const std::string overlong(5000, 'x');
  EXPECT_EQ(table.remember(year, overlong).ino, 0u);
  uint64_t note = table.remember(year, "note.txt").ino;
  table.moved(year, "note.txt", year, overlong);
  EXPECT_EQ(PathOf(table, note), "<none>");
  EXPECT_EQ(PathOf(table, year), "/Archive/new");
}

// A save by rename replaces "doc"; a request the kernel sends for the replaced number (an open
// that found the name just before) is told to look the name up again, not that it is missing.
TEST(InodeTable, RequestsForAReplacedEntrySendTheKernelBackToTheName) {
  dokan::DriveSession session;
  uint64_t doc = session.inodes.remember(InodeTable::kRoot, "doc").ino;
  uint64_t saved = session.inodes.remember(InodeTable::kRoot, "doc.tmp").ino;
  session.inodes.moved(InodeTable::kRoot, "doc.tmp", InodeTable::kRoot, "doc");
  std::u16string name;
  EXPECT_EQ(dokan::NameOfEntry(session, saved, name), 0);
  EXPECT_EQ(name, u"\\doc");
  EXPECT_EQ(dokan::NameOfEntry(session, doc, name), ESTALE);
  EXPECT_EQ(dokan::NameOfEntry(session, doc, name, /*handleCall=*/true), 0);  // an open handle
  EXPECT_EQ(name, u"");
}

TEST(InodeTable, NumbersAreFreedWhenForgottenAndNothingBelowNeedsThem) {
  InodeTable table;
  uint64_t folder = table.remember(InodeTable::kRoot, "f").ino;
  uint64_t file = table.remember(folder, "x").ino;
  table.remember(folder, "x");
  size_t known = table.size();

  // The folder is forgotten first: its child still needs it for its path.
  table.forget(folder, 1);
  EXPECT_EQ(PathOf(table, file), "/f/x");
  table.forget(file, 1);
  EXPECT_EQ(PathOf(table, file), "/f/x");  // one lookup left
  table.forget(file, 1);
  EXPECT_EQ(table.size(), known - 2);
  EXPECT_EQ(table.find("/f"), 0u);
  // Forgetting a number no longer held changes nothing: it is still given out only once.
  table.forget(file, 1);
  EXPECT_EQ(table.size(), known - 2);

  // A freed number comes back with a new generation.
  InodeTable::Known again = table.remember(InodeTable::kRoot, "g");
  EXPECT_TRUE(again.ino == folder || again.ino == file);
  EXPECT_EQ(again.generation, 1u);

  // Many entries: the index grows, and every one is found again, also after most of them
  // are forgotten and renamed (their names are packed again then).
  const std::string padding(20, 'p');
  std::vector<uint64_t> numbers;
  for (int i = 0; i < 5000; ++i) {
    numbers.push_back(table.remember(again.ino, padding + std::to_string(i)).ino);
  }
  ExpectNoneFound(table, "/g/absent");
  for (int i = 0; i < 5000; ++i) {
    if (i % 10 != 0) table.forget(numbers[i], 1);
  }
  for (int i = 0; i < 5000; i += 20) {
    table.moved(again.ino, padding + std::to_string(i), again.ino, "m" + std::to_string(i));
  }
  for (int i = 0; i < 5000; i += 10) {
    std::string name = (i % 20 == 0 ? "m" : padding) + std::to_string(i);
    EXPECT_EQ(PathOf(table, numbers[i]), "/g/" + name);
    EXPECT_EQ(table.find("/g/" + name), numbers[i]);
  }
  std::set<uint64_t> distinct(numbers.begin(), numbers.end());
  EXPECT_EQ(distinct.size(), numbers.size());
  EXPECT_EQ(distinct.count(again.ino), 0u);
  ExpectNoneFound(table, "/g/absent");

  // Names on both sides of a one-byte stored length, and the longest the kernel hands over.
  for (size_t length : {127, 128, 1024}) {
    std::string name(length, 'n');
    EXPECT_EQ(PathOf(table, table.remember(again.ino, name).ino), "/g/" + name);
  }
  // An entry looked up more often than its count holds is kept for good.
  uint64_t busy = table.remember(again.ino, "busy").ino;
  for (int i = 1; i < 70000; ++i) table.remember(again.ino, "busy");
  table.forget(busy, 70000);
  EXPECT_EQ(table.find("/g/busy"), busy);
}

}  // namespace
