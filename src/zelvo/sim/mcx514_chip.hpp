// One emulated motion chip (four axes) behind a motion port: the chip-wide registers, held drive
// starts, interpolated drives and the helical calculation, and the dispatch of one register
// request by the register map (mcx514_map.def).
//
// Model (besides the axes, mcx514_axis.hpp):
// - A request names one register, an axis byte (a mask: writes and commands act on every axis in
//   it; a read reads the lowest) and four data bytes. Writes and commands answer status 0 in the
//   last data byte, 54 for a code the chip does not take or a per-axis register without an axis;
//   reads answer the value (32-bit, or 16-bit in the last two bytes).
// - Hold (77h) keeps the drive commands of the held axes pending; release (78h, a mask in the axis
//   byte) starts them together. A stop of a held axis drops its pending drive.
// - Interpolation (60h..63h linear, 64h/65h circular, 69h/6Ah helical) moves the axes of IPM
//   bits 0..3 by their TP (relative) along the path at the lowest axis's SV/DV/AC/DC; circular and
//   helical paths turn around the CP offsets (IPM bit 4 makes the higher axis x); a helix adds
//   HLN full turns and moves axes 2/3 (IPM bits 2/3) by their TP per turn. With deceleration
//   disabled (6Eh, the reset state) a path ends at its drive speed. A stop of any of its axes
//   stops the path.
// - The helical calculation (6Bh/6Ch) takes the configured time (or never ends); meanwhile RR0 bit 0
//   is set; then HLV (3Bh) reads the helix's path length in pulses, which the helical drive uses
//   as its length when HLV is written.
// - RR0: bit n axis n busy (driving, searching or on a path), bits 4..7 its error, bit 8 a path.
// - A hardware reset (FEh) clears every register and drive; switches and encoder ratios stay.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <optional>

#include "zelvo/core/bytes.hpp"
#include "zelvo/sim/mcx514_axis.hpp"
#include "zelvo/sim/mcx514_path.hpp"

namespace zelvo::sim {

class McxChip {
 public:
  static constexpr Byte kMotionStatus = 54;
  using Data = std::array<Byte, 4>;

  McxChip() = default;

  // One register request at device time t; the four data bytes of the reply.
  Data request(double t, int code, Byte axis_byte, const Data& data);

  void settle(double t);
  McxAxis& axis(int i) { return axes_[static_cast<std::size_t>(i)]; }
  const McxAxis& axis(int i) const { return axes_[static_cast<std::size_t>(i)]; }
  // What a read of `code` returns now (a written register: its stored value).
  std::int64_t peek(double t, int code, int axis);
  std::uint16_t rr0(double t) const;
  int held() const { return held_; }
  // Held axes with a drive waiting for the release.
  int pendingHolds() const;
  bool pathRunning() const { return path_ != nullptr; }
  // Seconds a helical calculation takes; none: it never ends.
  void setCalculationTime(std::optional<double> seconds) { calc_seconds_ = seconds; }
  std::optional<double> calculationTime() const { return calc_seconds_; }

 private:
  std::int64_t chipReg(int code) const;
  std::int64_t read(double t, int code, int axis, int page);
  void axisCommand(double t, int code, int axis);
  Byte chipCommand(double t, int code, Byte axis_byte);
  Byte startPath(double t, int code);
  void endPath(double t);
  void stopPath(double t, bool at_once);
  void startCalculation(double t, bool clockwise);
  void reset();

  std::array<McxAxis, kMcxAxes> axes_;
  std::map<int, std::int64_t> regs_;  // chip-wide registers
  std::shared_ptr<PathDrive> path_;
  int held_ = 0;
  std::array<int, kMcxAxes> pending_{};
  bool path_deceleration_ = false;
  std::optional<double> calc_seconds_ = 0.05;
  double calc_end_ = -std::numeric_limits<double>::infinity();
  std::int64_t calc_result_ = 0, calc_done_ = 0;
};

}  // namespace zelvo::sim
