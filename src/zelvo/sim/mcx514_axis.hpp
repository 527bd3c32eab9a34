// One axis of the emulated motion chip: its registers, its drive and what the drive runs into.
//
// Model:
// - Registers are stored as written (mcx514_map.def gives their forms). WR2 holds the input
//   settings (bit 2 home level, 3 home stops drives, 4 Z level, 5 Z stops drives, 6/7 in-position
//   level/enable, 8/9 alarm level/enable, 10 limit level, 11 limits enabled, 12 limit stop at
//   once, 13 software limits enabled, 15 software limit stop at once); a level bit of 1 means
//   "active high". WR3 holds the ramp form (bit 1 separate deceleration) and the pulse output
//   (bits 3 and 4 set: one pulse, direction inverted by bit 6; clear: two pulses, inverted by bit
//   7); bit 11 inverts the encoder.
// - A drive runs a trapezoid from SV to DV with AC (and DC when WR3 bit 1 is set, else AC) and,
//   when it has an end, down to SV at its last pulse. The logical position LP counts its pulses;
//   the real position RP follows LP through the encoder model (ratio, motion and encoder
//   inversion). Everything is computed from the device time when asked.
// - Relative (TP pulses, signed), counter-relative (-TP), absolute (to TP) and continuous drives;
//   a decelerating stop slows to SV and ends, an instant stop ends at once. A DV write, a speed
//   step (IV) or a TP write while a drive runs changes it from where it is.
// - Limits: an enabled hardware limit stops a drive running into it (at once with WR2 bit 12,
//   else decelerating) and sets the error bits; a drive does not start into an active limit.
//   Software limits (SP, SM) work the same with WR2 bits 13 and 15. An active, enabled alarm stops
//   the axis at once.
// - Home search (H1M, H2M): step 1 seeks the home signal (or, with H1M bit 6, the limit) at DV in
//   the direction of bit 1 and decelerates; step 2 seeks the home signal's edge at HV in the
//   direction of bit 3 (first leaving the signal when it is already active); step 3 seeks the Z
//   signal at HV in the direction of bit 5; step 4 (bit 15) drives TP pulses at DV; at the end H2M
//   bit 1 clears LP and bit 2 RP. Steps not enabled are skipped, a step whose signal is already
//   active is done, a seek never runs into an active limit (it seeks the other way), and a limit
//   met on the way ends the search with an error.
// - SYNC actions: SYNC0 with word 369 counts a break point (and SP2 split pulses) whenever LP
//   reaches MR0; SYNC1 with word 214 / 230 starts a continuous drive forward / backward when the
//   next decelerating stop ends (once); SYNC3 with words 90/91 (106/107) latches LP (RP) into MR3
//   when Z becomes active (inactive).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>

#include "zelvo/sim/mcx514_inputs.hpp"
#include "zelvo/sim/ramp.hpp"

namespace zelvo::sim {

class PathDrive;

// Counts of what the SYNC actions did.
struct McxSyncCounts {
  std::uint64_t break_points = 0;
  std::uint64_t split_pulses = 0;
  std::uint64_t captures = 0;
  std::uint64_t reversals = 0;
};

class McxAxis {
 public:
  // RR2 error bits.
  static constexpr std::uint16_t kSoftPlus = 1 << 0, kSoftMinus = 1 << 1, kLimitPlus = 1 << 2,
                                 kLimitMinus = 1 << 3, kAlarm = 1 << 4, kHomeError = 1 << 6;

  McxAxis();

  // --- registers -------------------------------------------------------------------------------
  std::int64_t reg(int code) const;
  // A register write at time t (data, mode, WR1..WR3, one-bit settings through setBit).
  void write(double t, int code, std::int64_t value);
  void setBit(double t, int wr_code, int bit, bool on);

  // --- state at time t (call settle(t) first) --------------------------------------------------
  std::int64_t logical(double t) const;
  std::int64_t real(double t) const;
  double speed(double t) const;
  double acceleration(double t) const;
  bool driving() const;
  bool homing() const { return homing_.has_value(); }
  bool failed() const { return rr2_ != 0; }
  std::uint16_t rr1(double t) const;
  std::uint16_t rr2() const { return rr2_; }
  // Input levels (page 0): bit 1 home, 2 Z, 4 in-position, 5 alarm, 7 forward, 8 reverse limit.
  std::uint16_t rr3(double t) const;
  // An input's electrical level, and whether the chip counts it active (its WR2 level bit). An
  // input with neither a switch nor a forced level is open: it shows its inactive level.
  bool level(McxInput in, std::int64_t lp) const;
  bool active(McxInput in, std::int64_t lp) const;

