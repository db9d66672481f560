// The record of the control pipe: exactly 1024 bytes, always written and read whole.
// Integers are little-endian. The text may carry two parts separated by one zero byte;
// `length` then counts both parts and the separator.
#pragma once

#include <bit>
#include <cstdint>
#include <string>
#include <string_view>

constexpr size_t kPipeMessageSize = 1024;
constexpr size_t kPipeTextSize = 1015;

struct PipeMessage {
  int32_t length = 0;
  int32_t command = 0;
  uint8_t more = 0;  // 1 while further records of the same request or reply follow
  char text[kPipeTextSize] = {};

  // The text up to `length`; empty when the length does not fit the record.
  std::string_view body() const;
  // The text before the first zero byte of the body, and the text after it ("" when none).
  std::string_view firstPart() const;
  std::string_view secondPart() const;

  // Replaces the text and the length; false (record unchanged) when it does not fit.
  bool setText(std::string_view value);
  // Two parts: first part, zero byte, second part; the length counts all three.
  bool setTwoParts(std::string_view first, std::string_view second);
};

static_assert(sizeof(PipeMessage) == kPipeMessageSize);
static_assert(std::endian::native == std::endian::little,
              "the record's integers are stored as the host lays them out");

// A request record with the more flag 0.
PipeMessage MakeRequest(int32_t command, std::string_view text = {});
PipeMessage MakeTwoPartRequest(int32_t command, std::string_view first, std::string_view second);
