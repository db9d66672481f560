// The storage service's web interface as far as the storage client's tests need it: each
// action ("login", "list3", ...) answers with the reply the test set for it, and replies can be
// changed while a test runs. Unknown actions answer "err,unknown".
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/sync/Mutex.h"
#include "tests/support/ScriptedHttpServer.h"

class FakeWebService {
 public:
  FakeWebService();

  uint16_t port() const { return server_.port(); }
  // `reply` is the body of a 200 reply; "<close>" closes the connection without a reply and
  // "<raw>..." sends the bytes after the marker as they are.
  void set(const std::string& action, const std::string& reply);
  std::vector<std::string> targets() const { return server_.targets(); }
  // How many requests of `action` arrived so far.
  int count(const std::string& action) const;

  // An "ok" list3 reply: the header fields, then the entry lines in Base64.
  static std::string ListReply(const std::string& header, const std::string& lines);

 private:
  std::string answer(const std::string& target);

  mutable Mutex lock_;
  std::map<std::string, std::string> replies_ GUARDED_BY(lock_);
  ScriptedHttpServer server_;
};
