#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "drive/replies/ChunkedText.h"
#include "drive/replies/FileInfoReply.h"
#include "drive/replies/ListReply.h"
#include "drive/replies/NodeLine.h"
#include "drive/replies/ReplyText.h"
#include "drive/replies/TextDigest.h"
#include "drive/tree/FileListWriter.h"
#include "drive/tree/FolderTree.h"
#include "drive/tree/ListReplyReader.h"
#include "drive/tree/PreviousTexts.h"
#include "drive/tree/TreeChanges.h"
#include "platform/codepage/CodePage.h"

namespace {

BuiltTree Build(const std::u16string& list, const std::set<std::u16string>& writable = {}) {
  return BuildFolderTree(list, writable, [] { return true; });
}

NodeRecord FolderRecord(std::u16string key, std::u16string name, std::u16string parentKey) {
  NodeRecord record;
  record.key = std::move(key);
  record.name = std::move(name);
  record.parentKey = std::move(parentKey);
  record.attributes = kNodeFolderAttribute;
  return record;
}

// The tables read from `list` as a refresh reads them: beside the tables in use.
BuiltTree Refresh(const std::u16string& list, const FolderTables& inUse, Mutex& lock) {
  PreviousTexts previous(inUse, lock);
  ListReplyReader reader(nullptr);
  reader.shareTextsWith(&previous);
  reader.feed("ok,1,2,3," + codepage::WideToAnsi(text_digest::Base64OfUtf8(std::u16string(list))));
  return reader.finish();
}

const std::u16string kSample =
    u"10,Photos,dir,0,,1500000000\n"
    u"11,2019,dir,0,10,1500000001\n"
    u"12,a.jpg,file,2048,11,1500000002\n"
    u"13,empty.txt,file,0,10,1500000003\n"
    u"14,下载空间,dir,0,,1500000004\n"
    u"15,Shared,dir,0,,1500000005\n"
    u"16,notes.txt,file,5,15,1500000006\n";

}  // namespace

TEST(ListReply, HeaderQuotaAndUsed) {
  ListReply reply = ParseListReply(u" 15 : 20 ,5,6000,Ym9keQ==");
  EXPECT_EQ(reply.writableIds, (std::set<std::u16string>{u"15", u"20"}));
  EXPECT_EQ(reply.quotaBytes, 5368709120);
  EXPECT_EQ(reply.usedBytes, 5368709120);  // clamped to the quota
  EXPECT_EQ(reply.body, u"Ym9keQ==");

  reply = ParseListReply(u",10,3,");
  EXPECT_TRUE(reply.writableIds.empty());
  EXPECT_EQ(reply.usedBytes, 3 * 1048576);

  // Missing parts, huge and negative numbers: no overflow, nothing negative.
  reply = ParseListReply(u"x");
  EXPECT_EQ(reply.quotaBytes, 0);
  EXPECT_TRUE(reply.body.empty());
  reply = ParseListReply(u",99999999999999999999,-5,b");
  EXPECT_GT(reply.quotaBytes, 0);
  EXPECT_EQ(reply.usedBytes, 0);
}

TEST(ListReply, ReadInPiecesOfAnySizeItGivesWhatTheWholeTextGives) {
  std::string list = codepage::WideToUtf8(kSample) + "17,照片.jpg,file,9,10,1500000007";
  std::string base64 = codepage::WideToAnsi(text_digest::Base64OfUtf8(codepage::Utf8ToWide(list)));
  std::string ended = codepage::WideToAnsi(text_digest::Base64OfUtf8(
      codepage::Utf8ToWide(list + std::string(1, '\0') + "9,x,file,1,,1")));
  const std::string replies[] = {
      "ok,15:16,5,6000," + base64,
      "ok,ok,1,2,ok,3," + base64.substr(0, 20) + "ok," + base64.substr(20),  // markers anywhere
      "ok,1,2",                                                              // no body
      "ok,\xe6\x88\x91,7,8," + ended,  // a non-ASCII header; the list ends at a zero byte
      "ok,10,1,1," + base64.substr(0, base64.size() - 3),  // cut short
  };
  for (const std::string& reply : replies) {
    ListReply text = ParseListReply(RemoveListMarkers(codepage::AnsiToWide(reply)));
    BuiltTree whole =
        BuildFolderTree(text_digest::TextFromBase64(text.body), text.writableIds, nullptr);
    for (size_t piece : {1, 2, 3, 5, 1024}) {
      SCOPED_TRACE(reply + " in pieces of " + std::to_string(piece));
      ListReplyReader reader(nullptr);
      for (size_t at = 0; at < reply.size(); at += piece) {
        reader.feed(std::string_view(reply).substr(at, piece));
      }
      ASSERT_TRUE(reader.accepted());
      ListReply header = reader.header();
      EXPECT_EQ(header.writableIds, text.writableIds);
      EXPECT_EQ(header.quotaBytes, text.quotaBytes);
      EXPECT_EQ(header.usedBytes, text.usedBytes);
      BuiltTree tree = reader.finish();
      EXPECT_EQ(FormatFileList(tree.tables, 1, u"u"), FormatFileList(whole.tables, 1, u"u"));
      EXPECT_EQ(tree.downloadFolderId, whole.downloadFolderId);
    }
  }
}

