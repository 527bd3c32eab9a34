// How the emulated converters put a measured value on the wire: 16-bit or 24-bit two's complement
// counts (volts / ratio, rounded to the nearest count and clamped to the converter's range), or the
// 24-bit offset code of the on-demand 24-bit models (code 0 is -R, 2^23 is 0, full scale +R).
#pragma once

#include <cstdint>

#include "zelvo/core/bytes.hpp"

namespace zelvo::sim {

class SampleFormat {
 public:
  // Signed counts of `bytes` (2 or 3) bytes, `ratio` volts per count.
  static SampleFormat counts(int bytes, double ratio);
  // 24-bit offset code over -full_scale..+full_scale.
  static SampleFormat offsetCode(double full_scale);

  int bytes() const { return bytes_; }
  // The raw value (count or code) that stands for `volts`.
  std::int64_t raw(double volts) const;
  // Appends a raw value as bytes() big-endian bytes.
  void append(Bytes& out, std::int64_t raw) const;
  // Writes the value at `at` (bytes() bytes, most significant first).
  void write(Byte* at, std::int64_t raw) const;

 private:
  SampleFormat(int bytes, double ratio, double full_scale) : bytes_(bytes), ratio_(ratio), full_scale_(full_scale) {}

  int bytes_;
  double ratio_;       // counts: volts per count
  double full_scale_;  // offset code: R; 0 for counts
};

}  // namespace zelvo::sim
