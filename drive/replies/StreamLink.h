// Where a remote file's content is read from: the stream server and the two link tokens that
// a "readdist" reply hands out.
#pragma once

#include <cstdint>
#include <string>

struct StreamLink {
  std::u16string host;
  int32_t port = 0;
  std::u16string token1;
  std::u16string token2;
};
