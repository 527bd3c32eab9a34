// The stepper module: procedures, register access (the shortcuts generated from their table),
// configuration, the status attributes, the register tables, the axis record and the
// configuration file, one row each.
#include <nanobind/stl/string.h>

#include <string>
#include <utility>

#include "binding/modules.hpp"
#include "binding/motion_files.hpp"
#include "binding/motion_views.hpp"
#include "binding/ops.hpp"
#include "zelvo/motion/tmc5240_module.hpp"

namespace zelvo::py {

// The reset flag of the search procedures: the text "true", or True / 1 (anything else: no reset).
template <>
struct Arg<ResetFlag> {
  static constexpr const char* pyName = "str | int";
  static ResetFlag from(nb::handle h, const char* name) {
    if (nb::isinstance<nb::str>(h)) return ResetFlag{nb::cast<std::string>(h) == "true"};
    if (integerOrNull(h).is_valid()) return ResetFlag{Arg<std::int64_t>::from(h, name) == 1};
    wrongType(name, "a str or an int", h);
  }
};

namespace {

using T = TMC5240Module;
using tmc5240::kShortcuts;

template <std::size_t I>
struct ShortcutRow {
  static constexpr const tmc5240::Shortcut& s = kShortcuts[I];
  static Op<int> write(Device& d, Call& c, int port, std::int64_t value) { return moduleOf<T>(d).write(c, port, s.reg, value); }
  static Op<std::vector<int>> read(Device& d, Call& c, int port) { return moduleOf<T>(d).read(c, port, s.reg); }
};

template <std::size_t I>
void bindShortcut(nb::handle cls) {
  using R = ShortcutRow<I>;
  constexpr const tmc5240::Shortcut& s = kShortcuts[I];
  if constexpr (s.write)
    defOp<&R::write>(cls, s.name, {"port", s.value}, "Writes the register; the reply's raw result byte (0: done).");
  else
    defOp<&R::read>(cls, s.name, {"port"}, "Reads the register: its four bytes, most significant first.");
}

template <std::size_t... I>
void bindShortcuts(nb::handle cls, std::index_sequence<I...>) {
  (bindShortcut<I>(cls), ...);
}

void bindProcedures(nb::handle cls) {
  const char* started = "0 or a negative firmware error code.";
  defOp<&T::startVelocityMove>(cls, "Motion_startVelocticyMove", {"port", "speed", "dir", "acceleration", "deceleration"},
                               "Runs at a speed (dir 0 forward, 1 backward); 0 or a negative code.");
  defOp<&T::startPositionMove>(cls, "Motion_startPositionMove",
                               {"port", "position", "speed", "acceleration", "deceleration", "mode"},
                               "Moves to a position (mode 1: by a distance); 0 or a negative code.");
  defOp<&T::startScanMove>(cls, "Motion_startScanMove", {"port", "position_0", "position_1", "speed", "acceleration"},
                           "Moves back and forth between two positions until stopped; 0 or a negative code.");
  defOp<&T::startFindLimit>(cls, "Motion_startFindLimit",
                            {"port", "mode", "searching_speed", "approaching_speed", "acceleration", "offset",
                             "reset_position"},
                            "Searches a limit switch, then moves the offset; reset_position 'true' (or True, 1) sets\n"
                            "the counters to 0 there. 0 or a negative code.");
  defOp<&T::startFindHome>(cls, "Motion_startFindHome",
                           {"port", "searching_speed", "approaching_speed", "acceleration", "search_direction",
                            "approach_direction", "offset", "reset_position"},
                           "Searches the home switch (then the offset; reset as for the limit search).");
  defOp<&T::startFindZPolarity>(cls, "Motion_startFindZPolarity",
                                {"port", "searching_speed", "approaching_speed", "acceleration", "search_direction",
                                 "approach_direction", "offset", "reset_position"},
                                "Searches the encoder's index pulse (then the offset; reset as for the limit search).");
  defOp<&T::stopProcess>(cls, "Motion_stopProcess", {"port"}, started);
  defOp<&T::resetFactory>(cls, "Motion_resetFactory", {"port"}, started);
  defOp<&T::getProcessState>(cls, "Motion_getProcessState", {"port"},
                             "The procedure state the firmware reports (reply byte 1).");
}

void bindOperations(nb::handle cls) {
  defOp<&T::open>(cls, "Motion_open", {"port"}, "Checks the port; 0.");
  defOp<&T::close>(cls, "Motion_close", {"port"}, "Checks the port; 0.");
  defOp<&T::getParameters>(cls, "Motion_getParameters", {"port"},
                           "Reads the base configuration into TMC5240_default_dict (only from a complete answer\n"
                           "with status 0); 0 or a negative code.");
  defOp<&T::enableServoOn>(cls, "Motion_enableServoOn", {"port"}, "Drives the servo enable line low (on).");
  defOp<&T::enableServoOff>(cls, "Motion_enableServoOff", {"port"}, "Drives the servo enable line high (off).");
  defOp<&T::getLimitStatus>(cls, "Motion_getLimitStatus", {"port"}, "The levels of the three switch inputs.");
  defOp<&T::cfgLimit>(cls, "Motion_cfgLimit", {"port", "en_forward", "en_reverse", "limit_polarity"},
                      "Enables the stop switches and sets their level; 0 or the failing step's code.");
  defOp<&T::cfgAxisDirection>(cls, "Motion_cfgAxisDirection", {"port", "axis_dir"},
                              "Reverses the motor (and the switches with it) when axis_dir is 1.");
  defOp<&T::cfgEncoder>(cls, "Motion_cfgEncoder", {"port", "encoder_dir", "encoder_posi"},
                        "Holds the ramp, sets position and encoder counters and the encoder's direction.");
  OpSignature<2> rst({"port", "encoder_posi"});
  rst.defaults[1] = nb::int_(0);
  defOpWith<&T::rstEncoderPosi>(cls, "Motion_rstEncoderPosi", rst, "Holds the ramp and sets both counters.");
  defOp<&T::readCurrentVelocity>(cls, "Motion_readCurrentVelocity", {"port"}, "The velocity (signed).");
  defOp<&T::readEncoderPosition>(cls, "Motion_readEncoderPosition", {"port"},
                                 "[encoder position, position], both signed.");
  defOp<&T::getAlarmStatus>(cls, "Motion_getAlarmStatus", {"port"}, "Bits 4, 2 and 1 of the chip's global status.");
}

void bindInternal(nb::handle cls) {
  defOp<&T::write>(cls, "_Motion_write", {"port", "reg_addr", "data"}, "Writes a register; the reply's raw result byte.");
  defOp<&T::read>(cls, "_Motion_read", {"port", "reg_addr"}, "Reads a register: its four bytes, most significant first.");
  bindShortcuts(cls, std::make_index_sequence<tmc5240::kShortcutCount>{});
  defOp<&T::clearFault>(cls, "_Motion_clearFault", {"port"}, "Clears the global status flags; the raw result byte.");
  defOp<&T::setRamp>(cls, "_Motion_setRamp", {"port"}, "Writes TMC5240_main_dict's registers; 0 or a negative code.");
  defOp<&T::writeDO>(cls, "_Motion_writeDO", {"port", "pin", "value"}, "Drives one output pin of a DO port.");
  defOp<&T::readDI>(cls, "_Motion_readDI", {"port"}, "The level word of DI pins 0..2 of a port.");
  defOp<&T::getInpositionStatus>(cls, "_Motion_getInpositionStatus", {"port"}, "status_bit5_positionreach.");
  defOp<&T::getServoOnStatus>(cls, "_Motion_getServeoOnStatus", {"port"}, "0.");
  defOp<&T::setLimitEnable>(cls, "_Motion_setLimitEnable", {"port", "forward_enable", "reverse_enable"},
                            "Records the enables in the axis record; 0.");
  defOp<&T::setLimitPolarity>(cls, "_Motion_setLimitPolarity", {"port", "limit_polarity"},
                              "Records the polarity in the axis record; 0.");
  defOp<&T::sendAllConfiguration>(cls, "_Motion_sendAllConfiguration", {"port"},
                                  "Re-sends encoder direction, motor direction and limits from the axis record.");
  defCheck<&T::checkPort>(cls, "_checkTMC5240Port", {"port"}, "True, or TVSTPortNotAvaliable.");
  defCheck<&T::decodeSPIStatus>(cls, "_TMC5240_getSPIStatus", {"status_byte"},
                                "Stores the bits of an SPI status byte in the status attributes; 0.");
}

void bindState(nb::handle cls) {
  constexpr const char* kStatusNames[] = {"status_bit0_resetflag",     "status_bit1_driver_err",
                                          "status_bit2_sg2",           "status_bit3_standstill",
                                          "status_bit4_velocityreach", "status_bit5_positionreach",
                                          "status_bit6_stopl",         "status_bit7_stopr"};
  for (std::size_t i = 0; i < std::size(kStatusNames); ++i)
    defState<T>(cls, kStatusNames[i], [i](const T& m) { return m.spiStatus()[i]; },
                "A bit of the SPI status byte the last register read returned (0 before any).");
  auto table = [](const tmc5240::RegisterTable& t) {
    nb::dict d;
    for (const auto& e : t) {
      nb::list pair;
      pair.append(e.reg);
      pair.append(e.value);
      d[e.key] = pair;
    }
    return d;
  };
  setProperty(cls, "TMC5240_main_dict",
              nb::cpp_function([table](Device& d) { return table(moduleOf<T>(d).mainTable()); }, nb::is_method(),
                               nb::sig("def TMC5240_main_dict(self) -> dict[str, list[int]]")),
              nb::none(), "The ramp _Motion_setRamp writes: key -> [register, value] (a copy).");
  setProperty(cls, "TMC5240_default_dict",
              nb::cpp_function([table](Device& d) { return table(moduleOf<T>(d).defaultTable()); }, nb::is_method(),
                               nb::sig("def TMC5240_default_dict(self) -> dict[str, list[int]]")),
              nb::none(), "The base configuration: key -> [register, value] (a copy).");
  setProperty(cls, "axis",
              nb::cpp_function(
                  [](nb::handle self) {
                    Guarded<MotionAxis>& g = moduleOf<T>(nb::cast<Device&>(self)).axis();
                    return AxisView{nb::borrow(self), [&g](const std::function<void(MotionAxis&)>& f) {
                                      g.with([&](MotionAxis& a) { f(a); });
                                    }};
                  },
                  nb::is_method(), nb::sig("def axis(self) -> MotionAxis")),
              nb::none(), "The axis record (MotionAxis).");
  setProperty(cls, "motion_ini",
              nb::cpp_function([](nb::handle) { return motionIniTables(); }, nb::is_method(),
                               nb::sig("def motion_ini(self) -> MotionInifile")),
              nb::none(), "The configuration file's conversion tables (MotionInifile).");
}

void bindFile(nb::handle cls) {
  bindOpenCfgFile<T>(cls);
  OpSignature<0> save;
  save.timeout = false;
  defOpWith<&T::saveCfgFile>(cls, "Motion_saveCfgFile", save,
                             "Writes the axis's configuration to the file (section Axis_1; replaced whole, on disk\n"
                             "when this returns 0); OSError when the file system refuses.");
  bindLoadCfgFile<T>(cls);
  bindIniConversions(cls);
  defState<T>(cls, "inifile", [](const T& m) { return m.cfgPath().value_or(""); },
              "The configuration file opened last ('' before Motion_openCfgFile).");
  defState<T>(cls, "inimode", [](const T& m) { return std::string(m.cfgPath() ? MotionConfigFile::kMode : ""); },
              "The mode the file is written with ('w' once a file is open).");
  setProperty(cls, "iniconfig",
              nb::cpp_function([](Device& d) { return iniDocumentToPy(moduleOf<T>(d).cfgDocument()); }, nb::is_method(),
                               nb::sig("def iniconfig(self) -> dict[str, dict[str, str]]")),
              nb::none(), "The document last saved or loaded: {section: {option: text}}.");
}

}  // namespace

void bindTMC5240Module(nb::handle cls) {
  bindProcedures(cls);
  bindOperations(cls);
  bindInternal(cls);
  bindState(cls);
  bindFile(cls);
}

}  // namespace zelvo::py
