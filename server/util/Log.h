// One line per event on stderr, with a time stamp; safe from any thread.
#pragma once

#include <string>

namespace qserver {

void LogLine(const std::string& line);

}  // namespace qserver
