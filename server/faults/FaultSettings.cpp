#include "server/faults/FaultSettings.h"

#include <charconv>

namespace qserver {
namespace {

std::string Bare(const std::string& option) {
  return option.rfind("--", 0) == 0 ? option.substr(2) : option;
}

bool ParseNumber(const std::string& text, long long* value) {
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return error == std::errc() && end == text.data() + text.size() && *value >= 0;
}

bool SplitPair(const std::string& text, std::string* key, std::string* value) {
  auto equals = text.find('=');
  if (equals == std::string::npos || equals == 0) return false;
  *key = text.substr(0, equals);
  *value = text.substr(equals + 1);
  return true;
}

}  // namespace

bool FaultSettings::IsFaultOption(const std::string& option) {
  return Bare(option).rfind("fault-", 0) == 0;
}

bool FaultSettings::apply(const std::string& option, const std::string& value, std::string* error) {
  std::string name = Bare(option);
  long long number = 0;
  std::string key, text;
  if (name == "fault-drop-after") {
    if (!ParseNumber(value, &number)) return *error = "bad byte count: " + value, false;
    dropAfterBytes = number;
  } else if (name == "fault-delay-ms") {
    if (!ParseNumber(value, &number) || number > 600000) {
      return *error = "bad delay: " + value, false;
    }
    delayMs = static_cast<int>(number);
  } else if (name == "fault-silent") {
    if (value.empty()) return *error = "missing request name", false;
    silent.insert(value);
  } else if (name == "fault-error") {
    if (!SplitPair(value, &key, &text) || text.empty()) {
      return *error = "expected REQUEST=WORD: " + value, false;
    }
    streamErrors[key] = text;
  } else if (name == "fault-web-delay") {
    if (!SplitPair(value, &key, &text) || !ParseNumber(text, &number) || number > 600000) {
      return *error = "expected ACTION=MS: " + value, false;
    }
    webDelays[key] = static_cast<int>(number);
  } else if (name == "fault-web-error") {
    if (!SplitPair(value, &key, &text)) return *error = "expected ACTION=TEXT: " + value, false;
    webErrors[key] = text;
  } else {
    *error = "unknown option: " + option;
    return false;
  }
  return true;
}

}  // namespace qserver
