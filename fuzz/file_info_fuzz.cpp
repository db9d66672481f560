// Fuzz target: the reply of a "file_info" request.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "drive/replies/FileInfoReply.h"
#include "drive/replies/ReplyText.h"
#include "platform/codepage/CodePage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::u16string reply =
      codepage::AnsiToWide(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!StartsWithOk(reply)) return 0;
  NodeRecord node = ParseFileInfoReply(reply);
  if (node.isFolder() && node.size != 0) __builtin_trap();
  if (node.size < 0) __builtin_trap();
  return 0;
}
