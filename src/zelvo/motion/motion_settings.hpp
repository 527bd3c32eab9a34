// The axis configuration a motion module keeps for the configuration file: 22 named settings
// ("Stepper Output", "Home Enable", ...), in the file's order, each an integer except "Approach
// Velocity Percent" (a real number), with the texts the file shows for each value.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zelvo {

enum class Setting : std::uint8_t {
  StepperOutput,
  InverseMotionDirection,
  InverseEncoderDirection,
  EncoderAPolarity,
  EncoderBPolarity,
  EncoderZPolarity,
  HomeEnable,
  ForwardEnable,
  ReverseEnable,
  HomePolarity,
  ForwardPolarity,
  ReversePolarity,
  InitialSearchDirection,
  FinalApproachDirection,
  EnableResetPosition,
  ApproachVelocityPercent,
  OffsetPosition,
  ServoOnPolarity,
  AlarmEnable,
  AlarmPolarity,
  InpositionEnable,
  InpositionPolarity,
};
inline constexpr std::size_t kSettingCount = 22;

// How a setting's value is written in the configuration file.
enum class SettingText : std::uint8_t {
  PulseOutput,  // 0 "Step/Dir(One Pulse)", 1 "CW/CCW(Two Pulse)"
  Boolean,      // 0 "FALSE", 1 "TRUE"
  Polarity,     // 0 "Active Low", 1 "Active High"
  Direction,    // 0 "Forward", 1 "Reverse"
  Real,         // its decimal text
  Integer,      // its decimal text
};

struct SettingInfo {
  const char* key;  // the record's key, used verbatim as the file's option name
  double initial;
  SettingText text;
};

// The settings in the file's order.
const std::array<SettingInfo, kSettingCount>& settingInfos();
const SettingInfo& settingInfo(Setting s);
std::optional<Setting> findSetting(std::string_view key);

// The two texts of a two-valued setting (0 and 1); none for Real and Integer.
const std::array<const char*, 2>* settingTexts(SettingText t);

// The settings of one axis. Integers are held exactly (as doubles: every value the file and the
// registers use fits 53 bits).
class MotionSettings {
 public:
  MotionSettings();
  double value(Setting s) const { return values_[static_cast<std::size_t>(s)]; }
  std::int64_t integer(Setting s) const { return static_cast<std::int64_t>(value(s)); }
  void set(Setting s, double v) { values_[static_cast<std::size_t>(s)] = v; }
  friend bool operator==(const MotionSettings&, const MotionSettings&) = default;

 private:
  std::array<double, kSettingCount> values_;
};

// The text a value is saved as ("TRUE", "Active Low", "20.0", "2000"); InputDataNotInRangeError
// for a two-valued setting holding another value.
std::string settingToText(Setting s, double value);
// The value of a text read from a file (exact table texts; Python-style decimal numbers for the
// real and the integer setting); InputDataNotInRangeError naming the setting otherwise.
double settingFromText(Setting s, std::string_view text);

// Python's repr of a float: the shortest text that reads back as the same value, with ".0" when
// it is integral ("20.0", "12.5", "1e+16").
std::string realText(double v);

}  // namespace zelvo
