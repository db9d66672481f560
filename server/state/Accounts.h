// The accounts of the service, kept in DIR/.state/accounts.json.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/sync/Mutex.h"

namespace qserver {

// Top-level folders every user has.
inline constexpr const char* kDownloadSpace = "下载空间";
inline constexpr const char* kMySpace = "我的空间";

struct Account {
  std::string name;
  int number = 0;              // small number naming the account inside read tickets
  std::string passwordDigest;  // MD5 hex of the password's UTF-8 bytes
  long long quotaGiB = 10;
  std::vector<std::string> writable;  // writable top-level folders, "我的空间" first
};

class Accounts {
 public:
  explicit Accounts(std::string stateFolder);

  // Reads the accounts file; false when it exists but cannot be parsed.
  bool load();
  // Reads the file again when another process (adduser) changed it.
  void refreshIfChanged();

  // Adds or updates an account and writes the file at once.
  bool put(Account account);

  std::optional<Account> byName(const std::string& name);
  std::optional<Account> byNumber(int number);
  std::vector<Account> all();

  // True when `name` can be a user: a valid folder name that does not start with ".".
  static bool IsAcceptableUserName(const std::string& name);

 private:
  bool saveLocked() const REQUIRES(lock_);

  bool parseLocked(const std::string& text) REQUIRES(lock_);
  std::string fileSignature() const;

  std::string path_;
  mutable Mutex lock_;
  std::map<std::string, Account> accounts_ GUARDED_BY(lock_);
  std::string loadedSignature_ GUARDED_BY(lock_);
};

}  // namespace qserver
