// A list3 reply read as it arrives: the "ok," markers are dropped, the header is kept, and
// the Base64 folder list is decoded and staged into new tables a line at a time, so neither
// the reply nor the decoded list is ever held whole.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "drive/replies/ListReply.h"
#include "drive/replies/TextDigest.h"
#include "drive/tree/FolderTree.h"

class ListReplyReader {
 public:
  // `keepRunning` is asked once per listed line; when it answers false the rest is ignored
  // and the tree is marked incomplete.
  explicit ListReplyReader(std::function<bool()> keepRunning);

  // Entries listed as the tables in use hold them share their texts (`previous` must outlive
  // the reader's finish()).
  void shareTextsWith(PreviousTexts* previous) { tree_.previous = previous; }

  // The next bytes of the reply, as read.
  void feed(std::string_view bytes);

  // Whether the reply starts with "ok,"; a reply that does not is kept as it came, unparsed.
  bool accepted() const { return accepted_; }
  // The reply's first bytes as they came, for the log.
  const std::string& opening() const { return opening_; }
  // After the last piece: the header, and the staged tables linked.
  ListReply header() const;
  BuiltTree finish();

 private:
  void dropMarkers(std::string_view bytes);
  // Reply bytes with the markers already taken out.
  void take(std::string_view bytes);
  void takeBody(std::string_view base64);
  void takeList(std::string_view decoded);
  void stageLine(std::string_view line);

  std::function<bool()> keepRunning_;
  std::string opening_;
  bool decided_ = false;  // the first three bytes have come
  bool accepted_ = false;
  std::string carry_;   // the end of the last piece, where a marker may begin
  std::string header_;  // up to and with the third comma
  int headerCommas_ = 0;
  text_digest::Base64Decoder base64_;
  std::string decoded_;     // scratch for one piece
  std::string line_;        // the line begun in an earlier piece
  bool listEnded_ = false;  // a zero byte ends the list
  BuiltTree tree_;
};
