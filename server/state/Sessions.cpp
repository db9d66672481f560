#include "server/state/Sessions.h"

#include <json/json.h>

#include <sstream>

#include "server/util/Digest.h"
#include "server/util/StateFile.h"

namespace qserver {
namespace {

constexpr long long kProvisionalLifetime = 300;

}  // namespace

Sessions::Sessions(std::string stateFolder, long long lifetimeSeconds)
    : path_(std::move(stateFolder) + "/sessions.json"), lifetime_(lifetimeSeconds) {}

long long Sessions::Now() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

void Sessions::load() {
  auto text = ReadWholeFile(path_);
  if (!text) return;
  Json::Value root;
  Json::CharReaderBuilder builder;
  std::string errors;
  std::istringstream in(*text);
  if (!Json::parseFromStream(builder, in, &root, &errors) || !root.isObject()) return;
  MutexLock guard(lock_);
  for (const auto& item : root["sessions"]) {
    Session session;
    session.id = item["id"].asString();
    session.key = item["key"].asString();
    session.user = item["user"].asString();
    session.kind = item["page"].asBool() ? SessionKind::kPage : SessionKind::kWeb;
    session.expires = item["expires"].asInt64();
    if (!session.id.empty()) sessions_[session.id] = session;
  }
  dropExpiredLocked(Now());
}

Session Sessions::createProvisional() {
  Session session{
      RandomHex(16), RandomHex(16), {}, SessionKind::kProvisional, Now() + kProvisionalLifetime};
  MutexLock guard(lock_);
  dropExpiredLocked(Now());
  sessions_[session.id] = session;
  return session;
}

Session Sessions::createWeb(const std::string& user) {
  Session session{RandomHex(16), RandomHex(16), user, SessionKind::kWeb, Now() + lifetime_};
  MutexLock guard(lock_);
  dropExpiredLocked(Now());
  sessions_[session.id] = session;
  saveLocked();
  return session;
}

Session Sessions::createPage(const std::string& user) {
  Session session{RandomHex(16), {}, user, SessionKind::kPage, Now() + lifetime_};
  MutexLock guard(lock_);
  dropExpiredLocked(Now());
  sessions_[session.id] = session;
  saveLocked();
  return session;
}

std::optional<Session> Sessions::find(const std::string& id, SessionKind kind) {
  MutexLock guard(lock_);
  auto found = sessions_.find(id);
  if (found == sessions_.end() || found->second.kind != kind) return std::nullopt;
  if (found->second.expires <= Now()) return std::nullopt;
  return found->second;
}

std::optional<Session> Sessions::findPageByHash(const std::string& timestamp,
                                                const std::string& hash) {
  MutexLock guard(lock_);
  long long now = Now();
  for (const auto& [id, session] : sessions_) {
    if (session.kind != SessionKind::kPage || session.expires <= now) continue;
    if (SameText(Md5Hex(timestamp + id), hash)) return session;
  }
  return std::nullopt;
}

void Sessions::dropExpiredLocked(long long now) {
  for (auto it = sessions_.begin(); it != sessions_.end();) {
    it = it->second.expires <= now ? sessions_.erase(it) : std::next(it);
  }
}

void Sessions::saveLocked() const {
  Json::Value root;
  root["sessions"] = Json::arrayValue;
  for (const auto& [id, session] : sessions_) {
    if (session.kind == SessionKind::kProvisional) continue;
    Json::Value item;
    item["id"] = session.id;
    item["key"] = session.key;
    item["user"] = session.user;
    item["page"] = session.kind == SessionKind::kPage;
    item["expires"] = static_cast<Json::Int64>(session.expires);
    root["sessions"].append(item);
  }
  Json::StreamWriterBuilder writer;
  writer["emitUTF8"] = true;
  WriteFileAtomically(path_, Json::writeString(writer, root));
}

}  // namespace qserver
