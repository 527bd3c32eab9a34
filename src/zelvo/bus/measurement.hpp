// The reading frame of a handheld multimeter decoded into named fields: the measuring function, the
// range, the display text, the reading with its unit, the bar-graph position and the annunciator
// flags. A pure value: the application obtains the frame from the meter; nothing is sent.
//
// Frame (14 bytes): 0 mode (an index into the mode table), 1 range (an ASCII digit), 2..8 the
// display (7 ASCII characters), 9 and 10 the bar-graph position (byte 9 * 10 + byte 10), 11..13
// flags. The reading is kept as text here (the binding makes it an exact decimal): a number as the
// display spells it, an overload marker, or the level of the non-contact voltage bar.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "zelvo/core/bytes.hpp"

namespace zelvo {

// The command code of the meter's reading; no operation of the library sends it.
inline constexpr int GET_MEASUREMENT = 94;
inline constexpr std::size_t kMeasurementBytes = 14;

struct MeasurementRecord {
  enum class Reading { Number, Overload, NcvLevel };

  Bytes binary;
  std::string mode;
  std::string range;    // one character
  std::string display;  // spaces removed
  bool overload = false;
  bool ncv = false;
  Reading reading = Reading::Number;
  std::string number;   // Number: the display; NcvLevel: the bar level (0..5)
  bool negative = false;  // Overload: the display starts with '-'
  std::optional<std::string> display_unit;
  std::optional<std::string> unit;  // display_unit without its prefix when one applies
  int exponent = 0;                 // value = reading * 10^exponent
  int progres = 0;
  bool max = false, min = false, hold = false, rel = false;
  bool auto_range = false, battery = false, hvwarning = false;
  bool dc = false, peak_max = false, peak_min = false, bar_pol = false;
};

// InputDataNotInRangeError naming what is wrong for a frame shorter than 14 bytes, a mode byte
// beyond the mode table, or a display that is neither a number, an overload nor an NCV bar.
MeasurementRecord decodeMeasurement(ByteView frame);

}  // namespace zelvo
