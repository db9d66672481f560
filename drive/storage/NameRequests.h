// Name requests on the mirror's web client ("delete", "rename", "move", ...), and putting a
// file at a folder and name on the service with "move" then "rename". Shared by the name
// operations and by uploads, whose rename while open is sent once the service holds the file.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "drive/replies/WebRequest.h"
#include "drive/storage/MirrorWebSession.h"

struct DriveProcess;

// A file's place: its folder's id and its name.
struct ServicePlace {
  std::u16string parentId;
  std::u16string name;
  bool operator==(const ServicePlace&) const = default;
};

class NameRequests {
 public:
  NameRequests(DriveProcess& drive, MirrorWebSession& web) : drive_(drive), web_(web) {}

  // One request: 0 on "ok" (the reply in `replyText`), else -1 after the action's log line.
  int send(std::u16string_view action, const std::vector<WebParam>& params,
           std::u16string* replyText = nullptr) EXCLUDES(web_.lock());

  // Sends "move" when the folder differs, then "rename" when the name does. The place the
  // service holds afterwards: `to`, or where a refusal left the file.
  ServicePlace place(const std::u16string& id, const ServicePlace& from, const ServicePlace& to)
      EXCLUDES(web_.lock());

 private:
  DriveProcess& drive_;
  MirrorWebSession& web_;
};
