#include "platform/pipe/PipeMessage.h"

#include <cstring>

std::string_view PipeMessage::body() const {
  if (length < 0 || static_cast<size_t>(length) > kPipeTextSize) return {};
  return std::string_view(text, static_cast<size_t>(length));
}

std::string_view PipeMessage::firstPart() const {
  std::string_view all = body();
  return all.substr(0, all.find('\0'));
}

std::string_view PipeMessage::secondPart() const {
  std::string_view all = body();
  size_t zero = all.find('\0');
  return zero == std::string_view::npos ? std::string_view() : all.substr(zero + 1);
}

bool PipeMessage::setText(std::string_view value) {
  if (value.size() > kPipeTextSize) return false;
  std::memset(text, 0, sizeof(text));
  if (!value.empty()) std::memcpy(text, value.data(), value.size());
  length = static_cast<int32_t>(value.size());
  return true;
}

bool PipeMessage::setTwoParts(std::string_view first, std::string_view second) {
  std::string joined(first);
  joined.push_back('\0');
  joined.append(second);
  return setText(joined);
}

PipeMessage MakeRequest(int32_t command, std::string_view text) {
  PipeMessage message;
  message.command = command;
  message.setText(text);
  return message;
}

PipeMessage MakeTwoPartRequest(int32_t command, std::string_view first, std::string_view second) {
  PipeMessage message;
  message.command = command;
  message.setTwoParts(first, second);
  return message;
}