TEST(ChunkedText, SlicesNeverSplitACharacter) {
  // Long texts of multi-byte characters with and without line breaks.
  std::u16string lines;
  for (int i = 0; i < 40000; ++i) lines += u"照片" + std::u16string(i % 7, u'x') + u"\n";
  std::u16string unbroken(200000, u'文');
  std::u16string pairs;
  for (int i = 0; i < 70000; ++i) pairs += u"a\U0001F600";
  for (const std::u16string& text : {lines, unbroken, pairs}) {
    std::string utf8 = codepage::WideToUtf8(text);
    EXPECT_EQ(chunked_text::Utf8ToWide(utf8), text);
    EXPECT_EQ(chunked_text::AnsiToWide(codepage::WideToAnsi(text)), text);
    EXPECT_EQ(chunked_text::WideToAnsi(text), codepage::WideToAnsi(text));
  }
}

TEST(NodeLine, FieldsAreTrimmedCleanedAndBounded) {
  NodeRecord node = ParseNodeLine(u" 7 , a/b:c*?\"<>|\\d , dir , 99 , 3 , 1600000000 ");
  EXPECT_EQ(node.key, u"7");
  EXPECT_EQ(node.name, u"a_b_c_______d");
  EXPECT_EQ(node.attributes, 0x11u);
  EXPECT_EQ(node.size, 0);  // folders have no size
  EXPECT_EQ(node.parentKey, u"3");
  EXPECT_EQ(node.time, 1600000000);

  node = ParseNodeLine(u"8,x,file,12345678901,,99999999999");
  EXPECT_EQ(node.attributes, 0x81u);
  EXPECT_EQ(node.size, 12345678901);
  EXPECT_EQ(node.time, INT32_MAX);

  // Fewer than six fields: the missing ones are empty or zero.
  node = ParseNodeLine(u"9,short");
  EXPECT_EQ(node.key, u"9");
  EXPECT_EQ(node.name, u"short");
  EXPECT_EQ(node.size, 0);
  EXPECT_TRUE(node.parentKey.empty());
}

TEST(FolderTree, BuildsPathsChildrenAndIndex) {
  BuiltTree tree = Build(kSample, {u"15"});
  const FolderTables& t = tree.tables;
  ASSERT_TRUE(tree.complete);

  // The zero-size file is not part of the tree; the root is.
  EXPECT_EQ(t.nodes.count(u"13"), 0u);
  EXPECT_EQ(t.nodes.size(), 7u);
  EXPECT_EQ(t.nodes.begin()->first, u"");
  EXPECT_EQ(t.nodes.at(u"").name, u"\\");
  EXPECT_EQ(t.pathIndex.at(u"\\"), u"");

  EXPECT_EQ(t.nodes.at(u"10").folderPath, u"\\");
  EXPECT_EQ(t.nodes.at(u"11").folderPath, u"\\Photos\\");
  EXPECT_EQ(t.nodes.at(u"12").folderPath, u"\\Photos\\2019\\");
  EXPECT_EQ(t.pathIndex.at(u"\\PHOTOS\\2019\\A.JPG"), u"12");
  EXPECT_EQ(t.children.at(u"").size(), 3u);
  EXPECT_EQ(t.children.at(u"11").at(u"12"), u"\\PHOTOS\\2019\\A.JPG");

  // Writable: the listed folder and everything below it.
  EXPECT_EQ(t.nodes.at(u"15").writable, 1);
  EXPECT_EQ(t.nodes.at(u"16").writable, 1);
  EXPECT_EQ(t.nodes.at(u"10").writable, 0);
  EXPECT_EQ(t.writableFolders.at(u"15"), u"\\Shared");
  EXPECT_EQ(t.writableFolders.size(), 1u);

  EXPECT_EQ(tree.downloadFolderId, u"14");
}

