#include "zelvo/motion/motion_settings.hpp"

#include <charconv>
#include <cmath>
#include <limits>

#include "zelvo/core/errors.hpp"

namespace zelvo {
namespace {

using T = SettingText;

// Initial values of the records.
constexpr double kApproachPercent = 20.0;
constexpr double kOffsetPosition = 2000;

constexpr std::array<SettingInfo, kSettingCount> kSettings = {{
    {"Stepper Output", 0, T::PulseOutput},
    {"Inverse Motion Direction", 0, T::Boolean},
    {"Inverse Encoder Direction", 0, T::Boolean},
    {"Encoder A Polarity", 1, T::Polarity},
    {"Encoder B Polarity", 1, T::Polarity},
    {"Encoder Z Polarity", 0, T::Polarity},
    {"Home Enable", 0, T::Boolean},
    {"Forward Enable", 1, T::Boolean},
    {"Reverse Enable", 1, T::Boolean},
    {"Home Polarity", 0, T::Polarity},
    {"Forward Polarity", 1, T::Polarity},
    {"Reverse Polarity", 1, T::Polarity},
    {"Initial Search Direction", 1, T::Direction},
    {"Final Approach Direction", 1, T::Direction},
    {"Enable Reset Position", 0, T::Boolean},
    {"Approach Velocity Percent", kApproachPercent, T::Real},
    {"Offset Position", kOffsetPosition, T::Integer},
    {"Servo On Polarity", 1, T::Polarity},
    {"Alarm Enable", 0, T::Boolean},
    {"Alarm Polarity", 0, T::Polarity},
    {"Inposition Enable", 0, T::Boolean},
    {"Inposition Polarity", 0, T::Polarity},
}};

constexpr std::array<const char*, 2> kPulseOutput = {"Step/Dir(One Pulse)", "CW/CCW(Two Pulse)"};
constexpr std::array<const char*, 2> kBoolean = {"FALSE", "TRUE"};
constexpr std::array<const char*, 2> kPolarity = {"Active Low", "Active High"};
constexpr std::array<const char*, 2> kDirection = {"Forward", "Reverse"};

[[noreturn]] void badText(Setting s, std::string_view text) {
  throw Error(Err::InputDataNotInRangeError,
              std::string("'") + std::string(text) + "' is not a value of '" + settingInfo(s).key + "'.");
}

std::string_view trimmed(std::string_view t) {
  const auto first = t.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return t.substr(first, t.find_last_not_of(" \t") - first + 1);
}

// A decimal integer as Python's int() reads one: an optional sign, digits, '_' between digits.
std::optional<std::int64_t> integerOf(std::string_view t) {
  std::string digits;
  bool negative = false;
  if (!t.empty() && (t[0] == '+' || t[0] == '-')) {
    negative = t[0] == '-';
    t.remove_prefix(1);
  }
  for (std::size_t i = 0; i < t.size(); ++i) {
    if (t[i] == '_' && i > 0 && i + 1 < t.size() && t[i - 1] != '_') continue;
    if (t[i] < '0' || t[i] > '9') return std::nullopt;
    digits += t[i];
  }
  std::int64_t v = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v);
  if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return negative ? -v : v;
}

// A real number as Python's float() reads one (decimal or exponent form, inf, nan).
std::optional<double> realOf(std::string_view t) {
  if (!t.empty() && t[0] == '+') t.remove_prefix(1);
  double v = 0;
  const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  if (t.empty() || ec != std::errc() || end != t.data() + t.size()) return std::nullopt;
  return v;
}

}  // namespace

const std::array<SettingInfo, kSettingCount>& settingInfos() { return kSettings; }
const SettingInfo& settingInfo(Setting s) { return kSettings[static_cast<std::size_t>(s)]; }

std::optional<Setting> findSetting(std::string_view key) {
  for (std::size_t i = 0; i < kSettingCount; ++i)
    if (key == kSettings[i].key) return static_cast<Setting>(i);
  return std::nullopt;
}

const std::array<const char*, 2>* settingTexts(SettingText t) {
  switch (t) {
    case T::PulseOutput:
      return &kPulseOutput;
    case T::Boolean:
      return &kBoolean;
    case T::Polarity:
      return &kPolarity;
    case T::Direction:
      return &kDirection;
    case T::Real:
    case T::Integer:
      break;
  }
  return nullptr;
}

MotionSettings::MotionSettings() {
  for (std::size_t i = 0; i < kSettingCount; ++i) values_[i] = kSettings[i].initial;
}

std::string realText(double v) {
  if (std::isnan(v)) return "nan";
  if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
  char buf[64];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  std::string s(buf, ec == std::errc() ? end : buf);
  if (s.find_first_of(".en") == std::string::npos) s += ".0";
  return s;
}

std::string settingToText(Setting s, double value) {
  const SettingInfo& info = settingInfo(s);
  if (info.text == T::Real) return realText(value);
  if (info.text == T::Integer) return std::to_string(static_cast<std::int64_t>(value));
  const auto* texts = settingTexts(info.text);
  if (value != 0 && value != 1)
    throw Error(Err::InputDataNotInRangeError,
                std::string("'") + info.key + "' holds " + realText(value) + "; the file can hold only 0 or 1.");
  return (*texts)[value == 1 ? 1 : 0];
}

double settingFromText(Setting s, std::string_view text) {
  const SettingInfo& info = settingInfo(s);
  if (info.text == T::Real) {
    if (const auto v = realOf(trimmed(text))) return *v;
    badText(s, text);
  }
  if (info.text == T::Integer) {
    const auto v = integerOf(trimmed(text));
    constexpr auto kExact = std::int64_t{1} << std::numeric_limits<double>::digits;
    if (v && *v > -kExact && *v < kExact) return static_cast<double>(*v);
    badText(s, text);
  }
  const auto* texts = settingTexts(info.text);
  for (std::size_t i = 0; i < texts->size(); ++i)
    if (text == (*texts)[i]) return static_cast<double>(i);
  badText(s, text);
}

}  // namespace zelvo
