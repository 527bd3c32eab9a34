// Raw counts to volts, exactly as the module reports them.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "zelvo/core/bytes.hpp"

namespace zelvo {

// round(x, digits) as Python computes it: the exact binary value rounded half-to-even to that many
// decimals, then the nearest double.
double roundDecimal(double x, int digits);

// Volts of 16-bit counts: count times ratio, rounded to 4 decimals. A table of all 65536 results
// (shared between modules with the same ratio) makes streaming conversion one load per value.
class Counts16 {
 public:
  static constexpr int kDecimals = 4;
  explicit Counts16(double ratio);
  double operator()(std::int16_t count) const { return (*table_)[static_cast<std::uint16_t>(count)]; }
  // Two bytes, most significant first.
  double fromBytes(const Byte* b) const { return (*table_)[static_cast<std::uint16_t>((b[0] << 8) | b[1])]; }

 private:
  std::shared_ptr<const std::vector<double>> table_;
};

// Three bytes, most significant first, as an unsigned number.
inline std::uint32_t read24(const Byte* b) {
  return (static_cast<std::uint32_t>(b[0]) << 16) | (static_cast<std::uint32_t>(b[1]) << 8) | b[2];
}

// A 24-bit two's-complement count (three bytes, most significant first).
inline std::int32_t count24(const Byte* b) {
  return static_cast<std::int32_t>(read24(b) << 8) >> 8;  // sign-extend bit 23
}

// A 24-bit offset code (0 = the most negative value) scaled to +-full_scale, rounded to 3 decimals.
double offsetCode24(const Byte* b, double full_scale);

// Bytes per channel of each sample encoding.
inline constexpr std::size_t kBytes16 = 2;
inline constexpr std::size_t kBytes24 = 3;

}  // namespace zelvo
