#include "zelvo/sim/ai_format.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace zelvo::sim {
namespace {

constexpr int kBitsPerByte = 8;
constexpr double kOffsetCodeZero = 8388608.0;  // 2^23: the code of 0
constexpr std::int64_t kOffsetCodeMax = 16777215;  // 2^24 - 1

// Rounds to the nearest integer (halves away from zero) and clamps into lo..hi; the clamp comes
// first so that huge values cannot overflow the conversion.
std::int64_t roundClamped(double v, std::int64_t lo, std::int64_t hi) {
  return std::llround(std::clamp(v, static_cast<double>(lo), static_cast<double>(hi)));
}

}  // namespace

SampleFormat SampleFormat::counts(int bytes, double ratio) {
  if ((bytes != 2 && bytes != 3) || !(ratio > 0)) throw std::invalid_argument("counts are 2 or 3 bytes with a positive ratio");
  return SampleFormat(bytes, ratio, 0);
}

SampleFormat SampleFormat::offsetCode(double full_scale) {
  if (!(full_scale > 0)) throw std::invalid_argument("an offset code needs a positive full scale");
  return SampleFormat(3, 0, full_scale);
}

std::int64_t SampleFormat::raw(double volts) const {
  if (std::isnan(volts)) volts = 0;  // no waveform produces one; a converter reads something
  if (full_scale_ > 0) return roundClamped((volts + full_scale_) * kOffsetCodeZero / full_scale_, 0, kOffsetCodeMax);
  const std::int64_t top = (std::int64_t{1} << (bytes_ * kBitsPerByte - 1)) - 1;
  return roundClamped(volts / ratio_, -top - 1, top);
}

void SampleFormat::append(Bytes& out, std::int64_t raw) const {
  out.resize(out.size() + static_cast<std::size_t>(bytes_));
  write(out.data() + out.size() - static_cast<std::size_t>(bytes_), raw);
}

void SampleFormat::write(Byte* at, std::int64_t raw) const {
  for (int shift = kBitsPerByte * (bytes_ - 1); shift >= 0; shift -= kBitsPerByte)
    *at++ = static_cast<Byte>(static_cast<std::uint64_t>(raw) >> shift);
}

}  // namespace zelvo::sim
