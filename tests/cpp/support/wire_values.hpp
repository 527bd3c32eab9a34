// Payload bytes as the tables write them: single-precision values and joined byte strings.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace ztest {

// The four big-endian bytes of a single-precision value.
inline std::vector<std::uint8_t> f32(float v) {
  std::uint32_t u;
  static_assert(sizeof u == sizeof v);
  std::memcpy(&u, &v, sizeof u);
  return {std::uint8_t(u >> 24), std::uint8_t(u >> 16), std::uint8_t(u >> 8), std::uint8_t(u)};
}

// Byte strings joined: cat({0, 1}, f32(2.5)).
template <class... B>
std::vector<std::uint8_t> cat(const B&... parts) {
  std::vector<std::uint8_t> out;
  (out.insert(out.end(), parts.begin(), parts.end()), ...);
  return out;
}

}  // namespace ztest
