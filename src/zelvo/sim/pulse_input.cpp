#include "zelvo/sim/pulse_input.hpp"

#include <algorithm>
#include <cmath>

namespace zelvo::sim {
namespace {

constexpr double kMinWindowMs = 20;

}  // namespace

Bytes readingBytes(std::int64_t position, double frequency) {
  Bytes data;
  const auto p = static_cast<std::uint64_t>(position);
  for (int shift = 8 * (static_cast<int>(kPositionBytes) - 1); shift >= 0; shift -= 8)
    data.push_back(static_cast<Byte>(p >> shift));
  appendF32BE(data, frequency);
  return data;
}

std::int64_t positionField(ByteView payload) {
  std::int64_t v = 0;
  for (Byte b : payload.subspan(1, kPositionBytes)) v = (v << 8) | b;
  return v;
}

std::optional<double> windowField(ByteView payload) {
  const double ms = readF32BE(payload.subspan(1));
  if (!(ms >= kMinWindowMs) || !std::isfinite(ms)) return std::nullopt;
  return ms;
}

PulseInput::PulseInput() { knots_.push_back(Knot{0, 0, 0}); }

double PulseInput::pulses(double t) const {
  const Knot& first = knots_.front();
  if (t < first.t) return pruned_ ? first.pulses + first.rate * (t - first.t) : first.pulses;  // nothing before the start
  // The last knot at or before t.
  auto it = std::upper_bound(knots_.begin(), knots_.end(), t, [](double v, const Knot& k) { return v < k.t; });
  const Knot& k = *std::prev(it);
  return k.pulses + k.rate * (t - k.t);
}

void PulseInput::setRate(double t, double rate) {
  if (rate == knots_.back().rate) return;
  t = std::max(t, knots_.back().t);
  const double total = pulses(t);
  if (knots_.back().t == t) knots_.pop_back();
  knots_.push_back(Knot{t, total, rate});
  if (knots_.size() > kMaxKnots) {
    knots_.pop_front();
    pruned_ = true;
  }
}

std::int64_t PulseInput::edges(double total) const { return static_cast<std::int64_t>(std::floor(total - offset_)); }

std::int64_t PulseInput::count(double t) const {
  return base_ + sign_ * (edges(pulses(t)) - edges(anchor_pulses_));
}

void PulseInput::preset(double t, std::int64_t value) {
  base_ = value;
  anchor_pulses_ = pulses(t);
}

void PulseInput::recount(double t, double offset, int sign) {
  const std::int64_t now = count(t);
  offset_ = offset;
  sign_ = sign;
  preset(t, now);
}

double PulseInput::averageRate(double t, double window) const {
  if (!(window > 0)) return rate();
  return (pulses(t) - pulses(t - window)) / window;
}

}  // namespace zelvo::sim
