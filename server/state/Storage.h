// Everything the service keeps on disk: accounts, sessions, the users' trees and the
// secret that signs read tickets. DIR/<user>/ holds a user's files, DIR/.state/ the rest.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/sync/Mutex.h"
#include "server/state/Accounts.h"
#include "server/state/Sessions.h"
#include "server/state/UserTree.h"

namespace qserver {

struct TicketTarget {
  Account account;
  std::string fileId;
};

class Storage {
 public:
  Storage(std::string dataDir, long long sessionLifetimeSeconds);

  // Creates the state folder and loads what is kept there; false with a reason on failure.
  bool open(std::string* error);

  // Uploads that were in progress when the service last stopped can never be finished.
  void discardUnfinishedUploads();

  Accounts& accounts() { return accounts_; }
  Sessions& sessions() { return sessions_; }

  // The tree of a known user, created on first use; nullptr for an unknown user.
  std::shared_ptr<UserTree> tree(const std::string& user);

  // A signed read ticket naming one file of one account, and its check.
  std::string readTicket(const Account& account, const std::string& fileId) const;
  std::optional<TicketTarget> checkTicket(const std::string& ticket);

  // Folder for uploads in progress (same file system as the users' folders).
  std::string uploadFolder() const { return stateFolder_ + "/uploads"; }
  const std::string& dataDir() const { return dataDir_; }

  // `adduser`: creates or updates an account and its standard folders.
  static bool AddUser(const std::string& dataDir, const std::string& name,
                      const std::string& password, long long quotaGiB,
                      const std::vector<std::string>& extraWritable, std::string* error);

 private:
  std::string dataDir_;
  std::string stateFolder_;
  std::string secret_;
  Accounts accounts_;
  Sessions sessions_;
  Mutex lock_;
  std::map<std::string, std::shared_ptr<UserTree>> trees_ GUARDED_BY(lock_);
};

}  // namespace qserver
