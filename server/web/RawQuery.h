// The raw request target of a web request, split without any decoding: values arrive as
// the clients form them (a "+" in a Base64 value is a plus sign, not a space).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qserver {

class RawQuery {
 public:
  // Splits "path?name=value&..." (the path with or without a leading "/").
  static RawQuery Parse(std::string_view target);

  // The path with a leading "/" added when it had none.
  const std::string& path() const { return path_; }

  // The first value of `name`; nullopt when absent.
  std::optional<std::string> value(std::string_view name) const;

  const std::vector<std::pair<std::string, std::string>>& items() const { return items_; }

 private:
  std::string path_;
  std::vector<std::pair<std::string, std::string>> items_;
};

// Percent-decoding for the page endpoints, whose values a browser may encode.
// Invalid escapes are kept as they are.
std::string PercentDecode(std::string_view text);

}  // namespace qserver
