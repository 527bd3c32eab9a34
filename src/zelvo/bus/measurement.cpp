#include "zelvo/bus/measurement.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

namespace zelvo {
namespace {

// Mode names by the frame's byte 0 (some names repeat at several indices).
constexpr std::array<std::string_view, 31> kModes = {
    "ACV",  "ACmV", "DCV",  "DCmV", "Hz",   "%",    "OHM",   "CONT", "DIDOE", "CAP",   "deg C",
    "deg F", "DCuA", "ACuA", "DCmA", "ACmA", "DCA",  "ACA",   "HFE",  "Live",  "NCV",   "LozV",
    "ACA",  "DCA",  "LPF",  "AC/DC", "LPF", "AC+DC", "LPF", "AC+DC2", "INRUSH"};

// Mode, the range characters, the unit of the display in those ranges.
struct UnitRow {
  std::string_view mode;
  std::string_view ranges;
  std::string_view unit;
};
constexpr std::array<UnitRow, 31> kUnits = {{
    {"ACV", "0123", "V"},      {"DCV", "0123", "V"},     {"AC/DC", "0123", "V"},  {"LPF", "0123", "V"},
    {"LozV", "0123", "V"},     {"ACmV", "0", "mV"},      {"DCmV", "0", "mV"},      {"ACA", "1", "A"},
    {"DCA", "1", "A"},         {"AC+DC", "1", "A"},      {"AC+DC2", "1", "A"},     {"ACmA", "01", "mA"},
    {"DCmA", "01", "mA"},      {"ACuA", "01", "uA"},     {"DCuA", "01", "uA"},     {"%", "0", "%"},
    {"Hz", "01", "Hz"},        {"Hz", "234", "kHz"},     {"Hz", "567", "MHz"},     {"OHM", "0", "Ω"},
    {"OHM", "123", "kΩ"},      {"OHM", "456", "MΩ"},     {"CONT", "0", "Ω"},       {"CAP", "01", "nF"},
    {"CAP", "234", "uF"},      {"CAP", "567", "mF"},     {"DIDOE", "0", "V"},      {"deg C", "01", "deg C"},
    {"deg F", "01", "deg F"},  {"HFE", "0", "B"},        {"NCV", "0", "NCV"},
}};

// Unit prefixes and their powers of ten.
struct Prefix {
  char letter;
  int exponent;
};
constexpr std::array<Prefix, 5> kPrefixes = {{{'M', 6}, {'k', 3}, {'m', -3}, {'u', -6}, {'n', -9}}};

constexpr std::array<std::string_view, 8> kOverload = {"OL", ".OL", "O.L", "OL.", "-OL", "-.OL", "-O.L", "-OL."};
// The non-contact voltage bar; its level is the position in this table.
constexpr std::array<std::string_view, 6> kNcvBar = {"EF", "-", "--", "---", "----", "-----"};

constexpr std::size_t kRange = 1, kDisplay = 2, kDisplayChars = 7, kBarTens = 9, kBarUnits = 10;
constexpr std::size_t kFlags1 = 11, kFlags2 = 12, kFlags3 = 13;
constexpr int kBarTensWeight = 10;

bool bit(Byte b, int n) { return ((b >> n) & 1) != 0; }

template <std::size_t N>
int indexIn(const std::array<std::string_view, N>& table, std::string_view text) {
  const auto it = std::find(table.begin(), table.end(), text);
  return it == table.end() ? -1 : static_cast<int>(it - table.begin());
}

// An optional sign, then digits with at most one decimal point, at least one digit.
bool isNumber(std::string_view s) {
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) s.remove_prefix(1);
  int digits = 0, points = 0;
  for (char c : s) {
    if (std::isdigit(static_cast<unsigned char>(c)))
      ++digits;
    else if (c == '.')
      ++points;
    else
      return false;
  }
  return digits > 0 && points <= 1;
}

std::optional<std::string> unitOf(std::string_view mode, char range) {
  for (const UnitRow& row : kUnits)
    if (row.mode == mode && row.ranges.find(range) != std::string_view::npos) return std::string(row.unit);
  return std::nullopt;
}

[[noreturn]] void malformed(const std::string& why) {
  throw Error(Err::InputDataNotInRangeError, "Not a multimeter reading frame: " + why + ".");
}

}  // namespace

MeasurementRecord decodeMeasurement(ByteView b) {
  if (b.size() < kMeasurementBytes)
    malformed(std::to_string(b.size()) + " bytes, a frame has " + std::to_string(kMeasurementBytes));
  MeasurementRecord m;
  m.binary.assign(b.begin(), b.end());
  if (b[0] >= kModes.size()) malformed("mode byte " + std::to_string(b[0]) + " is beyond the mode table");
  m.mode = kModes[b[0]];
  m.range = std::string(1, static_cast<char>(b[kRange]));
  for (Byte c : b.subspan(kDisplay, kDisplayChars))
    if (c != ' ') m.display.push_back(static_cast<char>(c));

  m.overload = indexIn(kOverload, m.display) >= 0;
  const int level = indexIn(kNcvBar, m.display);
  m.ncv = level >= 0;
  if (m.overload) {
    m.reading = MeasurementRecord::Reading::Overload;
    m.negative = m.display.starts_with('-');
  } else if (m.ncv) {
    m.reading = MeasurementRecord::Reading::NcvLevel;
    m.number = std::to_string(level);
  } else if (isNumber(m.display)) {
    m.number = m.display;
  } else {
    malformed("the display '" + m.display + "' is neither a number, an overload nor an NCV bar");
  }

  m.display_unit = m.unit = unitOf(m.mode, m.range[0]);
  if (m.unit && !m.overload) {
    for (const Prefix& p : kPrefixes)
      if (m.unit->front() == p.letter) {
        m.exponent = p.exponent;
        m.unit = m.unit->substr(1);
        break;
      }
  }

  m.progres = b[kBarTens] * kBarTensWeight + b[kBarUnits];
  m.max = bit(b[kFlags1], 3);
  m.min = bit(b[kFlags1], 2);
  m.hold = bit(b[kFlags1], 1);
  m.rel = bit(b[kFlags1], 0);
  m.auto_range = bit(b[kFlags2], 2);
  m.battery = bit(b[kFlags2], 1);
  m.hvwarning = bit(b[kFlags2], 0);
  m.dc = bit(b[kFlags3], 3);
  m.peak_max = bit(b[kFlags3], 2);
  m.peak_min = bit(b[kFlags3], 1);
  m.bar_pol = bit(b[kFlags3], 0);
  return m;
}

}  // namespace zelvo
