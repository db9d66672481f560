#include "server/state/IdRegistry.h"

#include <json/json.h>

#include <algorithm>
#include <sstream>
#include <unordered_set>
#include <utility>

#include "server/util/SafePath.h"
#include "server/util/StateFile.h"

namespace qserver {

void IdRegistry::load() {
  auto text = ReadWholeFile(stateFile_);
  if (!text) return;
  Json::Value state;
  Json::CharReaderBuilder builder;
  std::string errors;
  std::istringstream in(*text);
  if (!Json::parseFromStream(builder, in, &state, &errors) || !state.isObject()) return;
  nextId_ = std::max<long long>(nextId_, state["nextId"].asInt64());
  const Json::Value& ids = state["ids"];
  for (const auto& relative : ids.getMemberNames()) {
    std::string id = ids[relative].asString();
    if (id.empty() || !IsConfinedRelativePath(relative) || relative.empty()) continue;
    pathToId_[relative] = id;
    idToPath_[id] = relative;
  }
  for (const auto& id : state["reserved"]) {
    if (idToPath_.count(id.asString())) reserved_.insert(id.asString());
  }
  for (const auto& id : state["removed"]) removed_.insert(id.asString());
}

void IdRegistry::save() {
  if (!dirty_) return;
  Json::Value state;
  state["nextId"] = static_cast<Json::Int64>(nextId_);
  state["ids"] = Json::objectValue;
  for (const auto& [relative, id] : pathToId_) state["ids"][relative] = id;
  state["reserved"] = Json::arrayValue;
  for (const auto& id : reserved_) state["reserved"].append(id);
  state["removed"] = Json::arrayValue;
  for (const auto& id : removed_) state["removed"].append(id);
  Json::StreamWriterBuilder writer;
  writer["emitUTF8"] = true;
  writer["indentation"] = "";
  if (WriteFileAtomically(stateFile_, Json::writeString(writer, state))) dirty_ = false;
}

IdRegistry::PathIds::iterator IdRegistry::entryFor(const std::string& relative) {
  auto found = pathToId_.lower_bound(relative);
  if (found != pathToId_.end() && found->first == relative) return found;
  std::string id = std::to_string(nextId_++);
  idToPath_[id] = relative;
  dirty_ = true;
  return pathToId_.emplace_hint(found, relative, std::move(id));
}

std::optional<std::string> IdRegistry::knownId(const std::string& relative) const {
  auto found = pathToId_.find(relative);
  if (found == pathToId_.end()) return std::nullopt;
  return found->second;
}

std::optional<std::string> IdRegistry::pathOf(const std::string& id) const {
  auto found = idToPath_.find(id);
  if (found == idToPath_.end()) return std::nullopt;
  return found->second;
}

void IdRegistry::reserve(const std::string& id) {
  if (reserved_.insert(id).second) dirty_ = true;
}

bool IdRegistry::unreserve(const std::string& id) {
  if (!reserved_.erase(id)) return false;
  dirty_ = true;
  return true;
}

void IdRegistry::dropReservedPath(const std::string& relative) {
  auto stale = pathToId_.find(relative);
  if (stale == pathToId_.end() || !reserved_.count(stale->second)) return;
  reserved_.erase(stale->second);
  idToPath_.erase(stale->second);
  pathToId_.erase(stale);
}

void IdRegistry::forgetUnseen(const std::vector<PathIds::iterator>& found) {
  std::unordered_set<const std::string*> seen;
  seen.reserve(found.size());
  for (const auto& entry : found) seen.insert(&entry->first);
  for (auto it = pathToId_.begin(); it != pathToId_.end();) {
    if (seen.count(&it->first) || reserved_.count(it->second)) {
      ++it;
      continue;
    }
    idToPath_.erase(it->second);
    it = pathToId_.erase(it);
    dirty_ = true;
  }
}

void IdRegistry::forgetTree(const std::string& relative, bool remember) {
  std::string prefix = relative + "/";
  for (auto it = pathToId_.begin(); it != pathToId_.end();) {
    if (it->first != relative && it->first.compare(0, prefix.size(), prefix) != 0) {
      ++it;
      continue;
    }
    if (remember) removed_.insert(it->second);
    reserved_.erase(it->second);
    idToPath_.erase(it->second);
    it = pathToId_.erase(it);
  }
  dirty_ = true;
}

void IdRegistry::repath(const std::string& from, const std::string& to) {
  std::string prefix = from + "/";
  std::vector<std::pair<std::string, std::string>> moved;
  for (auto it = pathToId_.begin(); it != pathToId_.end();) {
    if (it->first != from && it->first.compare(0, prefix.size(), prefix) != 0) {
      ++it;
      continue;
    }
    moved.emplace_back(to + it->first.substr(from.size()), it->second);
    it = pathToId_.erase(it);
  }
  for (const auto& [relative, id] : moved) {
    // An id recorded for the destination (a reservation) gives way to the moved entry.
    auto old = pathToId_.find(relative);
    if (old != pathToId_.end()) {
      idToPath_.erase(old->second);
      reserved_.erase(old->second);
    }
    pathToId_[relative] = id;
    idToPath_[id] = relative;
  }
  dirty_ = true;
}

}  // namespace qserver
