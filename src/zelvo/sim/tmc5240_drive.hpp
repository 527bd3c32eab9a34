// The emulated stepper drive: the stepper chip's register file and ramp generator, its stop
// switches and encoder, and the drive firmware's procedures.
//
// Model:
// - Registers (tmc5240_map.def) keep their width and sign; GSTAT clears the bits written as 1 and
//   starts with its reset flag set; IFCNT counts writes. Every access answers the SPI status byte:
//   bit 0 reset flag, 1 driver error (GSTAT bits 0, 1), 3 standstill, 4 velocity reached, 5
//   position reached, 6 / 7 left / right stop switch active.
// - The ramp generator moves XACTUAL (steps; speeds in steps per second, rates in steps per
//   second squared): RAMPMODE 0 drives to XTARGET with VSTART, AMAX, VMAX, DMAX, VSTOP (turning
//   round first when it runs the other way); 1 / 2 run at VMAX forward / backward with AMAX;
//   3 holds the present speed. Writing XACTUAL while RAMPMODE is 0 moves the motor back to
//   XTARGET, as the chip does.
// - The motor's physical position is XACTUAL, or -XACTUAL with GCONF bit 4 (shaft). Switches sit
//   at physical positions: left at or below, right at or above a position, home over a range, Z
//   every period steps. SWMODE: bit 0 / 1 enable the left / right stop switch (stopping motion
//   backward / forward at once), bits 2 / 3 their active level (1 high), bit 4 swaps them. An
//   input with neither a switch nor a forced level never counts as active.
// - XENC follows the physical motion times ENC_CONST / 65536 (a signed 16.16 factor).
// - Procedures (process state 0 idle, 1 running, 2 finished, 3 failed): velocity move, position
//   move (mode 1: relative), scan move (back and forth until stopped), limit search (mode 0: the
//   left switch, else the right), home and Z search (direction 0 forward). A search runs at the
//   search speed onto its signal, backs off at the approach speed until the signal goes, comes
//   back at the approach speed onto it, moves the offset and, when asked, sets XACTUAL and XENC to
//   0. A stop switch that stops a procedure's motion fails it; stop decelerates (AMAX) and idles.
// - Digital I/O: DI port 1 shows the left, right and home switch levels in bits 0..2; DO port 2
//   pin 0 is the servo enable (low: on).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "zelvo/sim/mcx514_inputs.hpp"
#include "zelvo/sim/ramp.hpp"

namespace zelvo::sim {

enum class TmcInput : std::uint8_t { Left, Right, Home, Z };
inline constexpr std::size_t kTmcInputs = 4;

class TmcDrive {
 public:
  enum State : int { kIdle = 0, kRunning = 1, kFinished = 2, kFailed = 3 };

  TmcDrive();

  // --- registers -------------------------------------------------------------------------------
  std::optional<std::int64_t> read(double t, int address);
  // False for an address the chip does not have or cannot be written.
  bool write(double t, int address, std::int64_t value);
  std::uint8_t spiStatus(double t) const;
  std::int64_t reg(int address) const;

  // --- procedures ------------------------------------------------------------------------------
  void velocityMove(double t, std::int64_t speed, std::int64_t acceleration, std::int64_t deceleration, int dir);
  void positionMove(double t, std::int64_t position, std::int64_t speed, std::int64_t acceleration,
                    std::int64_t deceleration, int mode);
  void scanMove(double t, std::int64_t position_0, std::int64_t position_1, std::int64_t speed,
                std::int64_t acceleration);
  void findLimit(double t, int mode, std::int64_t search, std::int64_t approach, std::int64_t acceleration,
                 std::int64_t offset, bool reset);
  void findSignal(double t, TmcInput in, std::int64_t search, std::int64_t approach, std::int64_t acceleration,
                  int search_dir, int approach_dir, std::int64_t offset, bool reset);
  void stopProcess(double t);
  void factoryReset(double t);
  int processState() const { return state_; }

  // --- state at time t (call settle(t) first) --------------------------------------------------
  void settle(double t);
  std::int64_t position(double t) const;
  std::int64_t encoder(double t) const;
  double velocity(double t) const;
  bool moving() const { return motion_.has_value(); }
  // DI port 1: bit 0 left, 1 right, 2 home switch level.
  std::uint16_t switchLevels(double t) const;
  std::uint16_t outputs() const { return outputs_; }
  void setOutputs(std::uint16_t mask, std::uint16_t state) { outputs_ = static_cast<std::uint16_t>((outputs_ & ~mask) | (state & mask)); }

  // --- controls --------------------------------------------------------------------------------
  InputSignal& input(TmcInput in) { return inputs_[static_cast<std::size_t>(in)]; }
  void inputChanged(double t);
  void raiseFault(std::uint32_t gstat_bits);

 private:
  struct Motion {
    double t0 = 0;
    std::int64_t x0 = 0;
    int dir = 1;
    Ramp ramp;
    std::optional<std::int64_t> end;
    std::int64_t passed = 0;
    bool then_regenerate = false;  // a turn-round: the ramp generator decides again at its end
  };
  struct Watch {
    TmcInput input;
    bool actuated;  // the state the procedure waits for
  };
  enum class Kind : std::uint8_t { None, Velocity, Position, Scan, Search };
  struct Procedure {
    Kind kind = Kind::None;
    int step = 0;
    TmcInput input = TmcInput::Left;
    int dir = 1, approach_dir = 1;
    std::int64_t a = 0, b = 0, speed = 0, approach = 0, acceleration = 0, deceleration = 0, offset = 0;
    bool reset = false;
  };
  enum class What : std::uint8_t { End, Watched, StopSwitch };
  struct Event {
    double t;
    What what;
    std::int64_t pos = 0;
  };

  std::int64_t xAt(const Motion& m, double t) const;
  bool shaft() const;
  // Physical position <-> XACTUAL.
  std::int64_t physical(std::int64_t x) const { return shaft() ? -x : x; }
  bool actuated(TmcInput in, std::int64_t x) const;
  bool level(TmcInput in, std::int64_t x) const;
  // The stop switch that stops motion forward (right) or backward (left), after the swap.
  TmcInput stopSwitch(int dir) const;
  bool stopActive(int dir, std::int64_t x) const;
  std::optional<std::int64_t> edge(TmcInput in, std::int64_t from, int dir, bool to_actuated) const;
  void reanchor(double t);

  void regenerate(double t);
  void begin(double t, std::int64_t x, int dir, Ramp ramp, std::optional<std::int64_t> end, bool then_regenerate);
  void halt(double t, std::int64_t pos);
  std::optional<Event> nextEvent() const;
  void apply(const Event& e);

  void runStep(double t);
  void seek(double t, TmcInput in, bool to_actuated, int dir, std::int64_t speed);
  void goTo(double t, std::int64_t target, std::int64_t speed, std::int64_t acceleration, std::int64_t deceleration);
  void arrived(double t);
  void finishProcedure(int state);
  // Sets a register as the firmware does, without the ramp generator deciding again.
  void set(int address, std::int64_t value);

 public:
  // The registers Motion_getParameters reads, in their order.
  static const std::vector<int>& parameterRegisters();

 private:
  std::map<int, std::int64_t> regs_;
  std::optional<Motion> motion_;
  std::int64_t rest_ = 0;
  std::int64_t enc_anchor_ = 0, x_anchor_ = 0;
  std::array<InputSignal, kTmcInputs> inputs_{};
  std::optional<Watch> watch_;
  Procedure proc_;
  int state_ = kIdle;
  std::uint16_t outputs_ = 1;  // servo enable high: off
};

}  // namespace zelvo::sim
