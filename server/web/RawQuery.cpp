#include "server/web/RawQuery.h"

namespace qserver {

RawQuery RawQuery::Parse(std::string_view target) {
  RawQuery query;
  auto mark = target.find('?');
  std::string_view path = target.substr(0, mark);
  query.path_ = std::string(path);
  if (query.path_.empty() || query.path_.front() != '/')
    query.path_.insert(query.path_.begin(), '/');
  if (mark == std::string_view::npos) return query;
  std::string_view rest = target.substr(mark + 1);
  while (!rest.empty()) {
    auto amp = rest.find('&');
    std::string_view item = rest.substr(0, amp);
    if (!item.empty()) {
      auto equals = item.find('=');
      std::string name(item.substr(0, equals));
      std::string value =
          equals == std::string_view::npos ? "" : std::string(item.substr(equals + 1));
      query.items_.emplace_back(std::move(name), std::move(value));
    }
    if (amp == std::string_view::npos) break;
    rest = rest.substr(amp + 1);
  }
  return query;
}

std::optional<std::string> RawQuery::value(std::string_view name) const {
  for (const auto& [key, value] : items_) {
    if (key == name) return value;
  }
  return std::nullopt;
}

std::string PercentDecode(std::string_view text) {
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 && hex(text[i + 2]) >= 0) {
      out.push_back(static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2])));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

}  // namespace qserver
