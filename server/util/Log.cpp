#include "server/util/Log.h"

#include <time.h>
#include <unistd.h>

namespace qserver {

void LogLine(const std::string& line) {
  char stamp[32];
  time_t now = ::time(nullptr);
  struct tm parts {};
  ::localtime_r(&now, &parts);
  ::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S ", &parts);
  std::string text = stamp + line + "\n";
  // One write call per line keeps lines from different threads whole.
  ssize_t ignored = ::write(STDERR_FILENO, text.data(), text.size());
  (void)ignored;
}

}  // namespace qserver
