#include "drive/tree/ListReplyReader.h"

#include <utility>

#include "platform/codepage/CodePage.h"

namespace {

constexpr std::string_view kMarker = "ok,";
// How much of the reply is kept for the log: enough for any refusal.
constexpr size_t kOpeningBytes = 4096;

}  // namespace

ListReplyReader::ListReplyReader(std::function<bool()> keepRunning)
    : keepRunning_(std::move(keepRunning)) {}

void ListReplyReader::feed(std::string_view bytes) {
  size_t before = opening_.size();
  if (before < kOpeningBytes) opening_.append(bytes.substr(0, kOpeningBytes - before));
  if (!decided_) {
    // Nothing is parsed before the reply is known to start with "ok,"; until then every byte
    // is in the opening.
    if (opening_.size() < kMarker.size()) return;
    decided_ = true;
    accepted_ = opening_.compare(0, kMarker.size(), kMarker) == 0;
    if (accepted_) dropMarkers(std::string_view(opening_).substr(0, before));
  }
  if (accepted_) dropMarkers(bytes);
}

void ListReplyReader::dropMarkers(std::string_view bytes) {
  // Every "ok," is dropped, also one split between two pieces: the end of a piece that could
  // begin a marker waits for the next.
  std::string joined;
  if (!carry_.empty()) {
    joined = std::move(carry_);
    joined.append(bytes);
    carry_.clear();
    bytes = joined;
  }
  while (!bytes.empty()) {
    size_t marker = bytes.find(kMarker);
    if (marker == std::string_view::npos) {
      size_t held = bytes.size() >= 2 && bytes.substr(bytes.size() - 2) == "ok" ? 2
                    : bytes.back() == 'o'                                       ? 1
                                                                                : 0;
      take(bytes.substr(0, bytes.size() - held));
      carry_.assign(bytes.substr(bytes.size() - held));
      return;
    }
    take(bytes.substr(0, marker));
    bytes.remove_prefix(marker + kMarker.size());
  }
}

void ListReplyReader::take(std::string_view bytes) {
  // The header runs to the third comma; the folder list follows.
  while (headerCommas_ < 3 && !bytes.empty()) {
    char c = bytes.front();
    bytes.remove_prefix(1);
    header_.push_back(c);
    if (c == ',') ++headerCommas_;
  }
  if (!bytes.empty()) takeBody(bytes);
}

void ListReplyReader::takeBody(std::string_view base64) {
  if (listEnded_) return;
  decoded_.resize(base64.size() * 3 / 4 + 3);
  size_t size = base64_.decode(base64.data(), base64.size(), decoded_.data());
  takeList(std::string_view(decoded_.data(), size));
}

void ListReplyReader::takeList(std::string_view decoded) {
  // The list ends at its first zero byte; lines end at "\n".
  size_t zero = decoded.find('\0');
  if (zero != std::string_view::npos) {
    decoded = decoded.substr(0, zero);
    listEnded_ = true;
  }
  while (!decoded.empty()) {
    size_t end = decoded.find('\n');
    if (end == std::string_view::npos) {
      line_.append(decoded);
      return;
    }
    if (line_.empty()) {
      stageLine(decoded.substr(0, end));
    } else {
      line_.append(decoded.substr(0, end));
      stageLine(line_);
      line_.clear();
    }
    decoded.remove_prefix(end + 1);
  }
}

void ListReplyReader::stageLine(std::string_view line) {
  if (!tree_.complete) return;
  if (keepRunning_ && !keepRunning_()) {
    tree_.complete = false;
    return;
  }
  StageListLine(line, tree_);
}

ListReply ListReplyReader::header() const { return ParseListReply(codepage::AnsiToWide(header_)); }

BuiltTree ListReplyReader::finish() {
  // What waited for more: a split marker that never completed, the last group of the list,
  // and its last line without a line end.
  if (!carry_.empty()) {
    std::string rest = std::move(carry_);
    carry_.clear();
    take(rest);
  }
  if (!listEnded_) {
    char tail[2];
    takeList(std::string_view(tail, base64_.finish(tail)));
    listEnded_ = true;
  }
  if (!line_.empty()) {
    stageLine(line_);
    line_.clear();
  }
  tree_.previous = nullptr;
  if (tree_.complete) LinkStagedTree(tree_, header().writableIds);
  return std::move(tree_);
}
