// Feeds arbitrary request targets to the web interface's raw query parsing.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "server/web/RawQuery.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view target(reinterpret_cast<const char*>(data), size);
  auto query = qserver::RawQuery::Parse(target);
  if (query.path().empty() || query.path()[0] != '/') __builtin_trap();
  for (const char* name : {"action", "id", "pid", "name", "filename", "username", "password",
                           "sessionid", "hash", "t", "timestamp"}) {
    auto value = query.value(name);
    if (value && value->size() > size) __builtin_trap();
  }
  if (qserver::PercentDecode(target).size() > size) __builtin_trap();
  return 0;
}
