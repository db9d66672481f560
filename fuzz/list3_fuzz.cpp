// Fuzz target: a list3 reply as the storage service might send it, through header parsing,
// body decoding, tree building and the ".filelist" text. The first byte picks whether the
// rest is the whole reply or an already decoded folder list (so that structured lines are
// reached without going through Base64). A whole reply is also read in pieces as the drive
// program reads it, which must give the same tables (for ASCII replies, where the code page
// conversion of the text path changes nothing).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "drive/replies/ListReply.h"
#include "drive/replies/ReplyText.h"
#include "drive/replies/TextDigest.h"
#include "drive/tree/FileListWriter.h"
#include "drive/tree/FolderTree.h"
#include "drive/tree/ListReplyReader.h"
#include "platform/codepage/CodePage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  bool decodedList = data[0] & 1;
  std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);

  ListReply reply;
  std::u16string list;
  if (decodedList) {
    list = codepage::Utf8ToWide(bytes);
    reply.writableIds = {u"1", u"2"};
  } else {
    std::u16string text = codepage::AnsiToWide(bytes);
    if (!StartsWithListMarker(text)) return 0;
    reply = ParseListReply(RemoveListMarkers(text));
    if (reply.usedBytes > reply.quotaBytes || reply.usedBytes < 0) __builtin_trap();
    list = text_digest::TextFromBase64(reply.body);
  }
  BuiltTree tree = BuildFolderTree(list, reply.writableIds, nullptr);
  bool ascii = std::all_of(bytes.begin(), bytes.end(),
                           [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (!decodedList && ascii) {
    size_t piece = 1 + data[0] % 7;
    ListReplyReader reader(nullptr);
    for (size_t at = 0; at < bytes.size(); at += piece) reader.feed(bytes.substr(at, piece));
    if (!reader.accepted()) __builtin_trap();
    BuiltTree read = reader.finish();
    if (FormatFileList(read.tables, 1, u"fuzz") != FormatFileList(tree.tables, 1, u"fuzz")) {
      __builtin_trap();
    }
  }
  // Every indexed path leads to a node, and the root is always there.
  if (tree.tables.nodes.count(std::u16string()) == 0) __builtin_trap();
  for (const auto& [id, node] : tree.tables.nodes) {
    std::optional<std::u16string> found = tree.tables.idOfPath(tree.tables.fullPathOf(id.str()));
    if (!found || tree.tables.nodes.count(*found) == 0) __builtin_trap();
  }
  std::string fileList = FormatFileList(tree.tables, 1, u"fuzz");
  (void)fileList;
  return 0;
}
