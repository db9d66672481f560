#include "drive/replies/FileInfoReply.h"

#include "drive/replies/NodeLine.h"
#include "drive/replies/TextDigest.h"

NodeRecord ParseFileInfoReply(std::u16string_view reply) {
  std::u16string_view encoded = reply.size() > 3 ? reply.substr(3) : std::u16string_view();
  std::u16string line = text_digest::TextFromBase64(encoded);
  // One line is expected; anything after a line break is not part of it.
  size_t lineEnd = line.find(u'\n');
  if (lineEnd != std::u16string::npos) line.resize(lineEnd);
  return ParseNodeLine(line);
}
