#include "drive/storage/FileListWriter.h"

#include <string>
#include <unordered_map>

#include "platform/atomicfile/AtomicFile.h"
#include "platform/codepage/CodePage.h"

namespace {

void AppendNumber(std::u16string& out, long long value) {
  std::string digits = std::to_string(value);
  out.append(digits.begin(), digits.end());
}

void AppendFolderLine(std::u16string& out, const TreeNode& node, const FolderTables& tables) {
  out += u"1|";
  out += node.id();
  out += u'|';
  out += tables.nodes.parentKey(node);
  out += u'|';
  out += node.name();
  out += u'|';
  AppendNumber(out, node.writable ? 1 : 2);
  bool hasSubfolders = false;
  size_t subfolderMark = out.size() + 1;
  out += u"|0|";
  if (const ChildList* children = tables.children.find(node.id())) {
    bool first = true;
    for (const TreeNode* child : children->nodes()) {
      if (!first) out += u',';
      first = false;
      out += child->id();
      hasSubfolders = hasSubfolders || child->isFolder();
    }
  }
  if (hasSubfolders) out[subfolderMark] = u'1';
  out += u"\r\n";
}

// Folder paths of the files' parents, worked out once per folder while the list is written.
class FolderPaths {
 public:
  const std::u16string& of(const TreeNode& node) {
    static const std::u16string kTop = u"\\";
    if (!node.parent) return kTop;
    auto [entry, added] = paths_.try_emplace(node.parent);
    if (added) {
      // A reference stays valid when the map grows below; an iterator need not.
      std::u16string& path = entry->second;
      const TreeNode& parent = *node.parent;
      path = of(parent);
      path.append(parent.name()).append(u"\\");
    }
    return entry->second;
  }

 private:
  std::unordered_map<const TreeNode*, std::u16string> paths_;
};

void AppendFileLine(std::u16string& out, const TreeNode& node, FolderPaths& folderPaths) {
  out += u"0|";
  out += node.id();
  out += u'|';
  out += node.name();
  out += u'|';
  AppendNumber(out, static_cast<uint32_t>(node.time));
  out += u'|';
  AppendNumber(out, static_cast<uint32_t>(node.time));
  out += u'|';
  out += folderPaths.of(node);
  out += u'|';
  AppendNumber(out, node.writable ? 1 : 2);
  out += u'|';
  AppendNumber(out, node.size);
  out += u"\r\n";
}

}  // namespace

std::string FormatFileList(const FolderTables& tables, int32_t tickCount,
                           const std::u16string& userName) {
  std::string out;
  FormatFileList(tables, tickCount, userName, [&](std::string_view bytes) { out += bytes; });
  return out;
}

void FormatFileList(const FolderTables& tables, int32_t tickCount, const std::u16string& userName,
                    const std::function<void(std::string_view)>& sink) {
  // Lines are gathered a batch at a time and converted batch by batch, so neither the wide
  // nor the converted text of a large tree exists whole.
  constexpr size_t kBatch = 32 * 1024;
  std::u16string batch;
  batch.reserve(kBatch + 1024);
  AppendNumber(batch, tickCount);
  batch += u"|" + userName + u"\r\n";
  FolderPaths folderPaths;
  for (const auto& [id, node] : tables.nodes) {
    if (node.isFolder()) {
      AppendFolderLine(batch, node, tables);
    } else {
      AppendFileLine(batch, node, folderPaths);
    }
    if (batch.size() >= kBatch) {
      sink(codepage::WideToAnsi(batch));
      batch.clear();
    }
  }
  sink(codepage::WideToAnsi(batch));
}

bool ReplaceFileContent(const std::string& path, const std::string& content) {
  // The list is written again on the next tree read, so it is not synced to disk.
  return atomicfile::ReplaceFile(path, content);
}
