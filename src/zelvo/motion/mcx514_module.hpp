// The four-axis motion module: configures each axis of the motion chip (pulse output, directions,
// limits, home, alarm, in-position, encoder), keeps the per-axis move parameters, starts single,
// multi-axis and interpolated moves, runs the chip's home search, sets up break-point output and
// position capture, reads positions and status, and switches servo drivers. Every step is one
// register operation (mcx514_driver.hpp).
//
// Rules every operation follows:
//  - Public operations (names without a leading underscore) translate the port on models whose
//    callers name slots (the wire port is slot - 1), then check port, axis and every mode and
//    enable argument, and the range of every value that ends in a register field, before sending
//    anything. Internal operations take wire ports and check port and axis.
//  - Multi-step operations run every step and report the first non-zero step status (or 0).
//  - Each step of an operation has the call's whole time-out.
//  - A read-modify-write of a register (WR2, WR3, P2M, MRM, the servo-on position write-back) holds
//    the port's lock, so concurrent configuration of one axis keeps every change.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "zelvo/catalogue/catalogue.hpp"
#include "zelvo/core/call.hpp"
#include "zelvo/motion/mcx514_driver.hpp"
#include "zelvo/motion/motion_ini.hpp"
#include "zelvo/motion/motion_records.hpp"
#include "zelvo/motion/port_locks.hpp"
#include "zelvo/motion/step_status.hpp"

namespace zelvo {

struct MCX514Records {
  std::array<MotionAxis, mcx514::kAxes> axes;
  MotionLinearInterpolation linear_interpo;
  MotionCircularInterpolation circular_interpo;
  MotionHelicalInterpolation helical_interpo;
};

class MCX514Module {
 public:
  MCX514Module(Device& dev, const MotionData& data);

  const PairMap& motionDict() const { return data_.motion_dict; }
  Guarded<MCX514Records>& records() { return records_; }
  // The configuration file opened last (none before Motion_openCfgFile) and the document last
  // saved to or loaded from it.
  std::optional<std::string> cfgPath() const;
  IniDocument cfgDocument() const;
  // The record index of an axis: 0, 1, 2, and 3 for any other value.
  static std::size_t axisHandle(std::int64_t axis);

  // --- checks ----------------------------------------------------------------------------------
  // With mode false only the type is checked (the binding has done that).
  static bool checkAxis(std::int64_t axis, bool mode);
  bool checkMotionPort(std::int64_t port) const;

  // --- configuration ---------------------------------------------------------------------------
  Op<int> open(Call& call, int port);
  Op<int> close(Call& call, int port);
  Op<int> cfgAxis(Call& call, int port, int axis, int stepper_output, int axis_dir, int encoder_dir,
                  int servo_on_polarity);
  Op<int> cfgLimit(Call& call, int port, int axis, int en_forward, int en_reverse, int limit_polarity);
  Op<int> cfgHome(Call& call, int port, int axis, int en_home, int home_polarity);
  Op<int> cfgInposi(Call& call, int port, int axis, int en_inposi, int inposi_polarity);
  Op<int> cfgAlarm(Call& call, int port, int axis, int en_alarm, int alarm_polarity);
  Op<int> cfgEncoder(Call& call, int port, int axis, int encoder_z_polarity);
  Op<int> cfgJerkAndAccelMode(Call& call, int port, int axis, std::int64_t jerk, int accel_mode);
  Op<int> cfgAxisMove(Call& call, int port, int axis, int mode, std::int64_t target_posi, std::int64_t velo,
                      std::int64_t accel, std::int64_t decel);
  Op<int> cfgFindRef(Call& call, int port, int axis, int search_type, int search_dir, std::int64_t search_velo,
                     std::int64_t search_accle, double approach_velo_percent, int en_reset_posi,
                     std::int64_t offset_posi);
  Op<int> cfgBreakPoint(Call& call, int port, int axis, int mode, int breakpoint_polarity, std::int64_t start_posi,
                        std::int64_t pulse_width, std::int64_t pulse_period, std::int64_t pulse_number);
  Op<int> cfgCapture(Call& call, int port, int axis, int capture_type, int mode);
  Op<int> rstEncoderPosi(Call& call, int port, int axis, std::int64_t encoder_posi);
  Op<int> setLogicalPosi(Call& call, int port, int axis, std::int64_t counter);

