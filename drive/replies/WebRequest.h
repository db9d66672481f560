// Forming and signing the storage service's web requests. Every request is a GET of
// "/quellan?action=<name>" with the action's own parameters in a fixed order, the session id,
// an MD5 hash and a timestamp. The hash is taken over the action name, the parameter values,
// the session id and the session key (never the timestamp). Values go into the query as they
// are: Base64 values keep their "+", "/" and "=".
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The web interface's fixed port.
constexpr uint16_t kWebPort = 8168;

namespace web_action {
inline constexpr char16_t kFirstKey[] = u"firstkey";
inline constexpr char16_t kLogin[] = u"login";
inline constexpr char16_t kList[] = u"list3";
inline constexpr char16_t kDelete[] = u"delete";
inline constexpr char16_t kRemoveFolder[] = u"rmdir";
inline constexpr char16_t kRename[] = u"rename";
inline constexpr char16_t kMove[] = u"move";
inline constexpr char16_t kMakeFolder[] = u"mkdir";
inline constexpr char16_t kFileInfo[] = u"file_info";
inline constexpr char16_t kReadLink[] = u"readdist";
inline constexpr char16_t kWriteLink[] = u"writedist";
}  // namespace web_action

struct WebSession {
  std::u16string id;
  std::u16string key;  // never sent; only enters the hash
};

// One own parameter of an action: its query name ("id", "pid", "name", ...) and its value.
struct WebParam {
  std::u16string name;
  std::u16string value;
};

struct FormedRequest {
  std::u16string path;       // the request target
  std::u16string hashInput;  // empty for "firstkey"
  std::u16string hash;       // empty for "firstkey"
};

// Local time now as "%Y%m%d%H%M%S".
std::u16string RequestTimestamp();

// Any signed action. The link actions ("readdist", "writedist") get a target without the
// leading "/".
FormedRequest FormRequest(std::u16string_view action, const std::vector<WebParam>& params,
                          const WebSession& session, std::u16string_view timestamp);

// "firstkey": only the timestamp, no session id and no hash.
FormedRequest FormFirstKeyRequest(std::u16string_view timestamp);

// "login" with the user name as Base64 of its ANSI bytes and the password proved against the
// provisional session key.
FormedRequest FormLoginRequest(std::u16string_view userName, std::u16string_view password,
                               const WebSession& provisional, std::u16string_view timestamp);
