// The thermal inputs' firmware side: thermocouple (Tavra-T, Pellor-K1-TD) and resistance-thermometer
// (Pellor-K1-RD) channels.
//
// Model of the device:
// - Every channel measures a temperature tests set, optionally drifting (degrees per second of device
//   time) and with noise (a reproducible function of the time). A channel reads that temperature
//   plus its offset. A thermocouple with cold-junction compensation off reads as if the cold
//   junction were at the temperature written with WRITE_THERMAL_JUNCTION instead of the port's
//   measured one.
// - Offsets: WRITE sets the one in use, SAVE stores one (it survives reboots), LOAD puts the stored
//   one in use. A reboot puts the stored offsets in use and the settings back to their defaults
//   (type K or two/four-wire, 60 Hz filter, one sample, compensation on), closes the ports; the
//   temperatures are physics and stay.
// - Status bit 0 is the open-circuit fault tests set.
// - Replies: [port, status] for open and close; [port, channel, status] or [port, channel, f32] per
//   channel. Status 56 for a port or channel the model lacks or a value out of range, 10 for a
//   thermocouple command on a resistance-thermometer model, 80 for a request too short.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "zelvo/sim/firmware.hpp"

namespace zelvo::sim {

namespace status {
inline constexpr Byte kThermal = 56;
}  // namespace status

// Command codes, under the names the library gives them.
namespace thermalcmd {
inline constexpr int OPEN_THERMAL = 64;
inline constexpr int READ_THERMAL_JUNCTION = 65;
inline constexpr int READ_THERMAL_COUPLE = 66;
inline constexpr int CLOSE_THERMAL = 67;
inline constexpr int SET_THERMAL_NOISE_FILTER = 68;
inline constexpr int SET_THERMAL_OVER_SAMPLING = 69;
inline constexpr int SET_THERMAL_TYPE = 70;
inline constexpr int GET_THERMAL_STATUS = 71;
inline constexpr int SET_THERMAL_JUNCTION_ON = 72;
inline constexpr int READ_THERMAL_OFFSET = 73;
inline constexpr int WRITE_THERMAL_OFFSET = 74;
inline constexpr int WRITE_THERMAL_JUNCTION = 75;
inline constexpr int LOAD_THERMAL_OFFSET = 76;
inline constexpr int SAVE_THERMAL_OFFSET = 77;
}  // namespace thermalcmd

inline constexpr double kThermalDefaultCelsius = 23.0;
inline constexpr double kThermalDefaultColdJunction = 25.0;

// What a channel measures: celsius at device time `since`, then drifting, plus noise.
struct ThermalSignal {
  double celsius = kThermalDefaultCelsius;
  double drift = 0;  // degrees per second
  double noise = 0;  // peak, degrees
  std::uint64_t seed = 0;
  double since = 0;
  double at(double t) const;
};

// A channel's settings as the host set them.
struct ThermalSettings {
  int type = 0;
  int filter = 0;
  int oversampling = 0;
  bool junction_on = true;
  double junction_written = kThermalDefaultColdJunction;
  double offset = 0;
};

struct ThermalChannel {
  ThermalSignal signal;
  ThermalSettings settings;
  double saved_offset = 0;
  bool open_circuit = false;
};

struct ThermalPort {
  bool open = false;
  double cold_junction = kThermalDefaultColdJunction;  // measured at the port's terminals
  std::vector<ThermalChannel> channels;
};

class ThermalFirmware final : public FirmwareModule {
 public:
  void install(Firmware& fw) override;

  // Controls, callable from any thread. A port or channel the model lacks, or a non-finite number,
  // raises std::invalid_argument.
  std::vector<int> ports() const;
  int channels() const { return channels_; }
  bool thermocouple() const { return thermocouple_; }
  void setTemperature(int port, int channel, const ThermalSignal& s);  // `since` is set to now
  double temperature(int port, int channel) const;                     // what the sensor sees now
  void setColdJunction(int port, double celsius);
  void setOpenCircuit(int port, int channel, bool fault);
  ThermalPort port(int port) const;

 private:
  // The value a channel reads now.
  double reading(const ThermalPort& p, const ThermalChannel& c) const;
  void reboot();
  // Throw std::invalid_argument for a port or channel the model lacks.
  const ThermalPort& known(int port) const;
  const ThermalChannel& known(int port, int channel) const;
  ThermalPort& known(int port);
  ThermalChannel& known(int port, int channel);

  Firmware* fw_ = nullptr;
  bool thermocouple_ = true;
  int channels_ = 0;
  int default_type_ = 0;
  std::map<int, ThermalPort> ports_;  // under the firmware's lock
};

}  // namespace zelvo::sim