  // --- moves -----------------------------------------------------------------------------------
  Op<int> startSingleAxisMove(Call& call, int port, int axis);
  // Holds each axis while preparing it and starts them together. When preparing an axis raises,
  // the axes held so far are stopped at once and released before the error propagates.
  Op<int> startMultiAxisMove(Call& call, int port, std::vector<int> axis_list);
  Op<int> stop(Call& call, int port, int axis, int mode);
  Op<int> overrideAxisPosi(Call& call, int port, int axis, std::int64_t new_position);
  Op<int> overrideAxisAccel(Call& call, int port, int axis, std::int64_t new_accel, std::int64_t new_decel);
  Op<int> overrideAxisVelocity(Call& call, int port, int axis, std::int64_t new_velo);
  Op<int> findRef(Call& call, int port, int axis);
  Op<int> enableBreakPoint(Call& call, int port, int axis, int en_break);
  Op<int> enableCapture(Call& call, int port, int axis, int en_capture);
  Op<int> enableServoOn(Call& call, int port, int axis);
  Op<int> enableServoOff(Call& call, int port, int axis);

  // --- interpolation ---------------------------------------------------------------------------
  Op<int> cfg2AxisLinearInterpo(Call& call, int port, int axis1, std::int64_t dest_posi1, int axis2,
                                std::int64_t dest_posi2, std::int64_t speed, std::int64_t accel, std::int64_t decel);
  Op<int> cfg3AxisLinearInterpo(Call& call, int port, int axis1, std::int64_t dest_posi1, int axis2,
                                std::int64_t dest_posi2, int axis3, std::int64_t dest_posi3, std::int64_t speed,
                                std::int64_t accel, std::int64_t decel);
  Op<int> cfg4AxisLinearInterpo(Call& call, int port, int axis1, std::int64_t dest_posi1, int axis2,
                                std::int64_t dest_posi2, int axis3, std::int64_t dest_posi3, int axis4,
                                std::int64_t dest_posi4, std::int64_t speed, std::int64_t accel, std::int64_t decel);
  Op<int> startLinearInterpo(Call& call, int port);
  Op<int> cfgCircularInterpo(Call& call, int port, int x_axis, int y_axis, std::int64_t center_point_x,
                             std::int64_t center_point_y, std::int64_t finish_point_x, std::int64_t finish_point_y,
                             int dir, std::int64_t speed, std::int64_t accel, std::int64_t decel);
  Op<int> startCircularInterpo(Call& call, int port);
  // Waits for the chip's helical calculation for at most `calculation_timeout` milliseconds; out
  // of time it returns -8004 and keeps the earlier calculation result.
  Op<int> cfgHelicalInterpo(Call& call, int port, std::int64_t center_point_x, std::int64_t center_point_y,
                            std::int64_t finish_point_x, std::int64_t finish_point_y, int en_axis3,
                            std::int64_t pitch_axis3, int en_axis4, std::int64_t pitch_axis4,
                            std::int64_t rotation_number, std::int64_t speed, int dir, double calculation_timeout);
  Op<int> startHelicalInterpo(Call& call, int port);

  // --- status and positions --------------------------------------------------------------------
  Op<std::int64_t> getLogicalPosi(Call& call, int port, int axis);
  Op<std::int64_t> getEncoderPosi(Call& call, int port, int axis);
  Op<int> getMoveStatus(Call& call, int port, int axis);
  Op<int> checkRef(Call& call, int port, int axis);
  Op<int> getHomeStatus(Call& call, int port, int axis);
  Op<std::vector<int>> getLimitStatus(Call& call, int port, int axis);
  Op<std::int64_t> readCapturePoint(Call& call, int port, int axis);

