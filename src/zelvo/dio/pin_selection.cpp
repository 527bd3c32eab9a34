#include "zelvo/dio/pin_selection.hpp"

#include <algorithm>
#include <string>

#include "zelvo/core/bytes.hpp"

namespace zelvo {
namespace {

// Highest pin index a bitmask can carry in a signed 64-bit word.
constexpr std::int64_t kHighestIndex = 62;

int checkedIndex(std::int64_t index) {
  if (index < 0 || index > kHighestIndex) throwNoSuchPin("pin " + std::to_string(index));
  return static_cast<int>(index);
}

}  // namespace

void throwNoSuchPin(const std::string& detail) {
  throw Error(Err::PinsNotExistError, std::string(errorInfo(Err::PinsNotExistError).message) + " " + detail + ".");
}

std::vector<int> pinIndexList(const PinSelection& pin) {
  if (pin.isInt()) {
    const std::int64_t bits = pin.asInt();
    if (bits < 0) throwNoSuchPin("mask " + std::to_string(bits));
    return setBitIndices(static_cast<std::uint64_t>(bits));
  }
  std::vector<int> out;
  out.reserve(pin.asList().size());
  for (std::int64_t i : pin.asList()) out.push_back(checkedIndex(i));
  return out;
}

std::int64_t pinIndexMask(const PinSelection& pin) {
  if (pin.isInt()) {
    if (pin.asInt() < 0) throwNoSuchPin("mask " + std::to_string(pin.asInt()));
    return pin.asInt();
  }
  return static_cast<std::int64_t>(indicesToWord(pinIndexList(pin)));
}

std::int64_t levelWord(std::span<const int> indices, std::span<const std::int64_t> levels) {
  const std::size_t n = std::min(indices.size(), levels.size());
  std::int64_t word = 0;
  for (std::size_t k = 0; k < n; ++k) {
    const std::int64_t level = std::clamp<std::int64_t>(levels[k], 0, 1);
    word |= level << checkedIndex(indices[k]);
  }
  return word;
}

}  // namespace zelvo
