#include "drive/tree/TreeNode.h"

#include "drive/replies/NodeLine.h"

bool FitsTables(const NodeRecord& record) {
  return record.attributes <= TreeNode::kMaxAttributes &&
         record.key.size() <= TreeNode::kMaxTextUnits &&
         record.name.size() <= TreeNode::kMaxTextUnits &&
         record.parentKey.size() <= TreeNode::kMaxTextUnits;
}

// CodeUnitLess --------------------------------------------------------------------------------

int CodeUnitLess::Compare(NodeText a, std::u16string_view b) {
  // char16_t is unsigned, so the standard comparison is code unit order.
  if (!a.narrow()) return std::u16string_view(a.storage(), a.size()).compare(b);
  size_t common = std::min(a.size(), b.size());
  for (size_t at = 0; at < common; ++at) {
    if (a[at] != b[at]) return a[at] < b[at] ? -1 : 1;
  }
  return a.size() < b.size() ? -1 : (a.size() == b.size() ? 0 : 1);
}

bool CodeUnitLess::operator()(NodeText a, NodeText b) const {
  if (a.narrow() && b.narrow()) {
    // Bytes compare as the units they stand for. Ids are short: a plain loop beats a call.
    auto* left = reinterpret_cast<const unsigned char*>(a.storage());
    auto* right = reinterpret_cast<const unsigned char*>(b.storage());
    size_t common = std::min(a.size(), b.size());
    for (size_t at = 0; at < common; ++at) {
      if (left[at] != right[at]) return left[at] < right[at];
    }
    return a.size() < b.size();
  }
  if (!b.narrow()) return Compare(a, std::u16string_view(b.storage(), b.size())) < 0;
  return Compare(b, std::u16string_view(a.storage(), a.size())) > 0;
}

// Paths -------------------------------------------------------------------------------------

std::u16string UpperCasePath(std::u16string_view path) {
  std::u16string upper(path);
  for (char16_t& c : upper) c = UpperUnit(c);
  return upper;
}

std::u16string FullPath(const NodeRecord& node) { return node.folderPath + node.name; }

std::u16string FullPathOf(const TreeNode& node) {
  if (node.id().empty()) return u"\\";
  std::u16string path = FolderPathOf(node);
  node.name().appendTo(path);
  return path;
}

std::u16string FolderPathOf(const TreeNode& node) {
  std::u16string path;
  AppendFolderPathOf(node, path);
  return path;
}

void AppendFolderPathOf(const TreeNode& node, std::u16string& out) {
  if (node.id().empty()) return;
  size_t length = 1;
  for (const TreeNode* at = node.parent(); at; at = at->parent()) length += at->nameLength + 1;
  size_t start = out.size();
  out.resize(start + length, u'\\');
  size_t end = start + length - 1;  // the final "\" stays
  for (const TreeNode* at = node.parent(); at; at = at->parent()) {
    NodeText name = at->name();
    end -= name.size();
    name.copyTo(out.data() + end);
    --end;  // the "\" before it
  }
}

NodeRecord RootNode() {
  NodeRecord root;
  root.name = u"\\";
  root.attributes = kRemoteFolderAttributes;
  return root;
}
