// Recognising the storage service's replies and splitting the session reply.
#pragma once

#include <string>
#include <string_view>

#include "drive/replies/WebRequest.h"

// The success marker of firstkey, login and list3 replies.
inline constexpr char16_t kListMarker[] = u"ok,";

// True when the reply starts with "ok," (firstkey, login, list3).
bool StartsWithListMarker(std::u16string_view reply);

// True when the reply starts with "ok" (the name operations and file_info).
bool StartsWithOk(std::u16string_view reply);

// The reply with every "ok," removed.
std::u16string RemoveListMarkers(std::u16string_view reply);

// Splits a session reply (markers already removed) into id and key: with n the position of
// the first comma, the id is the first n characters and the key the last n characters of the
// whole text. For two values of equal length these are the texts either side of the comma.
// Returns false, leaving `session` unchanged, when there is no comma.
bool SplitSessionReply(std::u16string_view text, WebSession* session);
