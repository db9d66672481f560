#include "tests/support/ReferenceLink.h"

#include <cstdlib>

#include "tests/support/LoopbackClients.h"

bool FetchReadLink(int webPort, const std::string& user, const std::string& password,
                   const std::string& fileName, ReadLink* link, std::string* error) {
  testclients::WebSession web(webPort);
  std::string reply = web.login(user, password);
  if (reply.rfind("ok,", 0) != 0) return (*error = "login " + reply, false);
  auto listing = web.list();
  if (!listing) return (*error = "list3 failed", false);
  auto entry = listing->byName(fileName);
  if (!entry || entry->type != "file") return (*error = fileName + " not listed", false);

  reply = web.call("readdist", {{"id", entry->id}});
  auto fields = testclients::SplitFields(reply);
  if (fields.size() < 5 || fields[0] != "ok") return (*error = "readdist " + reply, false);
  link->host = fields[1];
  link->port = std::atoi(fields[2].c_str());
  link->token2 = fields[3];
  link->token1 = fields[4];
  link->fileId = entry->id;
  return true;
}
