#include "server/state/Storage.h"

#include <sys/stat.h>

#include <filesystem>

#include "server/util/Digest.h"
#include "server/util/SafePath.h"
#include "server/util/StateFile.h"

namespace qserver {
namespace {

constexpr size_t kTicketSignatureDigits = 16;

bool MakeFolder(const std::string& path) {
  std::error_code error;
  std::filesystem::create_directories(path, error);
  return !error && std::filesystem::is_directory(path, error);
}

}  // namespace

Storage::Storage(std::string dataDir, long long sessionLifetimeSeconds)
    : dataDir_(std::move(dataDir)),
      stateFolder_(dataDir_ + "/.state"),
      accounts_(stateFolder_),
      sessions_(stateFolder_, sessionLifetimeSeconds) {}

bool Storage::open(std::string* error) {
  if (!MakeFolder(stateFolder_ + "/users") || !MakeFolder(uploadFolder())) {
    *error = "cannot create " + stateFolder_;
    return false;
  }
  ::chmod(stateFolder_.c_str(), 0700);
  std::string secretPath = stateFolder_ + "/secret";
  auto secret = ReadWholeFile(secretPath);
  if (!secret || secret->size() < 32) {
    secret = RandomHex(32);
    if (!WriteFileAtomically(secretPath, *secret)) {
      *error = "cannot write " + secretPath;
      return false;
    }
  }
  secret_ = *secret;
  if (!accounts_.load()) {
    *error = "cannot read " + stateFolder_ + "/accounts.json";
    return false;
  }
  sessions_.load();
  return true;
}

void Storage::discardUnfinishedUploads() {
  std::error_code ignored;
  for (const auto& item : std::filesystem::directory_iterator(uploadFolder(), ignored)) {
    std::filesystem::remove(item.path(), ignored);
  }
}

std::shared_ptr<UserTree> Storage::tree(const std::string& user) {
  auto account = accounts_.byName(user);
  if (!account) return nullptr;
  MutexLock guard(lock_);
  auto& tree = trees_[user];
  if (!tree) {
    tree = std::make_shared<UserTree>(
        dataDir_ + "/" + user, stateFolder_ + "/users/" + std::to_string(account->number) + ".json",
        account->writable);
    tree->load();
  }
  return tree;
}

std::string Storage::readTicket(const Account& account, const std::string& fileId) const {
  std::string body = std::to_string(account.number) + "." + fileId;
  return body + "." + HmacSha256Hex(secret_, body).substr(0, kTicketSignatureDigits);
}

std::optional<TicketTarget> Storage::checkTicket(const std::string& ticket) {
  auto lastDot = ticket.rfind('.');
  if (lastDot == std::string::npos) return std::nullopt;
  std::string body = ticket.substr(0, lastDot);
  std::string expected = HmacSha256Hex(secret_, body).substr(0, kTicketSignatureDigits);
  if (!SameText(expected, ticket.substr(lastDot + 1))) return std::nullopt;
  auto firstDot = body.find('.');
  if (firstDot == std::string::npos) return std::nullopt;
  int number = 0;
  try {
    number = std::stoi(body.substr(0, firstDot));
  } catch (...) {
    return std::nullopt;
  }
  auto account = accounts_.byNumber(number);
  if (!account) return std::nullopt;
  return TicketTarget{*account, body.substr(firstDot + 1)};
}

bool Storage::AddUser(const std::string& dataDir, const std::string& name,
                      const std::string& password, long long quotaGiB,
                      const std::vector<std::string>& extraWritable, std::string* error) {
  if (!Accounts::IsAcceptableUserName(name)) {
    *error = "unacceptable user name";
    return false;
  }
  Storage storage(dataDir, 1);
  if (!storage.open(error)) return false;
  Account account;
  account.name = name;
  account.passwordDigest = Md5Hex(password);
  account.quotaGiB = quotaGiB;
  account.writable.push_back(kMySpace);
  for (const auto& folder : extraWritable) {
    if (!IsAcceptableName(folder) || folder == kDownloadSpace) {
      *error = "unacceptable folder name: " + folder;
      return false;
    }
    if (folder != kMySpace) account.writable.push_back(folder);
  }
  std::string home = dataDir + "/" + name;
  for (const auto& folder : account.writable) {
    if (!MakeFolder(home + "/" + folder)) {
      *error = "cannot create " + home + "/" + folder;
      return false;
    }
  }
  if (!MakeFolder(home + "/" + kDownloadSpace)) {
    *error = "cannot create " + home + "/" + kDownloadSpace;
    return false;
  }
  if (!storage.accounts().put(account)) {
    *error = "cannot write the accounts file";
    return false;
  }
  return true;
}

}  // namespace qserver
