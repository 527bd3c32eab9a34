// I2C: the device as I2C master. Open and close a port, set its clock rate and address size, write
// bytes to a slave address and read bytes from one; every operation is one exchange.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zelvo/bus/bus_ports.hpp"

namespace zelvo {

// Command codes: core/command_table.def.

class I2CModule {
 public:
  I2CModule(Device& dev, const PairMap& i2c_dict);

  Op<int> open(Call& call, int port);
  Op<int> close(Call& call, int port);
  Op<int> reset(Call& call, int port);
  Op<int> setClockRate(Call& call, int port, int mode);
  Op<int> setAddressSize(Call& call, int port, int mode);
  Op<int> write(Call& call, int port, std::int64_t write_address, std::vector<std::int64_t> write_data);
  // The reply from element 3 to its end (no status is examined).
  Op<std::vector<int>> read(Call& call, int port, std::int64_t read_address, std::int64_t bytes_to_read);

  // Checks: true, or the module's errors.
  bool checkPort(int port) const { return ports_.check(port); }
  static bool checkClockRate(int mode);
  static bool checkAddressSize(int mode);
  Op<bool> checkPinState(Call& call, int port, std::vector<std::string> modes);
  std::vector<int> pinMapPorts(int port) const { return ports_.dioPorts(port); }
  PairMap pinMap() const { return ports_.map(); }
  // The clock frequency a mode stands for, in hertz.
  static std::int64_t clockRateHz(int mode);

 private:
  BusPortMap ports_;
};

}  // namespace zelvo
