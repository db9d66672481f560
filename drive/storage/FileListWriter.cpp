#include "drive/storage/FileListWriter.h"

#include <string>

#include "platform/atomicfile/AtomicFile.h"
#include "platform/codepage/CodePage.h"

namespace {

void AppendNumber(std::u16string& out, long long value) {
  std::string digits = std::to_string(value);
  out.append(digits.begin(), digits.end());
}

void AppendFolderLine(std::u16string& out, const NodeRecord& node, const FolderTables& tables) {
  std::u16string childIds;
  bool hasSubfolders = false;
  auto children = tables.children.find(node.key);
  if (children != tables.children.end()) {
    for (const auto& [childId, childPath] : children->second) {
      if (!childIds.empty()) childIds += u',';
      childIds += childId;
      auto child = tables.nodes.find(childId);
      if (child != tables.nodes.end() && child->second.isFolder()) hasSubfolders = true;
    }
  }
  out += u"1|" + node.key + u"|" + node.parentKey + u"|" + node.name + u"|";
  AppendNumber(out, node.writable ? 1 : 2);
  out += hasSubfolders ? u"|1|" : u"|0|";
  out += childIds;
  out += u"\r\n";
}

void AppendFileLine(std::u16string& out, const NodeRecord& node) {
  out += u"0|" + node.key + u"|" + node.name + u"|";
  AppendNumber(out, static_cast<uint32_t>(node.time));
  out += u'|';
  AppendNumber(out, static_cast<uint32_t>(node.time));
  out += u"|" + node.folderPath + u"|";
  AppendNumber(out, node.writable ? 1 : 2);
  out += u'|';
  AppendNumber(out, node.size);
  out += u"\r\n";
}

}  // namespace

std::string FormatFileList(const FolderTables& tables, int32_t tickCount,
                           const std::u16string& userName) {
  // Lines are gathered a batch at a time and converted batch by batch, so the wide text of a
  // large tree never exists whole.
  constexpr size_t kBatch = 32 * 1024;
  std::string out;
  std::u16string batch;
  batch.reserve(kBatch + 1024);
  AppendNumber(batch, tickCount);
  batch += u"|" + userName + u"\r\n";
  for (const auto& [id, node] : tables.nodes) {
    if (node.isFolder()) {
      AppendFolderLine(batch, node, tables);
    } else {
      AppendFileLine(batch, node);
    }
    if (batch.size() >= kBatch) {
      out += codepage::WideToAnsi(batch);
      batch.clear();
    }
  }
  out += codepage::WideToAnsi(batch);
  return out;
}

bool ReplaceFileContent(const std::string& path, const std::string& content) {
  // The list is written again on the next tree read, so it is not synced to disk.
  return atomicfile::ReplaceFile(path, content);
}
