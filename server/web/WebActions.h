// The actions of the web interface ("/quellan?action=..."): session and hash checks,
// login, the tree listing, name actions and the read and write links.
#pragma once

#include <string>

#include "server/faults/FaultControl.h"
#include "server/state/Storage.h"
#include "server/web/RawQuery.h"

namespace qserver {

class WebActions {
 public:
  WebActions(Storage& storage, FaultControl& faults, int streamPort);

  // The reply text for one request. `streamHost` is the address the stream server is
  // reached at from the client (the address the client reached this server at).
  std::string handle(const RawQuery& query, const std::string& streamHost);

  // Names this address in read and write links instead of the stream server's own (a relay
  // or balancer in front of it). Set before serving.
  void announceStreamAddress(const std::string& host, int port);

 private:
  std::string firstKey();
  std::string login(const RawQuery& query);
  std::string list3(const std::string& user);
  std::string fileInfo(const std::string& user, const std::string& id);
  std::string readDist(const std::string& user, const std::string& id,
                       const std::string& streamHost);
  std::string writeDist(const std::string& user, const std::string& encodedName,
                        const std::string& parentId, const std::string& streamHost);
  std::string nameAction(const std::string& action, const std::string& user, const RawQuery& query);

  Storage& storage_;
  FaultControl& faults_;
  int streamPort_;
  std::string announcedHost_;  // empty: the address the client reached this server at
};

}  // namespace qserver
