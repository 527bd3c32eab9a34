// The input signals of an emulated motion axis: home, the two hardware limits, the encoder's Z
// index, servo alarm and in-position. Each has an electrical level that is either set by a test
// (a forced level) or follows a switch placed along the axis (actuated over some logical
// positions, showing its wired level while actuated). Whether a level counts as active is the
// chip's business (its WR2 level bits).
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace zelvo::sim {

enum class McxInput : std::uint8_t { Home, LimitForward, LimitReverse, Z, Alarm, Inposition };
inline constexpr std::size_t kMcxInputs = 6;

// Where a switch is actuated, by logical position.
struct PlacedSwitch {
  enum class Shape : std::uint8_t { None, Region, AtOrAbove, AtOrBelow, Periodic };
  Shape shape = Shape::None;
  std::int64_t a = 0;  // Region: first position; AtOrAbove / AtOrBelow: the edge; Periodic: a pulse position
  std::int64_t b = 0;  // Region: last position; Periodic: the distance between pulses (>= 1)

  bool actuatedAt(std::int64_t p) const;
  // The first position strictly beyond `from` in direction `dir` (+1 / -1) at which actuation
  // becomes `to`; none when it never does.
  std::optional<std::int64_t> nextEdge(std::int64_t from, int dir, bool to) const;
};

struct InputSignal {
  PlacedSwitch placed;
  bool wired_high = true;      // the level while actuated (the other one otherwise)
  std::optional<bool> forced;  // a level set by a test: the switch does not matter then

  bool levelAt(std::int64_t p) const {
    if (forced) return *forced;
    return placed.actuatedAt(p) == wired_high;
  }
};

using InputSignals = std::array<InputSignal, kMcxInputs>;

}  // namespace zelvo::sim
