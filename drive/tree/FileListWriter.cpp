#include "drive/tree/FileListWriter.h"

#include <optional>
#include <string>

#include "platform/appfolder/PrivateFiles.h"
#include "platform/atomicfile/AtomicFile.h"
#include "platform/codepage/CodePage.h"

namespace {

void AppendNumber(std::u16string& out, long long value) {
  std::string digits = std::to_string(value);
  out.append(digits.begin(), digits.end());
}

void AppendFolderLine(std::u16string& out, const TreeNode& node, const FolderTables& tables) {
  out += u"1|";
  node.id().appendTo(out);
  out += u'|';
  out += tables.nodes.parentKey(node);
  out += u'|';
  node.name().appendTo(out);
  out += u'|';
  AppendNumber(out, node.writable ? 1 : 2);
  bool hasSubfolders = false;
  size_t subfolderMark = out.size() + 1;
  out += u"|0|";
  if (std::optional<ChildList> children = tables.children.find(node.id())) {
    bool first = true;
    children->forEach([&](const TreeNode& child) {
      if (!first) out += u',';
      first = false;
      child.id().appendTo(out);
      hasSubfolders = hasSubfolders || child.isFolder();
    });
  }
  if (hasSubfolders) out[subfolderMark] = u'1';
  out += u"\r\n";
}

void AppendFileLine(std::u16string& out, const TreeNode& node) {
  out += u"0|";
  node.id().appendTo(out);
  out += u'|';
  node.name().appendTo(out);
  out += u'|';
  AppendNumber(out, static_cast<uint32_t>(node.time));
  out += u'|';
  AppendNumber(out, static_cast<uint32_t>(node.time));
  out += u'|';
  // Worked out for each file instead of kept per folder: paths of every folder of a large
  // tree would take tens of megabytes for as long as the list is written.
  AppendFolderPathOf(node, out);
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
  for (const auto& [id, node] : tables.nodes) {
    if (node.isFolder()) {
      AppendFolderLine(batch, node, tables);
    } else {
      AppendFileLine(batch, node);
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
  return atomicfile::ReplaceFile(path, content, {.mode = appfolder::kPrivateFileMode});
}
