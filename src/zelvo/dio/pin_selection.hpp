// Pin selections and pin levels as callers give them: an integer (a bitmask, bit n for pin n) or a
// list (of pin indices, or of levels in the order of a pin list), and the conversions between the
// two forms.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace zelvo {

// An int or a list of ints. Used for the `pin` arguments of the digital I/O operations (bitmask or
// index list) and for their `value` arguments (level word or level list).
struct PinSelection {
  std::variant<std::int64_t, std::vector<std::int64_t>> value;

  static PinSelection mask(std::int64_t bits) { return PinSelection{bits}; }
  static PinSelection list(std::vector<std::int64_t> items) { return PinSelection{std::move(items)}; }

  bool isInt() const { return std::holds_alternative<std::int64_t>(value); }
  std::int64_t asInt() const { return std::get<std::int64_t>(value); }
  const std::vector<std::int64_t>& asList() const { return std::get<std::vector<std::int64_t>>(value); }
};

// PinsNotExistError with its message followed by `detail` ("port 0 has no pin 9").
[[noreturn]] void throwNoSuchPin(const std::string& detail);

// The index list of a selection: a list as given, a bitmask as its set bits in ascending order.
// PinsNotExistError for a negative mask or index, or an index no port can have.
std::vector<int> pinIndexList(const PinSelection& pin);
// The bitmask of a selection: an int as given, a list as the OR of 1 << index. Same errors.
std::int64_t pinIndexMask(const PinSelection& pin);
// The OR of (level << index) over the pairs taken in parallel (extra entries of the longer list
// are ignored); levels are clamped to 0..1 first.
std::int64_t levelWord(std::span<const int> indices, std::span<const std::int64_t> levels);

}  // namespace zelvo
