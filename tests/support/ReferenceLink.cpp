#include "tests/drive/stream/ReferenceLink.h"

#include <httplib.h>
#include <openssl/evp.h>

#include <cstdio>
#include <sstream>
#include <vector>

namespace {

std::string Md5Hex(const std::string& text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr);
  std::string hex;
  char pair[3];
  for (unsigned int i = 0; i < length; ++i) {
    std::snprintf(pair, sizeof pair, "%02x", digest[i]);
    hex += pair;
  }
  return hex;
}

std::string Base64(const std::string& bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          reinterpret_cast<const unsigned char*>(bytes.data()),
                          static_cast<int>(bytes.size()));
  out.resize(n);
  return out;
}

std::string Unbase64(const std::string& text) {
  std::string out(3 * (text.size() / 4) + 3, '\0');
  int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          reinterpret_cast<const unsigned char*>(text.data()),
                          static_cast<int>(text.size()));
  if (n < 0) return {};
  // EVP_DecodeBlock counts the padding bytes as data.
  size_t padding = 0;
  for (size_t i = text.size(); i > 0 && text[i - 1] == '='; --i) ++padding;
  out.resize(static_cast<size_t>(n) - padding);
  return out;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::stringstream in(text);
  std::string part;
  while (std::getline(in, part, separator)) parts.push_back(part);
  return parts;
}

}  // namespace

bool FetchReadLink(int webPort, const std::string& user, const std::string& password,
                   const std::string& fileName, ReadLink* link, std::string* error) {
  httplib::Client web("127.0.0.1", webPort);
  web.set_url_encode(false);
  auto get = [&](const std::string& path, std::string* body) {
    auto reply = web.Get(path.c_str());
    if (!reply || reply->status != 200) {
      *error = "no reply to " + path;
      return false;
    }
    *body = reply->body;
    if (body->rfind("ok", 0) != 0) {
      *error = path + " answered " + *body;
      return false;
    }
    return true;
  };

  std::string body;
  if (!get("/quellan?action=firstkey&t=1", &body)) return false;
  auto parts = Split(body, ',');
  if (parts.size() < 3) return (*error = "firstkey " + body, false);
  std::string sid = parts[1], key = parts[2];

  std::string name = Base64(user);
  std::string pass = Md5Hex(Md5Hex(password) + key);
  if (!get("/quellan?action=login&username=" + name + "&password=" + pass + "&sessionid=" + sid +
               "&hash=" + Md5Hex("login" + name + pass + sid + key) + "&t=1",
           &body)) {
    return false;
  }
  parts = Split(body, ',');
  if (parts.size() < 3) return (*error = "login " + body, false);
  sid = parts[1];
  key = parts[2];

  if (!get("/quellan?action=list3&sessionid=" + sid + "&hash=" + Md5Hex("list3" + sid + key) +
               "&t=1",
           &body)) {
    return false;
  }
  parts = Split(body, ',');
  if (parts.size() < 5) return (*error = "list3 " + body, false);
  std::string id;
  for (const std::string& line : Split(Unbase64(parts[4]), '\n')) {
    auto fields = Split(line, ',');
    if (fields.size() >= 3 && fields[1] == fileName && fields[2] == "file") id = fields[0];
  }
  if (id.empty()) return (*error = fileName + " not listed", false);

  if (!get("/quellan?action=readdist&id=" + id + "&sessionid=" + sid +
               "&hash=" + Md5Hex("readdist" + id + sid + key) + "&t=1",
           &body)) {
    return false;
  }
  parts = Split(body, ',');
  if (parts.size() < 5) return (*error = "readdist " + body, false);
  link->host = parts[1];
  link->port = std::atoi(parts[2].c_str());
  link->token2 = parts[3];
  link->token1 = parts[4];
  link->fileId = id;
  return true;
}
