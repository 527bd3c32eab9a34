// The four-axis motion module: operations, internal steps, checks, records and the configuration
// file, one row each; the register layer's service operations come from its table
// (motion_registers.cpp).
#include <nanobind/stl/optional.h>
#include <nanobind/stl/string.h>

#include "binding/modules.hpp"
#include "binding/motion_files.hpp"
#include "binding/motion_views.hpp"
#include "binding/ops.hpp"
#include "zelvo/motion/mcx514_checks.hpp"
#include "zelvo/motion/mcx514_module.hpp"

namespace zelvo::py {

void bindMCX514Registers(nb::handle cls);

namespace {

using M = MCX514Module;

void bindConfiguration(nb::handle cls) {
  defOp<&M::open>(cls, "Motion_open", {"port"}, "Sets the PIO signals of the port's four axes; 0 or a negative code.");
  defOp<&M::close>(cls, "Motion_close", {"port"}, "Checks the port; 0.");
  defOp<&M::cfgAxis>(cls, "Motion_cfgAxis", {"port", "axis", "stepper_output", "axis_dir", "encoder_dir", "servo_on_polarity"},
                     "Pulse output (0 step/direction, 1 CW/CCW), motion and encoder direction and servo-on polarity\n"
                     "of an axis; 0 or the first failing step's negative code.");
  defOp<&M::cfgLimit>(cls, "Motion_cfgLimit", {"port", "axis", "en_forward", "en_reverse", "limit_polarity"},
                      "Enables the hardware limits and sets their active level; 0 or a negative code.");
  defOp<&M::cfgHome>(cls, "Motion_cfgHome", {"port", "axis", "en_home", "home_polarity"},
                     "Enables the home input and sets its active level; 0 or a negative code.");
  defOp<&M::cfgInposi>(cls, "Motion_cfgInposi", {"port", "axis", "en_inposi", "inposi_polarity"},
                       "Enables the in-position input and sets its active level; 0 or a negative code.");
  defOp<&M::cfgAlarm>(cls, "Motion_cfgAlarm", {"port", "axis", "en_alarm", "alarm_polarity"},
                      "Enables the servo alarm input and sets its active level; 0 or a negative code.");
  defOp<&M::cfgEncoder>(cls, "Motion_cfgEncoder", {"port", "axis", "encoder_z_polarity"},
                        "Sets the encoder's Z level bit; 0 or a negative code.");
  defOp<&M::cfgJerkAndAccelMode>(cls, "Motion_cfgJerkAndAccelMode", {"port", "axis", "jerk", "accel_mode"},
                                 "Records jerk and ramp form (0 trapezoidal, else S-curve) for the next acceleration "
                                 "setting; sends nothing, returns 0.");
  defOp<&M::cfgAxisMove>(cls, "Motion_cfgAxisMove", {"port", "axis", "mode", "target_posi", "velo", "accel", "decel"},
                         "Move parameters (mode 0 absolute, 1 relative, 2 velocity): target, signed velocity,\n"
                         "acceleration, deceleration; speeds and rates below 1 are refused. 0 or a negative code.");
  defOp<&M::cfgFindRef>(cls, "Motion_cfgFindRef",
                        {"port", "axis", "search_type", "search_dir", "search_velo", "search_accle",
                         "approach_velo_percent", "en_reset_posi", "offset_posi"},
                        "Sets up the home search (type 0, 1, 2; direction; speed; acceleration; approach speed in\n"
                        "percent of the search speed; counter reset; offset); 0 or a negative code.");
  defOp<&M::cfgBreakPoint>(cls, "Motion_cfgBreakPoint",
                           {"port", "axis", "mode", "breakpoint_polarity", "start_posi", "pulse_width", "pulse_period",
                            "pulse_number"},
                           "Sets up break-point pulse output at a position (mode 1: relative to the logical position);\n"
                           "0 or a negative code.");
  defOp<&M::cfgCapture>(cls, "Motion_cfgCapture", {"port", "axis", "capture_type", "mode"},
                        "Sets up position capture on the encoder's Z input; 0 or a negative code.");
  defOp<&M::rstEncoderPosi>(cls, "Motion_rstEncoderPosi", {"port", "axis", "encoder_posi"},
                            "Sets the logical and the real position counter; 0 or a negative code.");
  defOp<&M::setLogicalPosi>(cls, "Motion_setLogicalPosi", {"port", "axis", "counter"},
                            "Sets the logical position counter; 0 or a negative code.");
}

void bindMoves(nb::handle cls) {
  defOp<&M::startSingleAxisMove>(cls, "Motion_startSingleAxisMove", {"port", "axis"},
                                 "Starts the move the axis record describes; 0 or a negative code.");
  defOp<&M::startMultiAxisMove>(cls, "Motion_startMultiAxisMove", {"port", "axis_list"},
                                "Prepares and holds each listed axis, then starts them together; 0 or a negative code.\n"
                                "Should preparing an axis raise, the axes held so far are stopped and released first.");
  defOp<&M::stop>(cls, "Motion_stop", {"port", "axis", "mode"}, "Stops an axis: mode 0 decelerating, 1 at once.");
  defOp<&M::overrideAxisPosi>(cls, "Motion_overrideAxisPosi", {"port", "axis", "new_position"},
                              "Changes the target of a position move; 0 or a negative code.");
  defOp<&M::overrideAxisAccel>(cls, "Motion_overrideAxisAccel", {"port", "axis", "new_accel", "new_decel"},
                               "Changes acceleration and deceleration; 0 or a negative code.");
  defOp<&M::overrideAxisVelocity>(cls, "Motion_overrideAxisVelocity", {"port", "axis", "new_velo"},
                                  "Changes the speed; a velocity move whose sign changes decelerates and reverses.");
  defOp<&M::findRef>(cls, "Motion_findRef", {"port", "axis"}, "Starts the home search; 0 or a negative code.");
  defOp<&M::enableBreakPoint>(cls, "Motion_enableBreakPoint", {"port", "axis", "en_break"},
                              "Switches break-point output on (1) or off (0).");
  defOp<&M::enableCapture>(cls, "Motion_enableCapture", {"port", "axis", "en_capture"},
                           "Switches position capture on (1) or off (0).");
  defOp<&M::enableServoOn>(cls, "Motion_enableServoOn", {"port", "axis"}, "Switches the servo driver on.");
  defOp<&M::enableServoOff>(cls, "Motion_enableServoOff", {"port", "axis"}, "Switches the servo driver off.");
  defOp<&M::cfg2AxisLinearInterpo>(
      cls, "Motion_cfg2AxisLinearInterpo",
      {"port", "axis1", "dest_posi1", "axis2", "dest_posi2", "speed", "accel", "decel"},
      "Sets up a two-axis linear interpolation (relative destinations); 0 or a negative code.");
  defOp<&M::cfg3AxisLinearInterpo>(
      cls, "Motion_cfg3AxisLinearInterpo",
      {"port", "axis1", "dest_posi1", "axis2", "dest_posi2", "axis3", "dest_posi3", "speed", "accel", "decel"},
      "Sets up a three-axis linear interpolation; 0 or a negative code.");
  defOp<&M::cfg4AxisLinearInterpo>(cls, "Motion_cfg4AxisLinearInterpo",
                                   {"port", "axis1", "dest_posi1", "axis2", "dest_posi2", "axis3", "dest_posi3", "axis4",
                                    "dest_posi4", "speed", "accel", "decel"},
                                   "Sets up a four-axis linear interpolation; 0 or a negative code.");
  defOp<&M::startLinearInterpo>(cls, "Motion_startLinearInterpo", {"port"}, "Starts the linear interpolation set up last.");
  defOp<&M::cfgCircularInterpo>(cls, "Motion_cfgCircularInterpo",
                                {"port", "x_axis", "y_axis", "center_point_x", "center_point_y", "finish_point_x",
                                 "finish_point_y", "dir", "speed", "accel", "decel"},
                                "Sets up a circular interpolation (dir 0 clockwise); 0 or a negative code.");
  defOp<&M::startCircularInterpo>(cls, "Motion_startCircularInterpo", {"port"},
                                  "Starts the circular interpolation set up last.");
  defOp<&M::cfgHelicalInterpo>(cls, "Motion_cfgHelicalInterpo",
                               {"port", "center_point_x", "center_point_y", "finish_point_x", "finish_point_y",
                                "en_axis3", "pitch_axis3", "en_axis4", "pitch_axis4", "rotation_number", "speed", "dir",
                                "calculation_timeout"},
                               "Sets up a helical interpolation and waits (calculation_timeout ms) for the chip's\n"
                               "calculation; -8004 when it does not finish in time (the earlier result stays).");
  defOp<&M::startHelicalInterpo>(cls, "Motion_startHelicalInterpo", {"port"},
                                 "Starts the helical interpolation set up last.");
}

void bindReads(nb::handle cls) {
  defOp<&M::getLogicalPosi>(cls, "Motion_getLogicalPosi", {"port", "axis"}, "The logical position (signed).");
  defOp<&M::getEncoderPosi>(cls, "Motion_getEncoderPosi", {"port", "axis"}, "The real (encoder) position (signed).");
  defOp<&M::getMoveStatus>(cls, "Motion_getMoveStatus", {"port", "axis"}, "1 when the axis is stopped, 0 while it moves.");
  defOp<&M::checkRef>(cls, "Motion_checkRef", {"port", "axis"}, "1 when the home search has ended, 0 while it runs.");
  defOp<&M::getHomeStatus>(cls, "Motion_getHomeStatus", {"port", "axis"}, "1 when the home input is active.");
  defOp<&M::getLimitStatus>(cls, "Motion_getLimitStatus", {"port", "axis"}, "[forward, reverse] limit inputs, 1 active.");
  defOp<&M::readCapturePoint>(cls, "Motion_readCapturePoint", {"port", "axis"}, "The last captured position.");
}

void bindSteps(nb::handle cls) {
  const char* status = "0 or the first failing step's negative code.";
  defOp<&M::setAxisModeAndDirection>(cls, "_Motion_setAxisModeAndDirection",
                                     {"port", "axis", "stepper_output", "axis_direction"}, status);
  defOp<&M::setEncoderDirection>(cls, "_Motion_setEncoderDirection", {"port", "axis", "encoder_direction"}, status);
  defOp<&M::setLimitEnable>(cls, "_Motion_setLimitEnable", {"port", "axis", "forward_enable", "reverse_enable"}, status);
  defOp<&M::setLimitPolarity>(cls, "_Motion_setLimitPolarity", {"port", "axis", "limit_polarity"}, status);
  defOp<&M::setHomeLimitEnable>(cls, "_Motion_setHomeLimitEnable", {"port", "axis", "home_enable"}, status);
  defOp<&M::setHomePolarity>(cls, "_Motion_setHomePolarity", {"port", "axis", "home_polarity"}, status);
  defOp<&M::setInpositionLimitEnable>(cls, "_Motion_setInpositionLimitEnable", {"port", "axis", "inposition_enable"},
                                      status);
  defOp<&M::setInpositionPolarity>(cls, "_Motion_setInpositionPolarity", {"port", "axis", "inposition_polarity"}, status);
  defOp<&M::setAlarmLimitEnable>(cls, "_Motion_setAlarmLimitEnable", {"port", "axis", "alarm_enable"}, status);
  defOp<&M::setAlarmPolarity>(cls, "_Motion_setAlarmPolarity", {"port", "axis", "alarm_polarity"}, status);
  defOp<&M::setInstantLimitStop>(cls, "_Motion_setInstantLimitStop", {"port", "axis", "stop"}, status);
  defOp<&M::writeTargetPosition>(cls, "_Motion_writeTargetPosition", {"port", "axis", "target_position"}, status);
  defOp<&M::writeVelocity>(cls, "_Motion_writeVelocity", {"port", "axis", "velocity"}, status);
  defOp<&M::writeAcceleration>(cls, "_Motion_writeAcceleration", {"port", "axis", "acceleration", "deceleration"}, status);
  defOp<&M::writeDriveMode>(cls, "_Motion_writeDriveMode", {"port", "axis", "operation_mode", "velocity"}, status);
  defOp<&M::writeHomeSpeed>(cls, "_Motion_writeHomeSpeed", {"port", "axis", "approach_velocity_percent", "search_velocity"},
                            status);
  defOp<&M::writeOffsetPosition>(cls, "_Motion_writeOffsetPosition",
                                 {"port", "axis", "offset_position", "initial_search_direction"}, status);
  defOp<&M::setAutoHome1>(cls, "_Motion_setAutoHome1",
                          {"port", "axis", "search_type", "initial_search_direction", "final_approach_direction",
                           "approach_velocity_percent", "offset_position"},
                          status);
  defOp<&M::setAutoHome2>(cls, "_Motion_setAutoHome2", {"port", "axis", "reset_position_enable"}, status);
  defOp<&M::enableServoOnAt>(cls, "_Motion_enableServoOn", {"port", "axis", "en_servo_on"}, status);
  defOp<&M::sendAllConfiguration>(cls, "_Motion_sendAllConfiguration", {"port", "axis"}, status);
  defOp<&M::writeHelicalInterpolation>(cls, "_Motion_writeHelicalInterpolation",
                                       {"port", "center_point_x", "center_point_y", "finish_point_x", "finish_point_y",
                                        "en_axis3", "pitch_axis3", "en_axis4", "pitch_axis4", "rotation_number", "speed",
                                        "dir"},
                                       status);
}

void bindChecks(nb::handle cls) {
  OpSignature<2> axis({"axis", "mode"});
  axis.defaults[1] = nb::bool_(true);
  defCheckWith<&M::checkAxis>(cls, "_checkMCX514Axis", axis,
                              "True, or MotionAxisError unless 0..3 (with mode False only the type is checked).");
  defCheck<&M::checkMotionPort>(cls, "_checkMCX514MotionPort", {"port"}, "True, or MotionPortNotAvaliable.");
  defCheck<&mcx514::checkStopMode>(cls, "_checkMCX514StopMode", {"mode"}, "True, or MotionStopModeError unless 0, 1.");
  defCheck<&mcx514::checkSearchType>(cls, "_checkMCX514SearchType", {"search_type"},
                                     "True, or MotionSearchTypeError unless 0, 1, 2.");
  defCheck<&mcx514::checkSearchDirection>(cls, "_checkMCX514SearchDirection", {"direction"},
                                          "True, or MotionSearchDirectionError unless 0, 1.");
  defCheck<&mcx514::checkEnable>(cls, "_checkMCX514Enable", {"status"}, "True, or MotionEnableError unless 0, 1.");
  defCheck<&mcx514::checkStepperOutput>(cls, "_checkMCX514StepperOutput", {"status"},
                                        "True, or MotionStepperOutputError unless 0, 1.");
  defCheck<&mcx514::checkDirection>(cls, "_checkMCX514Direction", {"direction"}, "True, or MotionDirectionError unless 0, 1.");
  defCheck<&mcx514::checkPolarity>(cls, "_checkMCX514Polarity", {"status"}, "True, or MotionPolarityError unless 0, 1.");
  defCheck<&mcx514::checkCaptureType>(cls, "_checkMCX514CaptureType", {"status"},
                                      "True, or MotionCaptureTypeError unless 0, 1.");
  defCheck<&mcx514::checkCaptureMode>(cls, "_checkMCX514CaptureMode", {"status"},
                                      "True, or MotionCaptureModeError unless 0, 1.");
  defCheck<&mcx514::checkBreakPointMode>(cls, "_checkMCX514BreakPointMode", {"status"},
                                         "True, or MotionBreakPointModeError unless 0, 1.");
  defCheck<&mcx514::checkOperationMode>(cls, "_checkMCX514OperationMode", {"status"},
                                        "True, or MotionOperationModeError unless 0, 1, 2.");
  defCheck<&mcx514::checkAccelerationMode>(cls, "_checkMCX514AccelerationMode", {"status"},
                                           "True, or MotionAccelerationModeError unless 0, 1, 2.");
}

void bindFile(nb::handle cls) {
  bindOpenCfgFile<M>(cls);
  OpSignature<0> save;
  save.timeout = false;
  defOpWith<&M::saveCfgFile>(cls, "Motion_saveCfgFile", save,
                             "Writes every axis's configuration to the file (replaced whole, on disk when this\n"
                             "returns 0); OSError when the file system refuses.");
  bindLoadCfgFile<M>(cls);
  bindIniConversions(cls);
  defState<M>(cls, "inifile", [](const M& m) { return m.cfgPath().value_or(""); },
              "The configuration file opened last ('' before Motion_openCfgFile).");
  defState<M>(cls, "inimode", [](const M& m) { return std::string(m.cfgPath() ? MotionConfigFile::kMode : ""); },
              "The mode the file is written with ('w' once a file is open).");
  setProperty(cls, "iniconfig",
              nb::cpp_function([](Device& d) { return iniDocumentToPy(moduleOf<M>(d).cfgDocument()); }, nb::is_method(),
                               nb::sig("def iniconfig(self) -> dict[str, dict[str, str]]")),
              nb::none(), "The document last saved or loaded: {section: {option: text}}.");
}

void bindRecords(nb::handle cls) {
  constexpr const char* kAxisNames[] = {"axis_1", "axis_2", "axis_3", "axis_4"};
  for (std::size_t i = 0; i < mcx514::kAxes; ++i)
    setProperty(cls, kAxisNames[i],
                nb::cpp_function(
                    [i](nb::handle self) {
                      auto& recs = moduleOf<M>(nb::cast<Device&>(self)).records();
                      return recordView<MotionAxis>(self, recs, [i](MCX514Records& r) -> MotionAxis& { return r.axes[i]; });
                    },
                    nb::is_method(), nb::sig(("def " + std::string(kAxisNames[i]) + "(self) -> MotionAxis").c_str())),
                nb::none(), "The record of an axis (MotionAxis).");
  nb::setattr(cls, "_getAxisHandle",
              nb::cpp_function(
                  [](nb::handle self, nb::handle axis) {
                    const std::size_t i = M::axisHandle(Arg<std::int64_t>::from(axis, "axis"));
                    auto& recs = moduleOf<M>(nb::cast<Device&>(self)).records();
                    return recordView<MotionAxis>(self, recs, [i](MCX514Records& r) -> MotionAxis& { return r.axes[i]; });
                  },
                  nb::scope(cls), nb::name("_getAxisHandle"), nb::is_method(), nb::arg("axis").none(),
                  nb::sig("def _getAxisHandle(self, axis: int) -> MotionAxis"),
                  "The record of an axis: 0, 1, 2, and axis_4 for any other value."));
  setProperty(cls, "linear_interpo",
              nb::cpp_function(
                  [](nb::handle self) {
                    return recordView<MotionLinearInterpolation>(self, moduleOf<M>(nb::cast<Device&>(self)).records(),
                                                                 [](MCX514Records& r) -> auto& { return r.linear_interpo; });
                  },
                  nb::is_method(), nb::sig("def linear_interpo(self) -> MotionLinearInterpolation")),
              nb::none(), "The linear interpolation set up last.");
  setProperty(cls, "circular_interpo",
              nb::cpp_function(
                  [](nb::handle self) {
                    return recordView<MotionCircularInterpolation>(self, moduleOf<M>(nb::cast<Device&>(self)).records(),
                                                                   [](MCX514Records& r) -> auto& { return r.circular_interpo; });
                  },
                  nb::is_method(), nb::sig("def circular_interpo(self) -> MotionCircularInterpolation")),
              nb::none(), "The circular interpolation set up last.");
  setProperty(cls, "helical_interpo",
              nb::cpp_function(
                  [](nb::handle self) {
                    return recordView<MotionHelicalInterpolation>(self, moduleOf<M>(nb::cast<Device&>(self)).records(),
                                                                  [](MCX514Records& r) -> auto& { return r.helical_interpo; });
                  },
                  nb::is_method(), nb::sig("def helical_interpo(self) -> MotionHelicalInterpolation")),
              nb::none(), "The helical interpolation set up last.");
  setProperty(cls, "motion_ini",
              nb::cpp_function([](nb::handle) { return motionIniTables(); }, nb::is_method(),
                               nb::sig("def motion_ini(self) -> MotionInifile")),
              nb::none(), "The configuration file's conversion tables (MotionInifile).");
}

}  // namespace

void bindMCX514Module(nb::handle cls) {
  bindConfiguration(cls);
  bindMoves(cls);
  bindReads(cls);
  bindSteps(cls);
  bindChecks(cls);
  bindFile(cls);
  bindRecords(cls);
  bindMCX514Registers(cls);
}

}  // namespace zelvo::py
