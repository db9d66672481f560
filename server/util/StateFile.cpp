#include "server/util/StateFile.h"

#include <fstream>
#include <sstream>

#include "platform/atomicfile/AtomicFile.h"

namespace qserver {

bool WriteFileAtomically(const std::string& path, const std::string& content) {
  return atomicfile::ReplaceFile(path, content,
                                 {.syncFile = true, .syncFolder = true, .mode = 0600});
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

}  // namespace qserver
