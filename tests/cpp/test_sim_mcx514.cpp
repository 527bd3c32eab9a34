// The emulated motion chip on its own, at device times the test chooses: the register file with
// widths and signs, ramps, drives and stops, limits, the home search, holds, interpolation, the
// helical calculation and the SYNC actions. Also: the emulator's register map agrees with the
// library's table by name and code.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <string>

#include "zelvo/motion/mcx514_registers.hpp"
#include "zelvo/sim/mcx514_chip.hpp"
#include "zelvo/sim/mcx514_map.hpp"
#include "zelvo/sim/ramp.hpp"

namespace {

using zelvo::sim::McxChip;
using zelvo::sim::McxInput;
using zelvo::sim::Ramp;
namespace reg = zelvo::sim::mcx;

TEST(SimMcx514Map, AgreesWithTheLibrarysRegisterNames) {
  std::map<std::string, int> library;
  for (const auto& r : zelvo::mcx514::kRegisterNames) library[r.name] = r.code;
  std::map<std::string, int> emulator;
  for (const auto& r : reg::kRegisters) emulator[r.name] = r.code;
  EXPECT_EQ(library, emulator);
}

// --- ramps ---------------------------------------------------------------------------------------

TEST(SimRamp, TrapezoidCoversItsDistanceAndEndsAtTheEndSpeed) {
  const Ramp r = Ramp::run({.start = 100, .drive = 1000, .end = 100, .acceleration = 1000, .deceleration = 500}, 5000);
  EXPECT_NEAR(r.length(), 5000, 1e-6);
  // 100 -> 1000 at 1000/s2 takes 0.9 s over 495 pulses; down to 100 at 500/s2: 1.8 s, 990 pulses.
  EXPECT_NEAR(r.duration(), 0.9 + (5000 - 495 - 990) / 1000.0 + 1.8, 1e-9);
  EXPECT_NEAR(r.speedAt(0.45), 550, 1e-9);
  EXPECT_NEAR(*r.timeAt(495), 0.9, 1e-9);
  EXPECT_NEAR(r.speedAt(r.duration() - 1e-9), 100, 1e-3);
}

TEST(SimRamp, ShortRunPeaksBelowTheDriveSpeed) {
  const Ramp r = Ramp::run({.start = 0, .drive = 1000, .end = 0, .acceleration = 100, .deceleration = 100}, 100);
  EXPECT_NEAR(r.length(), 100, 1e-6);
  EXPECT_NEAR(r.speedAt(r.duration() / 2), 100, 1e-6);  // v^2 = 2 a (d / 2)
}

TEST(SimRamp, StoppingFromSpeedAndEndless) {
  const Ramp stop = Ramp::stopping(1000, 0, 500);
  EXPECT_NEAR(stop.length(), 1000, 1e-9);
  EXPECT_NEAR(stop.duration(), 2, 1e-12);
  const Ramp endless = Ramp::endless({.start = 0, .drive = 10, .acceleration = 0});
  EXPECT_TRUE(std::isinf(endless.duration()));
  EXPECT_NEAR(endless.distanceAt(3), 30, 1e-12);  // a rate of 0 changes speed at once
  EXPECT_FALSE(Ramp::endless({.start = 0, .drive = 0}).timeAt(1).has_value());
}

// --- the chip -----------------------------------------------------------------------------------

McxChip::Data bytes32(std::int64_t v) {
  const auto u = static_cast<std::uint32_t>(v);
  return {static_cast<std::uint8_t>(u >> 24), static_cast<std::uint8_t>(u >> 16), static_cast<std::uint8_t>(u >> 8),
          static_cast<std::uint8_t>(u)};
}

struct Chip {
  McxChip chip;
  double t = 0;
  int put(int code, int axis, std::int64_t v) { return chip.request(t, code, static_cast<std::uint8_t>(1 << axis), bytes32(v))[3]; }
  int chipPut(int code, std::int64_t v = 0) { return chip.request(t, code, 0, bytes32(v))[3]; }
  int cmd(int code, int axis) { return put(code, axis, 0); }
  std::int64_t get(int code, int axis, int page = 0) {
    const auto d = chip.request(t, code, static_cast<std::uint8_t>(1 << axis), {0, 0, 0, static_cast<std::uint8_t>(page)});
    const std::uint32_t u = (std::uint32_t{d[0]} << 24) | (std::uint32_t{d[1]} << 16) | (std::uint32_t{d[2]} << 8) | d[3];
    const auto* r = reg::findRegister(code);
    if (r->form == reg::Form::I32) return static_cast<std::int32_t>(u);
    return u;
  }
  std::int64_t lp(int axis) { return get(reg::MOTION_30_LP, axis); }
  bool busy(int axis) { return (get(reg::MOTION_E8_RR0, 0) >> axis) & 1; }
  // A ramp with speeds and rates that keep numbers small: SV 100, DV 1000, AC = DC 10000.
  void ramp(int axis, std::int64_t dv = 1000) {
    put(reg::MOTION_04_SV, axis, 100);
    put(reg::MOTION_05_DV, axis, dv);
    put(reg::MOTION_02_AC, axis, 10000);
    put(reg::MOTION_03_DC, axis, 10000);
  }
  void at(double when) { t = when; }
};

TEST(SimMcx514Chip, RegistersReadBackWithTheirWidthAndSign) {
  Chip c;
  c.put(reg::MOTION_06_TP, 1, -5);
  c.put(reg::MOTION_10_MR0, 1, -2);
  c.put(reg::MOTION_05_DV, 1, 0xFFFFFFF0);
  c.put(reg::MOTION_E2_WR2, 1, 0x12345);  // a 16-bit register keeps 16 bits
  c.put(reg::MOTION_17_SP1, 1, 0x00030004);
  EXPECT_EQ(c.get(reg::MOTION_46_TP, 1), -5);
  EXPECT_EQ(c.get(reg::MOTION_34_MR0, 1), -2);
  EXPECT_EQ(c.get(reg::MOTION_45_DV, 1), 0xFFFFFFF0);
  EXPECT_EQ(c.get(reg::MOTION_3E_WR2, 1), 0x2345);
  EXPECT_EQ(c.get(reg::MOTION_47_SP1, 1), 0x00030004);
  EXPECT_EQ(c.get(reg::MOTION_3E_WR2, 0), 0);  // other axes untouched
  // One-bit settings land in WR2 / WR3.
  c.put(reg::MOTION_CB_HLME, 2, 1);
  c.put(reg::MOTION_DB_PIINV, 2, 1);
  EXPECT_EQ(c.get(reg::MOTION_3E_WR2, 2), 1 << 11);
  EXPECT_EQ(c.get(reg::MOTION_3F_WR3, 2), 1 << 11);
  // A mask of several axes writes each; an unknown code and a per-axis write without axis fail.
  EXPECT_EQ(c.chip.request(0, reg::MOTION_05_DV, 0b1010, bytes32(77))[3], 0);
  EXPECT_EQ(c.get(reg::MOTION_45_DV, 3), 77);
  EXPECT_EQ(c.chipPut(0x1D), McxChip::kMotionStatus);
  EXPECT_EQ(c.chipPut(reg::MOTION_05_DV, 5), McxChip::kMotionStatus);
}

TEST(SimMcx514Chip, RelativeMoveFollowsItsRampAndTheEncoder) {
  Chip c;
  c.ramp(0);
  c.chip.axis(0).setEncoderRatio(0, 4);
  c.put(reg::MOTION_06_TP, 0, 10000);
  c.cmd(reg::MOTION_50_DRVRL, 0);
  EXPECT_TRUE(c.busy(0));
  c.at(0.05);  // still accelerating: 100 -> 1000 takes 0.09 s
  EXPECT_EQ(c.get(reg::MOTION_32_CV, 0), 600);
  EXPECT_EQ(c.lp(0), 17);  // 100 t + 5000 t^2
  c.at(20);
  EXPECT_FALSE(c.busy(0));
  EXPECT_EQ(c.lp(0), 10000);
  EXPECT_EQ(c.get(reg::MOTION_31_RP, 0), 40000);
  // Absolute back to -250, then the counters are set without moving.
  c.put(reg::MOTION_06_TP, 0, -250);
  c.cmd(reg::MOTION_54_DRVAB, 0);
  c.at(40);
  EXPECT_EQ(c.lp(0), -250);
  c.put(reg::MOTION_09_LP, 0, 7);
  EXPECT_EQ(c.get(reg::MOTION_31_RP, 0), 4 * (-250));  // RP keeps its value when LP is set
}

TEST(SimMcx514Chip, StopsSpeedChangesAndNewTargets) {
  Chip c;
  c.ramp(1);
  c.cmd(reg::MOTION_52_DRVVP, 1);
  c.at(1);
  EXPECT_NEAR(static_cast<double>(c.lp(1)), 1000 - 40.5, 1);  // ramp 0.09 s (49.5 pulses), then 1000/s
  c.put(reg::MOTION_05_DV, 1, 500);  // slower, from where it is
  c.at(2);
  EXPECT_EQ(c.get(reg::MOTION_32_CV, 1), 500);
  c.cmd(reg::MOTION_56_DRVSBRK, 1);  // 500 -> 100 at 10000/s2: 0.04 s
  c.at(2.02);
  EXPECT_TRUE(c.busy(1));
  c.at(2.05);
  EXPECT_FALSE(c.busy(1));
  // A TP write during a relative move moves its end; an instant stop ends at once.
  c.put(reg::MOTION_06_TP, 1, 100000);
  const std::int64_t from = c.lp(1);
  c.cmd(reg::MOTION_50_DRVRL, 1);
  c.at(3);
  c.put(reg::MOTION_06_TP, 1, 2000);
  c.at(10);
  EXPECT_EQ(c.lp(1), from + 2000);
  c.cmd(reg::MOTION_52_DRVVP, 1);
  c.at(11);
  c.cmd(reg::MOTION_57_DRVFBRK, 1);
  const std::int64_t stopped = c.lp(1);
  c.at(12);
  EXPECT_EQ(c.lp(1), stopped);
}

TEST(SimMcx514Chip, HardwareAndSoftwareLimitsStopTheDrive) {
  Chip c;
  c.ramp(0);
  auto& limit = c.chip.axis(0).input(McxInput::LimitForward);
  limit.placed = {zelvo::sim::PlacedSwitch::Shape::AtOrAbove, 300, 0};
  c.put(reg::MOTION_CA_HLML, 0, 1);  // active high
  c.put(reg::MOTION_CB_HLME, 0, 1);
  c.put(reg::MOTION_CC_HLMM, 0, 1);  // at once
  c.cmd(reg::MOTION_52_DRVVP, 0);
  c.at(5);
  EXPECT_EQ(c.lp(0), 300);
  EXPECT_FALSE(c.busy(0));
  EXPECT_EQ(c.get(reg::MOTION_EA_RR2, 0), 1 << 2);
  EXPECT_EQ((c.get(reg::MOTION_E8_RR0, 0) >> 4) & 1, 1);
  EXPECT_EQ((c.get(reg::MOTION_EB_RR3, 0) >> 7) & 1, 1);  // the forward limit's level
  c.cmd(reg::MOTION_52_DRVVP, 0);                          // does not start into the active limit
  EXPECT_FALSE(c.busy(0));
  c.cmd(reg::MOTION_79_R2CLR, 0);
  EXPECT_EQ(c.get(reg::MOTION_EA_RR2, 0), 0);
  // Software limit below, decelerating stop: the axis stops past SM.
  c.put(reg::MOTION_0C_SM, 0, 100);
  c.put(reg::MOTION_CD_SLME, 0, 1);
  c.cmd(reg::MOTION_53_DRVVM, 0);
  c.at(10);
  EXPECT_LE(c.lp(0), 100);
  EXPECT_GT(c.lp(0), 40);
  EXPECT_EQ(c.get(reg::MOTION_EA_RR2, 0), 1 << 1);
}

TEST(SimMcx514Chip, HomeSearchEndsAtTheOffsetWithCountersReset) {
  for (const bool reset : {false, true}) {
    Chip c;
    c.ramp(2, 2000);
    auto& a = c.chip.axis(2);
    a.input(McxInput::Home).placed = {zelvo::sim::PlacedSwitch::Shape::Region, -1200, -1000};
    a.input(McxInput::Z).placed = {zelvo::sim::PlacedSwitch::Shape::Periodic, 0, 400};
    c.put(reg::MOTION_E2_WR2, 2, (1 << 2) | (1 << 4));  // home and Z active high
    c.put(reg::MOTION_14_HV, 2, 200);
    c.put(reg::MOTION_06_TP, 2, 500);
    // Step 1 backward onto home, step 2 forward to its edge, step 3 forward to Z, step 4 the offset.
    c.put(reg::MOTION_23_H1M, 2, (1 << 0) | (1 << 1) | (1 << 2) | (1 << 4) | (1 << 15));
    c.put(reg::MOTION_24_H2M, 2, reset ? 0b110 : 0);
    c.put(reg::MOTION_09_LP, 2, 3000);
    c.put(reg::MOTION_0A_RP, 2, 3000);
    c.cmd(reg::MOTION_5A_HMSRC, 2);
    EXPECT_TRUE(c.busy(2));
    c.at(30);
    EXPECT_FALSE(c.busy(2));
    EXPECT_EQ(c.get(reg::MOTION_EA_RR2, 2), 0);
    // The home edge at -1200 is a Z pulse too; the offset takes the axis 500 further.
    EXPECT_EQ(c.lp(2), reset ? 0 : -700);
    EXPECT_EQ(c.get(reg::MOTION_31_RP, 2), reset ? 0 : -700);
  }
}

TEST(SimMcx514Chip, HomeSearchMeetingALimitFails) {
  Chip c;
  c.ramp(0);
  auto& a = c.chip.axis(0);
  a.input(McxInput::LimitReverse).placed = {zelvo::sim::PlacedSwitch::Shape::AtOrBelow, -50, 0};
  c.put(reg::MOTION_E2_WR2, 0, 1 << 10);
  c.put(reg::MOTION_23_H1M, 0, (1 << 0) | (1 << 1));  // seek home backward: there is none
  c.cmd(reg::MOTION_5A_HMSRC, 0);
  c.at(5);
  EXPECT_FALSE(c.busy(0));
  EXPECT_EQ(c.lp(0), -50);
  EXPECT_EQ(c.get(reg::MOTION_EA_RR2, 0), (1 << 6) | (1 << 3));
}

TEST(SimMcx514Chip, HeldDrivesStartTogetherAndStoppedOnesStayStopped) {
  Chip c;
  for (int axis : {0, 2, 3}) {
    c.ramp(axis);
    c.put(reg::MOTION_06_TP, axis, 1000);
    c.cmd(reg::MOTION_77_DHOLD, axis);
    c.cmd(reg::MOTION_50_DRVRL, axis);
  }
  EXPECT_EQ(c.chip.pendingHolds(), 0b1101);
  EXPECT_FALSE(c.busy(0));
  c.cmd(reg::MOTION_57_DRVFBRK, 3);  // drops axis 3's pending drive
  c.at(1);
  c.chip.request(c.t, reg::MOTION_78_DFREE, 0b1101, {0, 0, 0, 0});
  EXPECT_EQ(c.chip.pendingHolds(), 0);
  EXPECT_TRUE(c.busy(0));
  EXPECT_TRUE(c.busy(2));
  EXPECT_FALSE(c.busy(3));
  c.at(10);
  EXPECT_EQ(c.lp(0), 1000);
  EXPECT_EQ(c.lp(2), 1000);
  EXPECT_EQ(c.lp(3), 0);
}

TEST(SimMcx514Chip, InterpolationsReachTheirEndPoints) {
  Chip c;
  c.ramp(0);
  c.put(reg::MOTION_06_TP, 0, 300);
  c.put(reg::MOTION_06_TP, 1, -400);
  c.chipPut(reg::MOTION_2A_IPM, 0b11 | (1 << 6));
  c.chipPut(reg::MOTION_6D_DECEN);
  c.chipPut(reg::MOTION_61_LHK2);
  c.at(0.3);  // halfway along the 500-pulse line, both axes in proportion
  EXPECT_NEAR(static_cast<double>(c.lp(0)) / static_cast<double>(c.lp(1)), -0.75, 0.02);
  EXPECT_EQ(c.get(reg::MOTION_E8_RR0, 0) & 0x103, 0x103);
  c.at(5);
  EXPECT_EQ(c.lp(0), 300);
  EXPECT_EQ(c.lp(1), -400);
  // A quarter circle clockwise around (0, -500): from (300, -400) to (800, -900).
  c.put(reg::MOTION_08_CP, 0, 0);
  c.put(reg::MOTION_08_CP, 1, -500);
  c.put(reg::MOTION_06_TP, 0, 500);
  c.put(reg::MOTION_06_TP, 1, -500);
  c.chipPut(reg::MOTION_64_CHKCW);
  c.at(10);
  EXPECT_EQ(c.lp(0), 800);
  EXPECT_EQ(c.lp(1), -900);
}

TEST(SimMcx514Chip, HelicalCalculationTakesItsTimeAndTheHelixItsTurns) {
  Chip c;
  c.chip.setCalculationTime(0.5);
  c.ramp(0, 100000);
  c.put(reg::MOTION_08_CP, 0, 1000);  // a full circle of radius 1000 around (+1000, 0)
  c.put(reg::MOTION_08_CP, 1, 0);
  c.put(reg::MOTION_06_TP, 2, 250);  // axis 2 climbs 250 per turn
  c.chipPut(reg::MOTION_1A_HLN, 3);
  c.chipPut(reg::MOTION_2A_IPM, 0b111 | (1 << 6) | (1 << 8));
  c.chipPut(reg::MOTION_6B_HLPCW);
  EXPECT_EQ(c.get(reg::MOTION_E8_RR0, 0) & 1, 1);
  c.at(0.6);
  EXPECT_EQ(c.get(reg::MOTION_E8_RR0, 0) & 1, 0);
  const std::int64_t hlv = c.get(reg::MOTION_3B_HLV, 0);
  EXPECT_EQ(hlv, std::llround(3 * 2 * M_PI * 1000));
  c.chipPut(reg::MOTION_1B_HLV, hlv);
  c.chipPut(reg::MOTION_69_HLCW);
  c.at(2);
  EXPECT_TRUE(c.busy(2));
  c.at(10);
  EXPECT_EQ(c.lp(0), 0);
  EXPECT_EQ(c.lp(1), 0);
  EXPECT_EQ(c.lp(2), 750);
  // A calculation that never ends keeps RR0 bit 0 set.
  c.chip.setCalculationTime(std::nullopt);
  c.chipPut(reg::MOTION_6C_HLPCCW);
  c.at(1e6);
  EXPECT_EQ(c.get(reg::MOTION_E8_RR0, 0) & 1, 1);
}

TEST(SimMcx514Chip, SyncActionsReverseCaptureAndCountBreakPoints) {
  Chip c;
  c.ramp(0);
  auto& a = c.chip.axis(0);
  a.input(McxInput::Z).placed = {zelvo::sim::PlacedSwitch::Shape::Periodic, 5, 100};
  c.put(reg::MOTION_E2_WR2, 0, 1 << 4);
  c.put(reg::MOTION_29_S3M, 0, 90);  // capture LP when Z turns active
  c.put(reg::MOTION_26_S0M, 0, 369);
  c.put(reg::MOTION_10_MR0, 0, 250);
  c.put(reg::MOTION_18_SP2, 0, 3);
  c.cmd(reg::MOTION_89_SYNC03EN, 0);
  c.cmd(reg::MOTION_52_DRVVP, 0);
  c.at(0.6);
  EXPECT_EQ(c.get(reg::MOTION_37_MR3, 0), 505);
  EXPECT_EQ(a.syncCounts().break_points, 1u);
  EXPECT_EQ(a.syncCounts().split_pulses, 3u);
  // Reversal: SYNC1 with 230 turns the next decelerating stop into a backward drive.
  c.put(reg::MOTION_27_S1M, 0, 230);
  c.cmd(reg::MOTION_82_SYNC1EN, 0);
  c.cmd(reg::MOTION_56_DRVSBRK, 0);
  c.at(1);
  EXPECT_TRUE(c.busy(0));
  const std::int64_t before = c.lp(0);
  c.at(2);
  EXPECT_LT(c.lp(0), before);
  EXPECT_EQ(a.syncCounts().reversals, 1u);
  c.cmd(reg::MOTION_56_DRVSBRK, 0);  // once: this stop just stops
  c.at(3);
  EXPECT_FALSE(c.busy(0));
}

}  // namespace
