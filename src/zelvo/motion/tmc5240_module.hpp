// The stepper module: one stepper motor driven by a stepper chip whose motion mostly runs as
// firmware procedures (velocity, position and scan moves; limit, home and index searches), each
// started by one command; single chip registers can be read and written too. The limit and home
// switches and the servo-enable output are wired to the device's digital I/O (DI port 1, DO port 2).
//
// Rules:
//  - Every operation with a stepper port checks it first (TVSTPortNotAvaliable); every public
//    operation also checks its enable, polarity and direction arguments and the range of every
//    value that ends in a fixed-width field, before sending anything.
//  - Procedures and single writes follow the status convention (reply byte 1; 0 or a negative
//    code). A register write's raw reply byte 6 is returned as it is by _Motion_write; the
//    multi-step operations count a non-zero one as that firmware failure's code and report the
//    first failing step (or 0), running every step.
//  - Register reads return the four value bytes (reply bytes 3..6) and decode the chip's SPI
//    status byte (reply byte 2) into the eight status attributes.
//  - Read-modify-writes of GCONF and SWMODE hold the port's lock.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "zelvo/catalogue/catalogue.hpp"
#include "zelvo/core/call.hpp"
#include "zelvo/motion/motion_ini.hpp"
#include "zelvo/motion/motion_records.hpp"
#include "zelvo/motion/port_locks.hpp"
#include "zelvo/motion/tmc5240_registers.hpp"

namespace zelvo {

// The counter reset of the search procedures: the text "true", or True / 1.
struct ResetFlag {
  bool on = false;
};

// The chip's SPI status bits, as last decoded: reset flag, driver error, stall, standstill,
// velocity reached, position reached, left stop, right stop.
using SPIStatus = std::array<int, 8>;

class TMC5240Module {
 public:
  TMC5240Module(Device& dev, const PairMap& tvst_dict);

  const PairMap& tvstDict() const { return tvst_dict_; }
  Guarded<MotionAxis>& axis() { return axis_; }
  tmc5240::RegisterTable mainTable() const;
  tmc5240::RegisterTable defaultTable() const;
  SPIStatus spiStatus() const;
  std::optional<std::string> cfgPath() const;
  IniDocument cfgDocument() const;

  bool checkPort(std::int64_t port) const;
  // Stores bits 0..7 of a status byte in the status attributes; 0.
  int decodeSPIStatus(std::int64_t status_byte);

  // --- register access --------------------------------------------------------------------------
  // The raw reply byte 6. The value is a 32-bit field (signed or unsigned).
  Op<int> write(Call& call, int port, int reg_addr, std::int64_t data);
  // The value bytes (reply bytes 3..6).
  Op<std::vector<int>> read(Call& call, int port, int reg_addr);
  Op<int> clearFault(Call& call, int port);
  Op<int> setRamp(Call& call, int port);

  // --- procedures -------------------------------------------------------------------------------
  Op<int> startVelocityMove(Call& call, int port, std::int64_t speed, int dir, std::int64_t acceleration,
                            std::int64_t deceleration);
  Op<int> startPositionMove(Call& call, int port, std::int64_t position, std::int64_t speed,
                            std::int64_t acceleration, std::int64_t deceleration, int mode);
  Op<int> startScanMove(Call& call, int port, std::int64_t position_0, std::int64_t position_1, std::int64_t speed,
                        std::int64_t acceleration);
  Op<int> startFindLimit(Call& call, int port, int mode, std::int64_t searching_speed,
                         std::int64_t approaching_speed, std::int64_t acceleration, std::int64_t offset,
                         ResetFlag reset_position);
  Op<int> startFindHome(Call& call, int port, std::int64_t searching_speed, std::int64_t approaching_speed,
                        std::int64_t acceleration, int search_direction, int approach_direction, std::int64_t offset,
                        ResetFlag reset_position);
  Op<int> startFindZPolarity(Call& call, int port, std::int64_t searching_speed, std::int64_t approaching_speed,
                             std::int64_t acceleration, int search_direction, int approach_direction,
                             std::int64_t offset, ResetFlag reset_position);
  Op<int> stopProcess(Call& call, int port);
  Op<int> resetFactory(Call& call, int port);

  // --- other operations -------------------------------------------------------------------------
  Op<int> open(Call& call, int port);
  Op<int> close(Call& call, int port);
  Op<int> getProcessState(Call& call, int port);
  // Refreshes the default table's values when the device answers status 0 with every value.
  Op<int> getParameters(Call& call, int port);
  Op<int> enableServoOn(Call& call, int port);
  Op<int> enableServoOff(Call& call, int port);
  // A digital output pin (port: a DO port); 0 or a negative code.
  Op<int> writeDO(Call& call, int port, int pin, int value);
  // The level word of a DI port (pins 0..2 sampled).
  Op<int> readDI(Call& call, int port);
  Op<std::vector<int>> getLimitStatus(Call& call, int port);
  Op<int> cfgLimit(Call& call, int port, int en_forward, int en_reverse, int limit_polarity);
  Op<int> cfgAxisDirection(Call& call, int port, int axis_dir);
  Op<int> cfgEncoder(Call& call, int port, int encoder_dir, std::int64_t encoder_posi);
  Op<int> rstEncoderPosi(Call& call, int port, std::int64_t encoder_posi);
  Op<std::int64_t> readCurrentVelocity(Call& call, int port);
  Op<std::vector<std::int64_t>> readEncoderPosition(Call& call, int port);
  Op<std::vector<int>> getAlarmStatus(Call& call, int port);
  Op<int> getInpositionStatus(Call& call, int port);
  Op<int> getServoOnStatus(Call& call, int port);
  Op<int> setLimitEnable(Call& call, int port, int forward_enable, int reverse_enable);
  Op<int> setLimitPolarity(Call& call, int port, int limit_polarity);
  Op<int> sendAllConfiguration(Call& call, int port);

  // --- configuration file -----------------------------------------------------------------------
  Op<int> openCfgFile(Call& call, std::string filename);
  Op<int> saveCfgFile(Call& call);
  Op<int> loadCfgFile(Call& call, std::optional<int> port);

 private:
  // A write as a step of a multi-step operation: its status (0 or the failure's code).
  Op<int> step(Call& call, int port, int reg, std::int64_t data);
  Op<std::uint32_t> readWord(Call& call, int port, int reg);
  Op<std::int32_t> readSigned(Call& call, int port, int reg);
  // Sends a procedure command; the status convention at reply byte 1.
  Op<int> procedure(Call& call, int cmd, Bytes payload, const char* operation);
  Op<int> findProcedure(Call& call, int cmd, int port, std::int64_t searching_speed, std::int64_t approaching_speed,
                        std::int64_t acceleration, int search_direction, int approach_direction, std::int64_t offset,
                        ResetFlag reset_position, const char* operation);
  // The internal forms of the configuration steps (checked values, no port check).
  Op<int> limitSwitches(Call& call, int port, int en_forward, int en_reverse, int limit_polarity);
  Op<int> axisDirection(Call& call, int port, int axis_dir);
  Op<int> encoderFactor(Call& call, int port, int encoder_dir);
  void note(Setting s, double value);

  Device& dev_;
  const PairMap& tvst_dict_;
  Guarded<MotionAxis> axis_;
  Guarded<tmc5240::RegisterTable> defaults_;
  Guarded<SPIStatus> spi_;
  PortLocks locks_;
  mutable std::mutex file_m_;  // guards file_; never held across a wait
  MotionConfigFile file_;
};

}  // namespace zelvo
