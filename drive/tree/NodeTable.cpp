#include "drive/tree/NodeTable.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

void NodeTable::setText(TreeNode& node, std::u16string_view id, std::u16string_view name) {
  bool narrowId = NodeText::FitsNarrow(id);
  bool narrowName = NodeText::FitsNarrow(name);
  size_t idUnits = NodeText::StorageUnits(id.size(), narrowId);
  char16_t* text = texts_->allocate(idUnits + NodeText::StorageUnits(name.size(), narrowName));
  NodeText::Store(id, narrowId, text);
  NodeText::Store(name, narrowName, text + idUnits);
  dropText(node);
  node.setText(text);
  node.idLength = static_cast<uint16_t>(id.size());
  node.nameLength = static_cast<uint16_t>(name.size());
  node.narrowId = narrowId ? 1 : 0;
  node.narrowName = narrowName ? 1 : 0;
}

void NodeTable::borrowText(TreeNode& node, const NodeTable& from, const TreeNode& source) {
  // Whatever `source`'s text lies in is held: `from`'s own texts or those it borrowed in turn.
  // They are taken again only once `from` has compacted its texts into a fresh arena.
  if (from.texts_.get() != borrowedWith_) {
    auto hold = [this](const std::shared_ptr<const TextArena<char16_t>>& arena) {
      for (const auto& held : borrowed_) {
        if (held == arena) return;
      }
      borrowed_.push_back(arena);
      borrowedUnits_ += arena->used();
    };
    hold(from.texts_);
    for (const auto& arena : from.borrowed_) hold(arena);
    borrowedWith_ = from.texts_.get();
  }
  dropText(node);
  node.setText(source.text());
  node.idLength = source.idLength;
  node.nameLength = source.nameLength;
  node.narrowId = source.narrowId;
  node.narrowName = source.narrowName;
  node.borrowedText = 1;
  sharedUnits_ += node.textUnits();
}

void NodeTable::dropText(TreeNode& node) {
  if (node.borrowedText) {
    sharedUnits_ -= node.textUnits();
    node.borrowedText = 0;
  } else {
    texts_->giveUp(node.textUnits());
  }
}

bool NodeTable::textsWorthCompacting() const {
  // Borrowed texts are let go once entries point to less than half of them.
  return texts_->worthCompacting() || (!borrowed_.empty() && sharedUnits_ * 2 < borrowedUnits_);
}

void NodeTable::compactTexts(bool always) {
  if (!always && !textsWorthCompacting()) return;
  if (texts_->wasted() == 0 && borrowed_.empty()) return;
  auto fresh = std::make_shared<TextArena<char16_t>>();
  // Every entry of the store, staged ones too; released ones hold no text.
  for (TreeNode& node : store()) {
    if (!node.text()) continue;
    size_t units = node.textUnits();
    char16_t* text = fresh->allocate(units);
    std::copy(node.text(), node.text() + units, text);
    node.setText(text);
    node.borrowedText = 0;
  }
  texts_ = std::move(fresh);
  borrowed_.clear();
  borrowedUnits_ = 0;
  sharedUnits_ = 0;
  borrowedWith_ = nullptr;
}

template <typename Id>
std::vector<NodeTable::Place>::const_iterator NodeTable::lowerBound(Id id) const {
  return std::lower_bound(order_.begin(), order_.end(), id, [this](Place place, Id key) {
    return CodeUnitLess()(store()[place].id(), key);
  });
}

template <typename Id>
TreeNode* NodeTable::lookup(Id id) const {
  auto at = lowerBound(id);
  if (at == order_.end()) return nullptr;
  TreeNode& node = const_cast<TreeNode&>(store()[*at]);
  return node.id() == id ? &node : nullptr;
}

// The tables' edits elsewhere look entries up by plain and by stored ids.
template std::vector<NodeTable::Place>::const_iterator NodeTable::lowerBound(
    std::u16string_view) const;
template TreeNode* NodeTable::lookup(std::u16string_view) const;
template TreeNode* NodeTable::lookup(NodeText) const;

NodeTable::const_iterator NodeTable::find(std::u16string_view id) const {
  auto at = lowerBound(id);
  return at != order_.end() && store()[*at].id() == id ? const_iterator(store_.get(), at) : end();
}

bool NodeTable::findPlace(std::u16string_view id, Place& place) const {
  auto at = lowerBound(id);
  if (at == order_.end() || store()[*at].id() != id) return false;
  place = *at;
  return true;
}

void NodeTable::swap(NodeTable& other) noexcept {
  std::swap(store_, other.store_);
  std::swap(texts_, other.texts_);
  std::swap(borrowed_, other.borrowed_);
  std::swap(borrowedUnits_, other.borrowedUnits_);
  std::swap(sharedUnits_, other.sharedUnits_);
  std::swap(borrowedWith_, other.borrowedWith_);
  std::swap(stagedParentTexts_, other.stagedParentTexts_);
  std::swap(lastStagedParent_, other.lastStagedParent_);
  std::swap(free_, other.free_);
  std::swap(order_, other.order_);
  std::swap(orphanParents_, other.orphanParents_);
}

NodeTable::Place NodeTable::allocate() {
  if (free_.empty()) {
    store().emplace_back();
    return static_cast<Place>(store().size() - 1);
  }
  Place place = free_.back();
  free_.pop_back();
  return place;
}

void NodeTable::release(Place place) {
  TreeNode* node = &store()[place];
  dropText(*node);
  *node = TreeNode();
  free_.push_back(place);
}

const TreeNode* NodeTable::node(std::u16string_view id) const { return lookup(id); }

const TreeNode* NodeTable::node(NodeText id) const { return lookup(id); }

NodeRecord NodeTable::at(std::u16string_view id) const {
  const TreeNode* found = node(id);
  if (!found) throw std::out_of_range("no node with this id");
  return record(*found);
}

std::optional<NodeRecord> NodeTable::record(std::u16string_view id) const {
  const TreeNode* found = node(id);
  if (!found) return std::nullopt;
  return record(*found);
}

NodeRecord NodeTable::record(const TreeNode& node) const {
  NodeRecord record;
  record.key = node.id().str();
  record.name = node.name().str();
  if (!node.id().empty()) record.folderPath = FolderPathOf(node);
  record.attributes = node.attributes;
  record.size = node.size;
  record.parentKey = parentKey(node);
  record.time = node.time;
  record.writable = node.writable;
  record.stale = node.stale;
  return record;
}

std::u16string NodeTable::parentKey(const TreeNode& node) const {
  if (node.parent()) return node.parent()->id().str();
  auto orphan = orphanParents_.find(&node);
  return orphan == orphanParents_.end() ? std::u16string() : orphan->second;
}