TEST(FolderTree, UpperCasesOnlyAsciiLetters) {
  EXPECT_EQ(UpperCasePath(u"\\abc\\äöü\\xyz"), u"\\ABC\\äöü\\XYZ");
  BuiltTree tree = Build(u"1,Ärger,dir,0,,0\n");
  EXPECT_EQ(tree.tables.pathIndex.count(u"\\ÄRGER"), 1u);
  EXPECT_EQ(tree.tables.pathIndex.count(u"\\äRGER"), 0u);
}

TEST(FolderTree, PathOrderIsPlainCodeUnitOrder) {
  const std::u16string texts[] = {u"",
                                  u"\\",
                                  u"\\A",
                                  u"\\AB",
                                  u"\\ABCDEFGH",
                                  u"\\ABCDEFGI",
                                  u"\\ABCDEFG",
                                  u"\\ABCD\xe9",
                                  u"\\ABCD\xff01",
                                  u"\\ABCD\xd83d\xde00",
                                  u"\\ABCDEFGH\\X"};
  CodeUnitLess less;
  for (const auto& a : texts) {
    for (const auto& b : texts) EXPECT_EQ(less(a, b), a < b) << a.size() << " " << b.size();
  }
}

// Texts of byte-sized units are held a byte per unit, others as UTF-16: order, lookups and
// records must not show which.
TEST(FolderTree, TextsOfAnyUnitsKeepCodeUnitOrderAndReadBackWhole) {
  const std::u16string ids[] = {u"a",      u"ab",           u"a\x100",   u"\xff",   u"\x100",
                                u"\xe000", u"\xd83d\xde00", u"\xff\xff", u"\x100A", u"b\xe9"};
  std::u16string list = u"d,Dir\xe9,dir,0,,0\n";
  for (const std::u16string& id : ids) list += id + u"," + id + u"\x263a" + id + u",file,1,d,0\n";
  BuiltTree tree = Build(list);
  FolderTables& t = tree.tables;

  std::vector<std::u16string> expected(std::begin(ids), std::end(ids));
  std::sort(expected.begin(), expected.end());
  std::vector<std::u16string> listed;
  t.forEachChild(u"d", [&](const TreeNode& child) { listed.push_back(child.id().str()); });
  EXPECT_EQ(listed, expected);
  std::vector<std::u16string> all;
  for (const auto& entry : t.nodes) all.push_back(entry.first.str());
  expected.insert(expected.begin(), {u"", u"d"});
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(all, expected);

  for (const std::u16string& id : ids) {
    NodeRecord record = t.nodes.at(id);
    EXPECT_EQ(record.name, id + u"\x263a" + id);
    EXPECT_EQ(record.folderPath, u"\\Dir\xe9\\");
    EXPECT_EQ(t.idOfPath(UpperCasePath(u"\\Dir\xe9\\" + record.name)), id);
  }

  // Texts beyond 16-bit lengths are not taken: a listed one is left out, a rename refused.
  std::u16string longName(TreeNode::kMaxTextUnits + 1, u'n');
  EXPECT_EQ(Build(u"9," + longName + u",file,1,,0\n").tables.nodes.count(u"9"), 0u);
  EXPECT_FALSE(t.move(u"a", longName, u"d"));
  EXPECT_TRUE(t.move(u"a", longName.substr(1), u"d"));
  EXPECT_EQ(t.nodes.at(u"a").name, longName.substr(1));
}

