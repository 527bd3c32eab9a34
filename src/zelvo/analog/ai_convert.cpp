#include "zelvo/analog/ai_convert.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>

namespace zelvo {
namespace {

constexpr int kOffsetDecimals = 3;
constexpr double kOffsetHalfRange = 8388608.0;  // 2^23

}  // namespace

double roundDecimal(double x, int digits) {
  if (!std::isfinite(x)) return x;
  // printf rounds the exact binary value half-to-even, as Python's round() does.
  char buf[512];
  std::snprintf(buf, sizeof buf, "%.*f", digits, x);
  return std::strtod(buf, nullptr);
}

Counts16::Counts16(double ratio) {
  static std::mutex m;
  static std::map<double, std::shared_ptr<const std::vector<double>>> tables;
  std::lock_guard lock(m);
  auto& t = tables[ratio];
  if (!t) {
    auto v = std::make_shared<std::vector<double>>(65536);
    for (int raw = -32768; raw <= 32767; ++raw)
      (*v)[static_cast<std::uint16_t>(raw)] = roundDecimal(raw * ratio, kDecimals);
    t = std::move(v);
  }
  table_ = t;
}

double offsetCode24(const Byte* b, double full_scale) {
  return roundDecimal(read24(b) * full_scale / kOffsetHalfRange - full_scale, kOffsetDecimals);
}

}  // namespace zelvo
