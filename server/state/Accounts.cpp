#include "server/state/Accounts.h"

#include <json/json.h>
#include <sys/stat.h>

#include <sstream>

#include "server/util/SafePath.h"
#include "server/util/StateFile.h"

namespace qserver {

Accounts::Accounts(std::string stateFolder) : path_(std::move(stateFolder) + "/accounts.json") {}

std::string Accounts::fileSignature() const {
  struct stat st {};
  if (::stat(path_.c_str(), &st) != 0) return {};
  return std::to_string(st.st_ino) + ":" + std::to_string(st.st_size) + ":" +
         std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
}

bool Accounts::load() {
  MutexLock guard(lock_);
  loadedSignature_ = fileSignature();
  auto text = ReadWholeFile(path_);
  if (!text) return true;  // no accounts yet
  return parseLocked(*text);
}

void Accounts::refreshIfChanged() {
  MutexLock guard(lock_);
  std::string signature = fileSignature();
  if (signature == loadedSignature_) return;
  loadedSignature_ = signature;
  // The file is replaced atomically, so a read sees a whole version of it.
  if (auto text = ReadWholeFile(path_)) parseLocked(*text);
}

bool Accounts::parseLocked(const std::string& text) {
  Json::Value root;
  Json::CharReaderBuilder builder;
  std::string errors;
  std::istringstream in(text);
  if (!Json::parseFromStream(builder, in, &root, &errors) || !root.isObject()) return false;
  accounts_.clear();
  for (const auto& item : root["users"]) {
    Account account;
    account.name = item["name"].asString();
    account.number = item["number"].asInt();
    account.passwordDigest = item["digest"].asString();
    account.quotaGiB = item["quotaGiB"].asInt64();
    for (const auto& folder : item["writable"]) account.writable.push_back(folder.asString());
    if (!IsAcceptableUserName(account.name)) continue;
    accounts_[account.name] = account;
  }
  return true;
}

bool Accounts::put(Account account) {
  MutexLock guard(lock_);
  auto found = accounts_.find(account.name);
  if (found != accounts_.end()) {
    account.number = found->second.number;
  } else {
    int highest = 0;
    for (const auto& [name, existing] : accounts_) highest = std::max(highest, existing.number);
    account.number = highest + 1;
  }
  accounts_[account.name] = account;
  bool saved = saveLocked();
  loadedSignature_ = fileSignature();
  return saved;
}

bool Accounts::saveLocked() const {
  Json::Value root;
  root["users"] = Json::arrayValue;
  for (const auto& [name, account] : accounts_) {
    Json::Value item;
    item["name"] = account.name;
    item["number"] = account.number;
    item["digest"] = account.passwordDigest;
    item["quotaGiB"] = static_cast<Json::Int64>(account.quotaGiB);
    item["writable"] = Json::arrayValue;
    for (const auto& folder : account.writable) item["writable"].append(folder);
    root["users"].append(item);
  }
  Json::StreamWriterBuilder writer;
  writer["emitUTF8"] = true;
  return WriteFileAtomically(path_, Json::writeString(writer, root));
}

std::optional<Account> Accounts::byName(const std::string& name) {
  refreshIfChanged();
  MutexLock guard(lock_);
  auto found = accounts_.find(name);
  if (found == accounts_.end()) return std::nullopt;
  return found->second;
}

std::optional<Account> Accounts::byNumber(int number) {
  refreshIfChanged();
  MutexLock guard(lock_);
  for (const auto& [name, account] : accounts_) {
    if (account.number == number) return account;
  }
  return std::nullopt;
}

std::vector<Account> Accounts::all() {
  refreshIfChanged();
  MutexLock guard(lock_);
  std::vector<Account> out;
  for (const auto& [name, account] : accounts_) out.push_back(account);
  return out;
}

bool Accounts::IsAcceptableUserName(const std::string& name) {
  return IsAcceptableName(name) && name[0] != '.';
}

}  // namespace qserver
