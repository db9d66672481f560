#include "drive/replies/ReplyText.h"

bool StartsWithListMarker(std::u16string_view reply) { return reply.substr(0, 3) == kListMarker; }

bool StartsWithOk(std::u16string_view reply) { return reply.substr(0, 2) == u"ok"; }

std::u16string RemoveListMarkers(std::u16string_view reply) {
  std::u16string_view marker(kListMarker);
  std::u16string out;
  out.reserve(reply.size());
  size_t from = 0;
  while (true) {
    size_t at = reply.find(marker, from);
    if (at == std::u16string_view::npos) break;
    out.append(reply.substr(from, at - from));
    from = at + marker.size();
  }
  out.append(reply.substr(from));
  return out;
}

bool SplitSessionReply(std::u16string_view text, WebSession* session) {
  size_t comma = text.find(u',');
  if (comma == std::u16string_view::npos) return false;
  session->id = std::u16string(text.substr(0, comma));
  session->key = std::u16string(text.substr(text.size() - comma));
  return true;
}
