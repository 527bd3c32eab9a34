// Thermal inputs: thermocouple (TC) and resistance-thermometer (RTD) channels. The firmware converts
// to degrees Celsius; the host opens and closes a port, reads a channel's temperature and status,
// configures sensor type, noise filter and (thermocouples) oversampling and cold-junction handling,
// and manages a per-channel offset the firmware can store.
//
// Unlike the other modules, the setting operations return the firmware's status byte as it arrives
// (not through the firmware error table), and the reads decode their values without looking at a
// status.
#pragma once

#include <string>
#include <vector>

#include "zelvo/catalogue/catalogue.hpp"
#include "zelvo/core/call.hpp"

namespace zelvo {

// Command codes: core/command_table.def.

class ThermalModule {
 public:
  ThermalModule(Device& dev, const ThermalData& data);

  PairMap pinMap() const { return data_.thermal_dict; }
  std::vector<int> pinMapPorts() const;

  // Checks, before anything is sent: true, or they raise the module's errors.
  bool checkPort(int port) const;
  bool checkChipSelect(int channel) const;
  static bool checkFilterMode(int mode);
  static bool checkSamplingMode(int mode);
  static bool checkTCType(int type);
  static bool checkRTDType(int type);
  // True when every pin of the model's thermal map is in one of the allowed modes, else
  // ThermalPortNotAvaliableError (the port argument is not consulted).
  Op<bool> checkPinState(Call& call, int port, std::vector<std::string> allow_state);

  // Both kinds.
  Op<int> open(Call& call, int port);
  Op<int> close(Call& call, int port);
  Op<double> readSensor(Call& call, int port, int channel);
  Op<int> getStatus(Call& call, int port, int channel);
  Op<int> setNoiseFilter(Call& call, int port, int channel, int mode);
  Op<double> readOffset(Call& call, int port, int channel);
  Op<int> writeOffset(Call& call, int port, int channel, double temperature);
  Op<double> loadOffset(Call& call, int port, int channel);
  Op<int> saveOffset(Call& call, int port, int channel, double temperature);
  // Thermocouples.
  Op<int> setOverSampling(Call& call, int port, int channel, int mode);
  Op<int> setTCType(Call& call, int port, int channel, int type);
  Op<double> readJunction(Call& call, int port, int channel);
  Op<int> setJunctionOn(Call& call, int port, int channel, bool on);
  Op<int> writeJunction(Call& call, int port, int channel, double temperature);
  // Resistance thermometers.
  Op<int> setRTDType(Call& call, int port, int channel, int type);

 private:
  void checkChannel(int port, int channel) const;
  // One per-channel exchange: [port, channel, extra...]; the status byte at `status_at`.
  Op<int> statusOf(Call& call, int cmd, int port, int channel, Bytes extra, const char* operation);
  // One per-channel exchange whose reply holds a temperature at elements 2..5.
  Op<double> valueOf(Call& call, int cmd, int port, int channel, const char* operation);
  Op<int> setTemperature(Call& call, int cmd, int port, int channel, double temperature, const char* operation);

  const ThermalData& data_;
};

}  // namespace zelvo