  // --- commands --------------------------------------------------------------------------------
  // A drive command (relative, counter-relative, continuous +/-, absolute); ignored while driving.
  void startDrive(double t, int command);
  void decelerateStop(double t);
  void instantStop(double t);
  void changeSpeed(double t, int command);  // IV up or down
  void startHoming(double t);
  void clearErrors() { rr2_ = 0; }
  void sync(double t, int units, bool enable);

  // --- interpolation: the chip's path drive moves this axis ------------------------------------
  void followPath(std::shared_ptr<const PathDrive> path, int index);
  void leavePath(double t, std::int64_t rest);
  bool onPath() const { return path_ != nullptr; }

  // Handles everything that happened up to `now`, in time order.
  void settle(double now);

  // --- controls --------------------------------------------------------------------------------
  InputSignal& input(McxInput in) { return inputs_[static_cast<std::size_t>(in)]; }
  // Called after an input changed at time t: a forced level acts at once.
  void inputChanged(double t);
  void setEncoderRatio(double t, double ratio);
  double encoderRatio() const { return ratio_; }
  std::uint8_t gpio() const { return gpio_; }
  const McxSyncCounts& syncCounts() const { return counts_; }

 private:
  enum class Purpose : std::uint8_t { Move, Stop, Seek, HomeStop, HomeOffset };
  struct Drive {
    double t0 = 0;
    std::int64_t x0 = 0;
    int dir = 1;
    Ramp ramp;
    std::optional<std::int64_t> end;  // where a run with an end stops, exactly
    std::int64_t passed = 0;          // pulses whose events are handled
    Purpose purpose = Purpose::Move;
    int command = 0;                  // the drive command that started a move
    std::int64_t origin = 0;          // where a relative move started
    std::optional<std::pair<McxInput, bool>> seek;  // a search: the signal and the state it waits for
  };
  struct Homing {
    int step = 1;
    bool leaving = false;  // step 2 or 3: first moving off a signal that is already active
  };
  enum class What : std::uint8_t { End, Limit, Soft, StopSignal, Seek, BreakPoint, Capture };
  struct Event {
    double t;
    What what;
    std::int64_t pos = 0;
    McxInput input = McxInput::Home;
    int dir = 0;
  };

  std::uint16_t wr2() const;
  std::uint16_t wr3() const;
  Ramp::Limits limits() const;
  double decelerationRate() const;
  std::int64_t lpOf(const Drive& d, double t) const;
  double encoderFactor() const;
  void reanchor(double t);
  bool levelBit(McxInput in) const;

  std::optional<Event> nextEvent() const;
  // The first position beyond `from` (direction dir) where a signal turns `to`.
  std::optional<std::int64_t> edge(McxInput in, std::int64_t from, int dir, bool to) const;
  void apply(const Event& e);
  // Starts a drive; `pulses` fixes where a run ends (else the ramp's whole pulses).
  void begin(double t, std::int64_t x, int dir, Ramp ramp, Purpose purpose, std::optional<std::int64_t> pulses = {});
  void stopAt(double t, std::int64_t pos, bool at_once);
  void finish(double t, std::int64_t pos);
  void driveEnded(double t, std::int64_t pos, Purpose purpose);
  bool blocked(int dir, std::int64_t lp);
  void retarget(double t);

  void homeStep(double t);
  void homeSeek(double t, McxInput in, bool to, int dir, double speed);
  void homeDone(double t);
  void homeFailed(double t, std::int64_t pos, std::uint16_t bits);

  std::map<int, std::int64_t> regs_;
  std::int64_t rest_ = 0;  // LP when no drive runs
  std::optional<Drive> drive_;
  std::optional<Homing> homing_;
  std::shared_ptr<const PathDrive> path_;
  int path_index_ = 0;
  double ratio_ = 1;
  std::int64_t lp_anchor_ = 0, rp_anchor_ = 0;
  std::uint16_t rr2_ = 0;
  std::uint8_t sync_on_ = 0;
  bool reverse_after_stop_ = false;  // SYNC1 armed by a decelerating stop of a running drive
  int reverse_dir_ = 1;
  std::uint8_t gpio_ = 0;
  InputSignals inputs_{};
  McxSyncCounts counts_;
};

}  // namespace zelvo::sim
