// How a name action on a user's tree ends.
#pragma once

namespace qserver {

enum class TreeError { kNone, kNotFound, kAccessDenied, kName, kExists };

// The reply word of a failed tree action ("File not found", "Access denied", ...).
const char* TreeErrorText(TreeError error);

}  // namespace qserver
