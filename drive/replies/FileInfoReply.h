// The reply of "file_info": "ok," followed by one Base64-encoded folder list line.
#pragma once

#include <string_view>

#include "drive/node/NodeRecord.h"

// The node described by a reply that starts with "ok" (the first three characters are
// dropped). The folder path is left empty: only the tree knows it.
NodeRecord ParseFileInfoReply(std::u16string_view reply);
