// Fuzz target: the replies of the "readdist" and "writedist" requests.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "drive/replies/ReadLinkReply.h"
#include "platform/codepage/CodePage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::u16string reply =
      codepage::Utf8ToWide(std::string_view(reinterpret_cast<const char*>(data), size));
  WriteLink writeLink;
  if (ParseWriteLinkReply(reply, &writeLink) == 0) {
    if (writeLink.host.empty() || writeLink.id.empty() || writeLink.size < 0) __builtin_trap();
    if (writeLink.port < 1 || writeLink.port > 65535) __builtin_trap();
  }
  StreamLink link;
  if (ParseReadLinkReply(reply, &link) != 0) return 0;
  if (link.host.empty() || link.token1.empty() || link.token2.empty()) __builtin_trap();
  if (link.port < 1 || link.port > 65535) __builtin_trap();
  return 0;
}
