// Splitting drive paths ("\Photos\2019\a.jpg") and checking the names the drive may create.
#pragma once

#include <string>
#include <string_view>

#include "drive/node/NodeRecord.h"

struct SplitPath {
  std::u16string folder;  // the text before the last "\", or "\" when that is the first one
  std::u16string name;    // the text after it
};

SplitPath SplitAtLastSeparator(std::u16string_view path);

// True for a name the service and ".filelist" cannot carry: empty, "." or "..", or holding
// any of \ / * ? " < > | : ("|" and "\" would also break the folder list and the path index).
bool UnacceptableName(std::u16string_view name);

// The folder path of the children of `parent`: "\" below the root, else its full path and "\".
std::u16string FolderPathBelow(const NodeRecord& parent);
