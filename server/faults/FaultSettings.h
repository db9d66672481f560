// Faults the service can be told to inject, for tests of the clients' error handling.
#pragma once

#include <map>
#include <set>
#include <string>

namespace qserver {

struct FaultSettings {
  long long dropAfterBytes = -1;  // close each stream connection after this many reply bytes
  int delayMs = 0;                // delay before every stream reply
  std::set<std::string> silent;   // stream requests that are never answered
  std::map<std::string, std::string> streamErrors;  // request -> error word
  std::map<std::string, std::string> webErrors;     // web action -> reply text
  std::map<std::string, int> webDelays;             // web action -> delay of its reply in ms

  // Applies one option ("--fault-delay-ms" or "fault-delay-ms", and its value).
  // Returns false with a reason for an unknown option or a bad value.
  bool apply(const std::string& option, const std::string& value, std::string* error);

  // True when `option` is one of the fault options.
  static bool IsFaultOption(const std::string& option);
};

}  // namespace qserver