// Names that clean or upper-case alike: the larger id keeps the name, the others show their
// id before the extension, whatever the order of the list; every entry, and what lies below
// it, has a path of its own, which .filelist gives as well.
TEST(FolderTree, CollidingNamesAreShownApartWithTheirIds) {
  struct Case {
    std::u16string list;
    std::map<std::u16string, std::u16string> paths;  // id → full path
  };
  const Case cases[] = {
      {u"2,a:b,file,1,,0\n1,a/b,file,1,,0\n", {{u"1", u"\\a_b:1"}, {u"2", u"\\a_b"}}},
      {u"7,Report.TXT,file,1,,0\n9,report.txt,file,2,,0\n8,REPORT.txt,file,3,,0\n",
       {{u"7", u"\\Report:7.TXT"}, {u"8", u"\\REPORT:8.txt"}, {u"9", u"\\report.txt"}}},
      // Ids are the service's own texts: what a name may not hold is cleaned from them too.
      {u"a\\:1,n,file,1,,0\nb/2,N,file,1,,0\n", {{u"a\\:1", u"\\n:a__1"}, {u"b/2", u"\\N"}}},
      // A real name that reads like a name with an id stays apart from it.
      {u"1,x.tar.gz,file,1,,0\n2,X.tar.gz,file,1,,0\n3,x:1.tar.gz,file,1,,0\n",
       {{u"1", u"\\x.tar:1.gz"}, {u"2", u"\\X.tar.gz"}, {u"3", u"\\x_1.tar.gz"}}},
      {u"1,A,dir,0,,0\n2,a,dir,0,,0\n3,x,file,1,1,0\n4,x,file,1,2,0\n5,.rc,file,1,,0\n"
       u"6,.RC,file,1,,0\n",
       {{u"1", u"\\A:1"},
        {u"2", u"\\a"},
        {u"3", u"\\A:1\\x"},
        {u"4", u"\\a\\x"},
        {u"5", u"\\.rc:5"},
        {u"6", u"\\.RC"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(codepage::WideToUtf8(c.list));
    // The same list backwards gives the same names.
    std::u16string reversed;
    for (size_t end = c.list.size(); end > 0;) {
      size_t start = c.list.rfind(u'\n', end - 2);
      start = start == std::u16string::npos ? 0 : start + 1;
      reversed += c.list.substr(start, end - start);
      end = start;
    }
    for (const std::u16string& list : {c.list, reversed}) {
      BuiltTree tree = Build(list);
      const FolderTables& t = tree.tables;
      std::string fileList = codepage::WideToUtf8(codepage::AnsiToWide(FormatFileList(t, 1, u"u")));
      for (const auto& [id, path] : c.paths) {
        EXPECT_EQ(t.fullPathOf(id), path);
        EXPECT_EQ(t.idOfPath(UpperCasePath(path)), id);
        EXPECT_EQ(t.idOfPath(path), id);
        std::u16string name = path.substr(path.rfind(u'\\') + 1);
        EXPECT_NE(fileList.find(codepage::WideToUtf8(u"|" + name + u"|")), std::string::npos);
      }
    }
  }
}

// Entries joining a folder one at a time: a newcomer whose name is taken shows its id; one
// that comes with its id keeps that name where it is free (the kernel knows it by it) until
// a tree read, which shows the plain name.
TEST(FolderTree, JoiningEntriesWhoseNamesAreTakenShowTheirIds) {
  BuiltTree tree = Build(u"1,docs,dir,0,,0\n2,other,dir,0,,0\n3,Notes.txt,file,1,1,0\n");
  FolderTables& t = tree.tables;
  NodeRecord pending;
  pending.key = u"40";
  pending.name = u"notes.txt";
  pending.parentKey = u"1";
  pending.attributes = 0x81;
  pending.size = 4;
  t.put(pending);
  EXPECT_EQ(t.fullPathOf(u"40"), u"\\docs\\notes:40.txt");
  EXPECT_EQ(t.fullPathOf(u"3"), u"\\docs\\Notes.txt");

  ASSERT_TRUE(t.move(u"40", u"notes:40.txt", u"2"));
  EXPECT_EQ(t.fullPathOf(u"40"), u"\\other\\notes:40.txt");
  ASSERT_TRUE(t.move(u"40", u"NOTES.txt", u"1"));
  EXPECT_EQ(t.fullPathOf(u"40"), u"\\docs\\NOTES:40.txt");
  EXPECT_EQ(t.idOfPath(u"\\DOCS\\NOTES.TXT"), u"3");
}

// Only a folder at the top named so is the download folder: not one below another folder,
// not a file, and of two at the top the one shown under the name.
TEST(FolderTree, OnlyTheTopLevelFolderIsTheDownloadFolder) {
  struct Case {
    std::u16string list;
    std::u16string expected;
  };
  const Case cases[] = {
      {u"14,下载空间,dir,0,,0\n10,Photos,dir,0,,0\n90,下载空间,dir,0,10,0\n", u"14"},
      {u"90,下载空间,dir,0,10,0\n10,Photos,dir,0,,0\n14,下载空间,dir,0,,0\n", u"14"},
      {u"14,下载空间,dir,0,,0\n15,下载空间,dir,0,14,0\n", u"14"},
      {u"10,Photos,dir,0,,0\n90,下载空间,dir,0,10,0\n91,下载空间,file,5,,0\n", u""},
      {u"16,下载空间,dir,0,,0\n14,下载空间,dir,0,,0\n", u"16"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(codepage::WideToUtf8(c.list));
    BuiltTree tree = Build(c.list);
    EXPECT_EQ(tree.downloadFolderId, c.expected);
    if (!c.expected.empty()) {
      EXPECT_EQ(tree.tables.fullPathOf(c.expected), u"\\下载空间");
    }
  }
}

TEST(FolderTree, LongTextsAreKeptWhole) {
  std::u16string id(80, u'7');
  std::u16string name(300, u'n');
  std::u16string parent(60, u'p');
  BuiltTree tree =
      Build(parent + u"," + name + u",dir,0,,0\n" + id + u",f,file,3," + parent + u",0\n");
  const NodeRecord& file = tree.tables.nodes.at(id);
  EXPECT_EQ(file.parentKey, parent);
  EXPECT_EQ(file.folderPath, u"\\" + name + u"\\");
  EXPECT_EQ(tree.tables.pathIndex.at(UpperCasePath(u"\\" + name + u"\\f")), id);
}

TEST(FolderTree, ParentCyclesAreLeftOutAndMissingParentsEndTheWalk) {
  BuiltTree tree = Build(
      u"1,a,dir,0,2,0\n"
      u"2,b,dir,0,1,0\n"
      u"3,c,file,1,2,0\n"  // below the loop
      u"4,self,dir,0,4,0\n"
      u"5,orphan,file,1,99,0\n"
      u"6,fine,dir,0,,0\n");
  EXPECT_EQ(tree.loopedNodes, 4u);
  EXPECT_EQ(tree.tables.nodes.count(u"1"), 0u);
  EXPECT_EQ(tree.tables.nodes.count(u"3"), 0u);
  EXPECT_EQ(tree.tables.nodes.count(u"4"), 0u);
  EXPECT_EQ(tree.tables.nodes.at(u"5").folderPath, u"\\");
  EXPECT_EQ(tree.tables.children.at(u"99").count(u"5"), 1u);
  EXPECT_EQ(tree.tables.nodes.count(u"6"), 1u);
}

TEST(FolderTree, BadLinesAndStoppingEarly) {
  // Empty lines, lines without an id (the root's), lines with few fields.
  BuiltTree tree = Build(u"\n\n,noid,dir,0,,0\n7\n8,x,file,1\n");
  EXPECT_EQ(tree.tables.nodes.count(u"7"), 0u);  // no type, no size: an empty file
  EXPECT_EQ(tree.tables.nodes.at(u"8").size, 1);
  EXPECT_EQ(tree.tables.nodes.size(), 2u);
  EXPECT_EQ(tree.tables.nodes.at(u"").name, u"\\");

  int calls = 0;
  BuiltTree stopped = BuildFolderTree(kSample, {}, [&] { return ++calls < 3; });
  EXPECT_FALSE(stopped.complete);
}

TEST(FolderTree, DeepChainsResolve) {
  std::u16string list;
  // 2000 nested folders, listed deepest first.
  for (int depth = 2000; depth >= 1; --depth) {
    std::string parent = depth > 1 ? std::to_string(depth - 1) : "";
    std::string line = std::to_string(depth) + ",d,dir,0," + parent + ",0\n";
    list += std::u16string(line.begin(), line.end());
  }
  BuiltTree tree = Build(list);
  EXPECT_EQ(tree.tables.nodes.at(u"2000").folderPath.size(), 1 + 1999 * 2u);
}

TEST(FileInfoReply, DecodesOneLine) {
  std::u16string reply =
      u"ok," + text_digest::Base64OfUtf8(u"44,new:name,file,300,10,1700000000\n");
  NodeRecord node = ParseFileInfoReply(reply);
  EXPECT_EQ(node.key, u"44");
  EXPECT_EQ(node.name, u"new_name");
  EXPECT_EQ(node.size, 300);
  EXPECT_EQ(node.parentKey, u"10");
  EXPECT_EQ(node.time, 1700000000);
  EXPECT_TRUE(ParseFileInfoReply(u"ok").key.empty());
  EXPECT_TRUE(ParseFileInfoReply(u"ok,***").key.empty());
}

TEST(FolderTree, ChangesKeepTheTablesInStep) {
  BuiltTree tree = Build(kSample, {u"15"});
  FolderTables& t = tree.tables;

  NodeRecord added;
  added.key = u"20";
  added.name = u"new.txt";
  added.parentKey = u"11";
  added.attributes = 0x81;
  added.size = 9;
  t.put(added);
  EXPECT_EQ(t.pathIndex.at(u"\\PHOTOS\\2019\\NEW.TXT"), u"20");
  EXPECT_EQ(t.children.at(u"11").size(), 2u);
  EXPECT_EQ(t.nodes.at(u"20").folderPath, u"\\Photos\\2019\\");

  // A moved folder takes everything below it along.
  ASSERT_TRUE(t.move(u"10", u"Pictures", u"15"));
  EXPECT_EQ(t.pathIndex.at(u"\\SHARED\\PICTURES\\2019\\A.JPG"), u"12");
  EXPECT_EQ(t.pathIndex.count(u"\\PHOTOS\\2019\\A.JPG"), 0u);
  EXPECT_EQ(t.nodes.at(u"12").folderPath, u"\\Shared\\Pictures\\2019\\");
  EXPECT_EQ(t.children.at(u"").size(), 2u);
  EXPECT_EQ(t.children.at(u"15").count(u"10"), 1u);
  EXPECT_FALSE(t.move(u"15", u"loop", u"11"));  // not below itself

  // A removed folder leaves its children as entries without a parent.
  ASSERT_TRUE(t.erase(u"11"));
  EXPECT_EQ(t.pathIndex.count(u"\\SHARED\\PICTURES\\2019"), 0u);
  EXPECT_EQ(t.nodes.at(u"12").folderPath, u"\\");
  EXPECT_EQ(t.nodes.at(u"12").parentKey, u"11");
  EXPECT_FALSE(t.erase(u"11"));
  // They are still its children when it comes back; the other folders' lists stay whole.
  EXPECT_EQ(t.children.at(u"11").count(u"12"), 1u);
  t.put(FolderRecord(u"11", u"2019", u"10"));
  EXPECT_EQ(t.children.at(u"11").count(u"12"), 1u);
  EXPECT_EQ(t.children.at(u"10").count(u"11"), 1u);
  EXPECT_EQ(t.children.at(u"15").count(u"10"), 1u);

  // A new entry is never put below itself: not as its own parent, and not below an entry
  // that waits for it as its parent (30 waits for 31, so 31 cannot go below 30).
  t.put(FolderRecord(u"30", u"self", u"30"));
  EXPECT_EQ(t.nodes.count(u"30"), 0u);
  t.put(FolderRecord(u"30", u"self", u"31"));
  ASSERT_EQ(t.nodes.count(u"30"), 1u);
  t.put(FolderRecord(u"31", u"self", u"30"));
  EXPECT_EQ(t.nodes.count(u"31"), 0u);
  EXPECT_EQ(t.nodes.at(u"30").folderPath, u"\\");

  t.setStale(u"16", true);
  EXPECT_EQ(t.nodes.at(u"16").stale, 1);
  ASSERT_TRUE(t.refresh(u"16", 77, 5, 0x81));
  EXPECT_EQ(t.nodes.at(u"16").size, 77);
  EXPECT_EQ(t.nodes.at(u"16").stale, 0);

  // Attributes beyond 16 bits are not taken: the entry is left out, a refresh refused.
  EXPECT_FALSE(t.refresh(u"16", 78, 5, TreeNode::kMaxAttributes + 1));
  EXPECT_EQ(t.nodes.at(u"16").size, 77);
  added.key = u"21";
  added.attributes = TreeNode::kMaxAttributes + 1;
  t.put(added);
  EXPECT_EQ(t.nodes.count(u"21"), 0u);
}

// Many adds, renames, moves and removals, checked against a plain model as they go: every
// entry is found by id, by path and in its parent's child list, so removed slots of the path
// index, reused entries and repacked texts never leave a stale answer.
TEST(FolderTree, ManyChangesKeepEveryIndexInStep) {
  BuiltTree tree = Build(u"1,top,dir,0,,1\n2,a,file,5,1,2\n2,b,file,6,,3\n");
  FolderTables& t = tree.tables;
  std::map<std::u16string, std::pair<std::u16string, std::u16string>> model;  // id → name, parent
  model[u"1"] = {u"top", u""};
  model[u"2"] = {u"b", u""};  // the later line of an id wins
  auto pathOf = [&](const std::u16string& id) {
    std::u16string path;
    for (auto at = model.find(id); at != model.end(); at = model.find(at->second.second)) {
      path = u"\\" + at->second.first + path;
    }
    return path;
  };
  auto isBelow = [&](std::u16string id, const std::u16string& folder) {
    for (; model.count(id); id = model[id].second) {
      if (id == folder) return true;
    }
    return false;
  };
  auto randomId = [&](uint32_t pick) {
    auto at = model.begin();
    std::advance(at, pick % model.size());
    return at->first;
  };
  auto expectInStep = [&] {
    ASSERT_EQ(t.nodes.size(), model.size() + 1);
    std::map<std::u16string, std::vector<std::u16string>> children;
    for (const auto& [each, entry] : model) {
      ASSERT_EQ(t.fullPathOf(each), pathOf(each));
      ASSERT_EQ(t.idOfPath(UpperCasePath(pathOf(each))), each);
      ASSERT_EQ(t.nodes.at(each).parentKey, entry.second);
      children[entry.second].push_back(each);
    }
    for (const auto& [folder, ids] : children) {
      std::vector<std::u16string> listed;
      t.forEachChild(folder, [&](const TreeNode& child) { listed.push_back(child.id().str()); });
      ASSERT_EQ(listed, ids);
    }
  };
  uint32_t seed = 7;
  auto next = [&] { return seed = seed * 1103515245 + 12345, seed >> 8; };
  for (int step = 0; step < 3000; ++step) {
    uint32_t kind = next() % 8;
    std::u16string id = randomId(next());
    std::u16string parent = next() % 5 == 0 ? u"" : randomId(next());
    std::u16string name = u"n" + std::u16string(1, char16_t(u'a' + step % 26)) +
                          codepage::Utf8ToWide(std::to_string(step));
    if (kind < 4 || model.size() < 4) {
      std::u16string added = codepage::Utf8ToWide(std::to_string(1000 + step));
      NodeRecord record;
      record.key = added;
      record.name = name;
      record.parentKey = next() % 20 == 0 ? u"missing" : parent;
      record.attributes = 0x10;
      t.put(record);
      model[added] = {name, record.parentKey};
    } else if (kind < 6) {
      bool allowed = parent.empty() || !isBelow(parent, id);
      ASSERT_EQ(t.move(id, name, parent), allowed);
      if (allowed) model[id] = {name, parent};
    } else {
      ASSERT_TRUE(t.erase(id));
      model.erase(id);
    }
    if (step % 100 == 99) expectInStep();
    if (HasFatalFailure()) return;
  }
  // Renames by the thousand: the texts they leave behind are packed away more than once.
  for (int round = 0; round < 4000; ++round) {
    std::u16string id = randomId(next());
    std::u16string name = std::u16string(30, u'r') + codepage::Utf8ToWide(std::to_string(round));
    ASSERT_TRUE(t.move(id, name, model[id].second));
    model[id].first = name;
  }
  expectInStep();
}

TEST(FolderTree, ComparedTreesNameEveryPathToForget) {
  BuiltTree before = Build(kSample);
  BuiltTree after = Build(
      u"10,Photos,dir,0,,1500000000\n"
      u"12,b.jpg,file,2048,10,1500000002\n"  // renamed and moved up
      u"14,下载空间,dir,0,,1500000004\n"
      u"16,notes.txt,file,6,14,1500000006\n"  // moved, new size
      u"17,fresh,file,1,14,1\n");             // new; folder 15 removed, 11 removed
  std::vector<std::u16string> paths =
      ChangedPaths(before.tables, CompareTrees(before.tables, after.tables));
  std::set<std::u16string> got(paths.begin(), paths.end());
  std::set<std::u16string> expected = {u"\\Photos\\2019", u"\\Photos\\2019\\a.jpg",
                                       u"\\Shared",       u"\\Shared\\notes.txt",
                                       u"\\Photos",       u"\\",
                                       u"\\下载空间"};
  EXPECT_EQ(got, expected);
}

TEST(FolderTree, NewFoldersAreNotNamedForTheKernelToForget) {
  // Only folders the old tables held can be cached by the kernel: a first read names the
  // root alone, and a new folder with new entries adds only the known folder it sits in.
  BuiltTree empty = Build(u"");
  BuiltTree first = Build(kSample);
  EXPECT_EQ(ChangedPaths(empty.tables, CompareTrees(empty.tables, first.tables)),
            std::vector<std::u16string>{u"\\"});
  BuiltTree grown = Build(kSample +
                          u"90,New,dir,0,10,1\n91,inside,dir,0,90,1\n"
                          u"92,deep.txt,file,1,91,1\n");
  EXPECT_EQ(ChangedPaths(first.tables, CompareTrees(first.tables, grown.tables)),
            std::vector<std::u16string>{u"\\Photos"});
}

TEST(FolderTree, RefreshedTablesShareUnchangedTextsAndOutliveTheTablesBefore) {
  Mutex lock;
  BuiltTree first = Build(kSample);
  // Listed in another order: 12 renamed, 16 moved with a new size, 11 gone, 17 new.
  const std::u16string changed =
      u"16,notes.txt,file,6,10,1500000006\n"
      u"15,Shared,dir,0,,1500000005\n"
      u"10,Photos,dir,0,,1500000000\n"
      u"12,b.jpg,file,2048,10,1500000002\n"
      u"14,下载空间,dir,0,,1500000004\n"
      u"17,fresh,file,1,14,1\n";
  BuiltTree second = Refresh(changed, first.tables, lock);
  const std::string expected = FormatFileList(Build(changed).tables, 1, u"u");
  EXPECT_EQ(FormatFileList(second.tables, 1, u"u"), expected);
  EXPECT_EQ(second.tables.nodes.node(u"15")->text(), first.tables.nodes.node(u"15")->text());
  EXPECT_EQ(second.tables.nodes.node(u"16")->text(), first.tables.nodes.node(u"16")->text());
  EXPECT_NE(second.tables.nodes.node(u"12")->text(), first.tables.nodes.node(u"12")->text());

  // The tables before are edited until their texts are packed anew, then freed: the shared
  // texts stay with the tables that still use them, also through a further refresh.
  for (int round = 0; round < 3000; ++round) {
    first.tables.move(u"15", std::u16string(40, u's') + char16_t(u'a' + round % 26), u"");
  }
  first.tables = FolderTables();
  EXPECT_EQ(FormatFileList(second.tables, 1, u"u"), expected);
  BuiltTree third = Refresh(changed + u"18,later,file,2,15,1\n", second.tables, lock);
  second.tables = FolderTables();
  for (int round = 0; round < 3000; ++round) {
    ASSERT_TRUE(
        third.tables.move(u"16", std::u16string(40, u'm') + char16_t(u'a' + round % 26), u"10"));
  }
  ASSERT_TRUE(third.tables.move(u"16", u"notes.txt", u"10"));
  EXPECT_EQ(FormatFileList(third.tables, 1, u"u"),
            FormatFileList(Build(changed + u"18,later,file,2,15,1\n").tables, 1, u"u"));
}
