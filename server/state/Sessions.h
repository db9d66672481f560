// Sessions of the web interface and of the desktop page, kept in DIR/.state/sessions.json.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>

#include "platform/sync/Mutex.h"

namespace qserver {

enum class SessionKind { kProvisional, kWeb, kPage };

struct Session {
  std::string id;
  std::string key;   // empty for page sessions
  std::string user;  // empty for provisional sessions
  SessionKind kind = SessionKind::kWeb;
  long long expires = 0;  // seconds since 1970
};

class Sessions {
 public:
  Sessions(std::string stateFolder, long long lifetimeSeconds);

  void load();

  // A provisional session for "firstkey" (not persisted; short-lived).
  Session createProvisional();
  // A session after a successful login, persisted at once.
  Session createWeb(const std::string& user);
  // A session of the desktop page, persisted at once.
  Session createPage(const std::string& user);

  // The live session of that id and kind; nullopt when unknown or expired.
  std::optional<Session> find(const std::string& id, SessionKind kind);

  // The live page session for which MD5(timestamp + session id) equals `hash`.
  std::optional<Session> findPageByHash(const std::string& timestamp, const std::string& hash);

 private:
  void dropExpiredLocked(long long now) REQUIRES(lock_);
  void saveLocked() const REQUIRES(lock_);
  static long long Now();

  std::string path_;
  long long lifetime_;
  Mutex lock_;
  std::map<std::string, Session> sessions_ GUARDED_BY(lock_);
};

}  // namespace qserver
