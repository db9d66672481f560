#include "drive/storage/FolderTree.h"

#include <unordered_map>
#include <vector>

#include "drive/storage/ChunkedText.h"
#include "drive/storage/NodeLine.h"
#include "drive/storage/TextDigest.h"

namespace {

// Where a node stands while its folder path is being worked out.
enum class Resolution : uint8_t { kUnknown, kOnChain, kDone, kLooped };

struct NodeState {
  Resolution resolution = Resolution::kUnknown;
  bool ancestorWritable = false;  // some node above it is a writable folder
};

class PathResolver {
 public:
  PathResolver(std::map<std::u16string, NodeRecord>& nodes,
               const std::set<std::u16string>& writableIds)
      : nodes_(nodes), writableIds_(writableIds) {
    states_.reserve(nodes.size());
  }

  // Sets the folder path of `start` and of every unresolved node above it.
  void resolve(NodeRecord* start) {
    chain_.clear();
    NodeRecord* current = start;
    while (true) {
      NodeState& state = states_[current];
      if (state.resolution == Resolution::kDone || state.resolution == Resolution::kLooped) break;
      if (state.resolution == Resolution::kOnChain) {
        for (const Link& link : chain_) states_[link.node].resolution = Resolution::kLooped;
        return;
      }
      state.resolution = Resolution::kOnChain;
      NodeRecord* parent = parentOf(*current);
      chain_.push_back({current, parent});
      if (!parent) break;
      current = parent;
    }
    // Outermost first, so each parent is resolved before its child.
    for (auto link = chain_.rbegin(); link != chain_.rend(); ++link) settle(*link);
  }

  bool looped(NodeRecord* node) { return states_[node].resolution == Resolution::kLooped; }
  bool ancestorWritable(NodeRecord* node) { return states_[node].ancestorWritable; }

 private:
  struct Link {
    NodeRecord* node;
    NodeRecord* parent;  // null at top level or when the parent is not listed
  };

  NodeRecord* parentOf(const NodeRecord& node) {
    if (node.parentKey.empty()) return nullptr;
    auto found = nodes_.find(node.parentKey);
    return found == nodes_.end() ? nullptr : &found->second;
  }

  void settle(const Link& link) {
    NodeState& state = states_[link.node];
    if (!link.parent) {
      link.node->folderPath = u"\\";
      state.resolution = Resolution::kDone;
      return;
    }
    const NodeState& parentState = states_[link.parent];
    if (parentState.resolution != Resolution::kDone) {
      state.resolution = Resolution::kLooped;
      return;
    }
    link.node->folderPath = link.parent->folderPath + link.parent->name + u"\\";
    state.ancestorWritable =
        parentState.ancestorWritable || writableIds_.count(link.parent->key) != 0;
    state.resolution = Resolution::kDone;
  }

  std::map<std::u16string, NodeRecord>& nodes_;
  const std::set<std::u16string>& writableIds_;
  std::unordered_map<const NodeRecord*, NodeState> states_;
  std::vector<Link> chain_;
};

}  // namespace

std::u16string DecodeListBody(std::string_view base64) {
  std::string bytes = text_digest::DecodeBase64(base64);
  size_t end = bytes.find('\0');
  if (end != std::string::npos) bytes.resize(end);
  return chunked_text::Utf8ToWide(bytes);
}

std::u16string UpperCasePath(std::u16string_view path) {
  std::u16string upper(path);
  for (char16_t& c : upper) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  }
  return upper;
}

std::u16string FullPath(const NodeRecord& node) { return node.folderPath + node.name; }

NodeRecord RootNode() {
  NodeRecord root;
  root.name = u"\\";
  root.attributes = kRemoteFolderAttributes;
  return root;
}

BuiltTree BuildFolderTree(std::u16string_view list, const std::set<std::u16string>& writableIds,
                          const std::function<bool()>& keepRunning) {
  BuiltTree tree;
  auto& nodes = tree.tables.nodes;
  size_t from = 0;
  while (from < list.size()) {
    if (keepRunning && !keepRunning()) {
      tree.complete = false;
      return tree;
    }
    size_t end = list.find(u'\n', from);
    if (end == std::u16string_view::npos) end = list.size();
    NodeRecord node = ParseNodeLine(list.substr(from, end - from));
    from = end + 1;
    // The empty id is the root's.
    if (node.key.empty() || (!node.isFolder() && node.size == 0)) continue;
    if (node.isFolder() && node.parentKey.empty() && node.name == kDownloadFolderName) {
      tree.downloadFolderId = node.key;
    }
    std::u16string key = node.key;
    nodes.insert_or_assign(std::move(key), std::move(node));
  }

  PathResolver resolver(nodes, writableIds);
  for (auto& [id, node] : nodes) resolver.resolve(&node);

  for (auto entry = nodes.begin(); entry != nodes.end();) {
    NodeRecord& node = entry->second;
    if (resolver.looped(&node)) {
      ++tree.loopedNodes;
      entry = nodes.erase(entry);
      continue;
    }
    bool ownWritable = writableIds.count(node.key) != 0;
    node.writable = ownWritable || resolver.ancestorWritable(&node) ? 1 : 0;
    std::u16string fullPath = FullPath(node);
    std::u16string upper = UpperCasePath(fullPath);
    tree.tables.children[node.parentKey][node.key] = upper;
    if (ownWritable) tree.tables.writableFolders[node.key] = fullPath;
    tree.tables.pathIndex[std::move(upper)] = node.key;
    ++entry;
  }

  tree.tables.pathIndex[u"\\"] = std::u16string();
  tree.tables.nodes[std::u16string()] = RootNode();
  return tree;
}
