// Wire layout of the digital I/O requests and replies: a port byte followed by 16-bit words (two
// bytes each, most significant first); replies carry the port at element 0 and either the status
// at element 1 or port words from element 1 on.
#pragma once

#include <cstdint>
#include <span>
#include <tuple>
#include <vector>

#include "zelvo/core/bytes.hpp"
#include "zelvo/core/reply.hpp"

namespace zelvo {

// Reply element of the firmware status (status convention).
inline constexpr std::size_t kDioStatusIndex = 1;
// Reply element where the first port word starts (port-word convention).
inline constexpr std::size_t kDioFirstWordIndex = 1;
// Pins a port word can address.
inline constexpr std::size_t kPortWordBits = 16;
// Words in a configuration reply: enabled, direction, state.
inline constexpr std::size_t kDioConfigWords = 3;

// A 16-bit word argument: 0..65535, else InputDataNotInRangeError naming `what`.
int checkedWord(std::int64_t value, const char* what);

// port, then each word as two bytes. The port must be a byte and every word 0..65535
// (InputDataNotInRangeError).
Bytes portWordPayload(int port, std::span<const std::int64_t> words);
template <class... W>
Bytes portWords(int port, W... words) {
  if constexpr (sizeof...(W) == 0) {
    return portWordPayload(port, {});
  } else {
    const std::int64_t w[] = {static_cast<std::int64_t>(words)...};
    return portWordPayload(port, w);
  }
}
// port; 0 — the requests that name nothing but the port.
Bytes portOnly(int port);
// The payload followed by the six filler bytes (value 1) the configuration reads carry.
Bytes withFiller(Bytes payload);

// The port word at reply element `first` expanded to `width` levels, least significant first.
std::vector<int> decodeLevels(const Reply& reply, std::size_t first, int width);
// The three configuration words (enabled, direction, state) of a reply, expanded likewise.
std::tuple<std::vector<int>, std::vector<int>, std::vector<int>> decodeConfig(const Reply& reply, int width);

}  // namespace zelvo