  // --- internal steps (wire ports) -------------------------------------------------------------
  Op<int> setAxisModeAndDirection(Call& call, int port, int axis, int stepper_output, int axis_direction);
  Op<int> setEncoderDirection(Call& call, int port, int axis, int encoder_direction);
  Op<int> setLimitEnable(Call& call, int port, int axis, int forward_enable, int reverse_enable);
  Op<int> setLimitPolarity(Call& call, int port, int axis, int limit_polarity);
  Op<int> setHomeLimitEnable(Call& call, int port, int axis, int home_enable);
  Op<int> setHomePolarity(Call& call, int port, int axis, int home_polarity);
  Op<int> setInpositionLimitEnable(Call& call, int port, int axis, int inposition_enable);
  Op<int> setInpositionPolarity(Call& call, int port, int axis, int inposition_polarity);
  Op<int> setAlarmLimitEnable(Call& call, int port, int axis, int alarm_enable);
  Op<int> setAlarmPolarity(Call& call, int port, int axis, int alarm_polarity);
  Op<int> setInstantLimitStop(Call& call, int port, int axis, int stop);
  Op<int> writeTargetPosition(Call& call, int port, int axis, std::int64_t target_position);
  Op<int> writeVelocity(Call& call, int port, int axis, std::int64_t velocity);
  Op<int> writeAcceleration(Call& call, int port, int axis, std::int64_t acceleration, std::int64_t deceleration);
  Op<int> writeDriveMode(Call& call, int port, int axis, std::int64_t operation_mode, std::int64_t velocity);
  Op<int> writeHomeSpeed(Call& call, int port, int axis, double approach_velocity_percent,
                         std::int64_t search_velocity);
  Op<int> writeOffsetPosition(Call& call, int port, int axis, std::int64_t offset_position,
                              std::int64_t initial_search_direction);
  Op<int> setAutoHome1(Call& call, int port, int axis, int search_type, int initial_search_direction,
                       int final_approach_direction, double approach_velocity_percent, std::int64_t offset_position);
  Op<int> setAutoHome2(Call& call, int port, int axis, int reset_position_enable);
  Op<int> enableServoOnAt(Call& call, int port, int axis, int en_servo_on);
  Op<int> sendAllConfiguration(Call& call, int port, int axis);
  Op<int> writeHelicalInterpolation(Call& call, int port, std::int64_t center_point_x, std::int64_t center_point_y,
                                    std::int64_t finish_point_x, std::int64_t finish_point_y, int en_axis3,
                                    std::int64_t pitch_axis3, int en_axis4, std::int64_t pitch_axis4,
                                    std::int64_t rotation_number, std::int64_t speed, int dir);

  // --- configuration file ----------------------------------------------------------------------
  Op<int> openCfgFile(Call& call, std::string filename);
  Op<int> saveCfgFile(Call& call);
  // Re-programs every axis from the file on `port` (translated and checked like every port), or on
  // wire port 0 when none is given.
  Op<int> loadCfgFile(Call& call, std::optional<int> port);

 private:
  struct LinearAxis {
    int axis;
    std::int64_t dest;
  };

  // The wire port of a public operation's port, checked.
  int wirePort(int port) const;
  // Port and axis of an internal step.
  void checkPortAndAxis(int port, int axis) const;

  // One register step with its value checked for the field.
  Op<int> put(Call& call, int port, int reg, int axis, std::int64_t value, std::int64_t second = 0);
  Op<int> command(Call& call, int port, int reg, int axis);
  Op<std::int64_t> get(Call& call, int port, int reg, int axis, std::int64_t page = 0);
  // Read-modify-write of a 16-bit register under the port's lock; the write's status.
  Op<int> editWord(Call& call, int port, int axis, int read_reg, int write_reg, BitEdit edit);
  Op<int> editWR2(Call& call, int port, int axis, BitEdit edit);
  Op<int> editWR3(Call& call, int port, int axis, BitEdit edit);
  // A setting held in one bit of WR2: recorded, then the bit edited.
  Op<int> wr2Setting(Call& call, int port, int axis, Setting setting, int bit, int value);
  // A bit of RR0 (the chip's drive status); RR3 page 0 of an axis.
  Op<int> driveBit(Call& call, int port, int axis);
  Op<std::uint16_t> inputLevels(Call& call, int port, int axis);

  // Record access under the records' lock.
  template <class F>
  decltype(auto) withAxis(int axis, F&& f) {
    return records_.with([&](MCX514Records& r) -> decltype(auto) { return f(r.axes[axisHandle(axis)]); });
  }
  MotionAxis axisRecord(int axis) const;
  void note(int axis, Setting s, double value);

  // The steps shared by the public operations, on wire ports.
  Op<int> encoderZ(Call& call, int port, int axis, int encoder_z_polarity);
  Op<int> logicalPosition(Call& call, int port, int axis, std::int64_t counter);
  Op<std::int64_t> readLogicalPosition(Call& call, int port, int axis);
  Op<int> initialSpeed(Call& call, int port, int axis, std::int64_t acceleration);
  // Pulse output and direction as the axis record holds them.
  Op<int> axisModeFromRecord(Call& call, int port, int axis);
  Op<int> prepareAxis(Call& call, int port, int axis, const MotionAxis& rec);
  Op<int> linearInterpo(Call& call, int port, std::vector<LinearAxis> axes, std::int64_t speed,
                        std::int64_t accel, std::int64_t decel);
  Op<int> mainAxisRamp(Call& call, int port, int axis, std::int64_t speed, std::int64_t accel, std::int64_t decel);
  // Waits for the helical calculation; 0, or the time-out's code.
  Op<int> awaitHelicalCalculation(Call& call, int port, double limit_ms);

  Device& dev_;
  const MotionData& data_;
  Guarded<MCX514Records> records_;
  PortLocks locks_;
  mutable std::mutex file_m_;  // guards file_; never held across a wait
  MotionConfigFile file_;
};

}  // namespace zelvo
