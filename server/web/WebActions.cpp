#include "server/web/WebActions.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <thread>
#include <vector>

#include "server/util/Digest.h"
#include "server/util/Log.h"
#include "server/util/SafePath.h"

namespace qserver {
namespace {

constexpr const char* kSessionExpired = "err,Session expired";

// Each action's own parameters, in the order they enter the hash.
const std::map<std::string, std::vector<std::string>>& OwnParameters() {
  static const std::map<std::string, std::vector<std::string>> table = {
      {"login", {"username", "password"}},
      {"list3", {}},
      {"delete", {"id"}},
      {"rmdir", {"id"}},
      {"rename", {"id", "name"}},
      {"move", {"id", "pid"}},
      {"mkdir", {"pid", "name"}},
      {"file_info", {"id"}},
      {"readdist", {"id"}},
      {"writedist", {"filename", "pid"}},
  };
  return table;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// True when the request's hash matches the session's key.
bool HashMatches(const std::string& action, const RawQuery& query, const Session& session) {
  std::string input = action;
  for (const auto& name : OwnParameters().at(action)) input += query.value(name).value_or("");
  input += session.id + session.key;
  return SameText(Md5Hex(input), Lower(query.value("hash").value_or("")));
}

template <typename Entry>
void AppendEntryLine(std::string& out, const Entry& entry) {
  out += entry.id;
  out += ',';
  AppendListedName(out, entry.name);
  out += entry.folder ? ",dir," : ",file,";
  out += std::to_string(entry.size);
  out += ',';
  out += entry.parentId;
  out += ',';
  out += std::to_string(entry.mtime);
}

std::string EntryLine(const TreeEntry& entry) {
  std::string line;
  AppendEntryLine(line, entry);
  return line;
}

std::string Failure(TreeError error) { return std::string("err,") + TreeErrorText(error); }

}  // namespace

WebActions::WebActions(Storage& storage, FaultControl& faults, int streamPort)
    : storage_(storage), faults_(faults), streamPort_(streamPort) {}

void WebActions::announceStreamAddress(const std::string& host, int port) {
  announcedHost_ = host;
  streamPort_ = port;
}

std::string WebActions::handle(const RawQuery& query, const std::string& reachedHost) {
  const std::string& streamHost = announcedHost_.empty() ? reachedHost : announcedHost_;
  std::string action = query.value("action").value_or("");
  auto faults = faults_.current();
  auto delayed = faults.webDelays.find(action);
  if (delayed != faults.webDelays.end()) {
    LogLine("delaying " + action + " by " + std::to_string(delayed->second) + " ms");
    std::this_thread::sleep_for(std::chrono::milliseconds(delayed->second));
  }
  auto injected = faults.webErrors.find(action);
  if (injected != faults.webErrors.end()) return injected->second;

  if (action == "firstkey") return firstKey();
  if (!OwnParameters().count(action)) return "err,Action";

  std::string sessionId = query.value("sessionid").value_or("");
  auto kind = action == "login" ? SessionKind::kProvisional : SessionKind::kWeb;
  auto session = storage_.sessions().find(sessionId, kind);
  if (!session || !HashMatches(action, query, *session)) return kSessionExpired;

  if (action == "login") return login(query);
  if (action == "list3") return list3(session->user);
  std::string id = query.value("id").value_or("");
  if (action == "file_info") return fileInfo(session->user, id);
  if (action == "readdist") return readDist(session->user, id, streamHost);
  if (action == "writedist") {
    return writeDist(session->user, query.value("filename").value_or(""),
                     query.value("pid").value_or(""), streamHost);
  }
  return nameAction(action, session->user, query);
}

std::string WebActions::firstKey() {
  Session session = storage_.sessions().createProvisional();
  return "ok," + session.id + "," + session.key;
}

std::string WebActions::login(const RawQuery& query) {
  auto session =
      storage_.sessions().find(query.value("sessionid").value_or(""), SessionKind::kProvisional);
  auto name = Base64Decode(query.value("username").value_or(""));
  if (!session || !name) return "err,Password";
  auto account = storage_.accounts().byName(*name);
  if (!account) return "err,Password";
  std::string expected = Md5Hex(account->passwordDigest + session->key);
  if (!SameText(expected, Lower(query.value("password").value_or("")))) return "err,Password";
  Session fresh = storage_.sessions().createWeb(account->name);
  return "ok," + fresh.id + "," + fresh.key;
}

std::string WebActions::list3(const std::string& user) {
  auto tree = storage_.tree(user);
  auto account = storage_.accounts().byName(user);
  if (!tree || !account) return kSessionExpired;
  // The lines go into the reply as Base64 while the tree hands them out: the list, tens of
  // megabytes for a large tree, exists only once, encoded.
  std::string reply;
  Base64Appender body(reply);
  std::string line;
  tree->list(
      [&](const TreeListing& listing) {
        std::string writable;
        for (const auto& id : listing.writableIds) writable += (writable.empty() ? "" : ":") + id;
        long long usedMiB = (listing.usedBytes + 1048575) / 1048576;
        reply = "ok," + writable + "," + std::to_string(account->quotaGiB) + "," +
                std::to_string(usedMiB) + ",";
        // Room for lines of up to 96 bytes; pages of the room left unused are never touched.
        reply.reserve(reply.size() + listing.entries * 128);
      },
      [&](const ListedEntry& entry) {
        line.clear();
        AppendEntryLine(line, entry);
        line += '\n';
        body.add(line);
      });
  body.finish();
  return reply;
}

std::string WebActions::fileInfo(const std::string& user, const std::string& id) {
  auto tree = storage_.tree(user);
  auto entry = tree ? tree->info(id) : std::nullopt;
  if (!entry) return Failure(TreeError::kNotFound);
  return "ok," + Base64Encode(EntryLine(*entry));
}

std::string WebActions::readDist(const std::string& user, const std::string& id,
                                 const std::string& streamHost) {
  auto tree = storage_.tree(user);
  auto account = storage_.accounts().byName(user);
  if (!tree || !account || !tree->readablePath(id)) return Failure(TreeError::kNotFound);
  return "ok," + streamHost + "," + std::to_string(streamPort_) + "," + tree->contentKey(id) + "," +
         storage_.readTicket(*account, id);
}

std::string WebActions::writeDist(const std::string& user, const std::string& encodedName,
                                  const std::string& parentId, const std::string& streamHost) {
  auto tree = storage_.tree(user);
  if (!tree) return Failure(TreeError::kNotFound);
  auto name = Base64Decode(encodedName);
  if (!name) return Failure(TreeError::kName);
  WriteTarget target = tree->prepareWrite(parentId, *name);
  if (target.error != TreeError::kNone) return Failure(target.error);
  return "ok," + streamHost + "," + std::to_string(streamPort_) + "," + target.id + "," +
         std::to_string(target.size);
}

std::string WebActions::nameAction(const std::string& action, const std::string& user,
                                   const RawQuery& query) {
  auto tree = storage_.tree(user);
  if (!tree) return Failure(TreeError::kNotFound);
  std::string id = query.value("id").value_or("");
  std::string pid = query.value("pid").value_or("");
  TreeError result = TreeError::kNotFound;
  if (action == "delete") {
    result = tree->removeFile(id);
  } else if (action == "rmdir") {
    result = tree->removeFolder(id);
  } else if (action == "move") {
    result = tree->move(id, pid);
  } else if (action == "rename" || action == "mkdir") {
    auto name = Base64Decode(query.value("name").value_or(""));
    if (!name) return Failure(TreeError::kName);
    if (action == "rename") {
      result = tree->rename(id, *name);
    } else {
      std::string newId;
      result = tree->makeFolder(pid, *name, &newId);
      if (result == TreeError::kNone) return "ok," + newId;
    }
  }
  return result == TreeError::kNone ? "ok" : Failure(result);
}

}  // namespace qserver
