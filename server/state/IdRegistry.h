// The persistent ids of one user's entries: relative path ↔ id, the ids reserved for files not
// written yet and the ids removed with their folder, kept in DIR/.state/users/<number>.json.
// Ids follow renames and moves. The registry takes no lock of its own: its owner holds one
// around every call.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace qserver {

class IdRegistry {
 public:
  using PathIds = std::map<std::string, std::string>;  // relative path → id

  explicit IdRegistry(std::string stateFile) : stateFile_(std::move(stateFile)) {}

  // Reads the state file; a missing or unreadable one leaves the registry empty.
  void load();
  // Writes the state file when something changed since it was last written.
  void save();

  size_t size() const { return pathToId_.size(); }
  PathIds::iterator begin() { return pathToId_.begin(); }
  PathIds::iterator end() { return pathToId_.end(); }

  // The entry of `relative`, given a new id when it has none.
  PathIds::iterator entryFor(const std::string& relative);
  std::string idFor(const std::string& relative) { return entryFor(relative)->second; }
  // The id of `relative` if it has one; none is made.
  std::optional<std::string> knownId(const std::string& relative) const;
  std::optional<std::string> pathOf(const std::string& id) const;

  bool isReserved(const std::string& id) const { return reserved_.count(id) != 0; }
  bool wasRemoved(const std::string& id) const { return removed_.count(id) != 0; }
  void reserve(const std::string& id);
  // Ends the reservation of `id`; false when it had none.
  bool unreserve(const std::string& id);
  // Drops the id of `relative` when it is only a reservation (a folder takes the name).
  void dropReservedPath(const std::string& relative);

  // Drops the ids of paths a walk did not see (`found`), but for reservations.
  void forgetUnseen(const std::vector<PathIds::iterator>& found);
  // Drops the ids of `relative` and everything below it; `remember` keeps them as removed.
  void forgetTree(const std::string& relative, bool remember);
  // Gives the ids of `from` and everything below it to the same paths under `to`.
  void repath(const std::string& from, const std::string& to);

 private:
  std::string stateFile_;
  long long nextId_ = 100000;
  PathIds pathToId_;
  std::unordered_map<std::string, std::string> idToPath_;
  std::set<std::string> reserved_;  // ids handed out for files not written yet
  std::set<std::string> removed_;   // ids removed with their folder
  bool dirty_ = false;
};

}  // namespace qserver
