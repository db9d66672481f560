// Asks the reference service's web interface for the read link of one file, the way the
// storage client does: firstkey, login, list3 (to find the file's id), readdist.
#pragma once

#include <string>

struct ReadLink {
  std::string host;
  int port = 0;
  std::string token1;
  std::string token2;
  std::string fileId;
};

// `password` as the user typed it. Returns false with `error` set when a step fails.
bool FetchReadLink(int webPort, const std::string& user, const std::string& password,
                   const std::string& fileName, ReadLink* link, std::string* error);
