// SPI: the device as SPI master. Open and close a port, set data size, bit order, clock prescaler
// and clock mode, and write, read, or write-and-read bytes; every operation is one exchange (the
// clock mode two).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zelvo/bus/bus_ports.hpp"

namespace zelvo {

// Command codes: core/command_table.def.

class SPIModule {
 public:
  SPIModule(Device& dev, const PairMap& spi_dict);

  Op<int> open(Call& call, int port);
  Op<int> close(Call& call, int port);
  Op<int> reset(Call& call, int port);
  Op<int> setDataSize(Call& call, int port, int mode);
  Op<int> setFirstBit(Call& call, int port, int mode);
  Op<int> setPrescaler(Call& call, int port, int prescaler);
  // CPOL, then CPHA; the first non-zero status of the two (0 when both succeed).
  Op<int> setMode(Call& call, int port, int mode);
  Op<int> setCPOL(Call& call, int port, std::int64_t polarity);
  Op<int> setCPHA(Call& call, int port, std::int64_t phase);
  Op<int> write(Call& call, int port, std::vector<std::int64_t> write_data);
  // The reading operations return the reply from element 2 to its end (no status is examined).
  Op<std::vector<int>> read(Call& call, int port, std::int64_t bytes_to_read);
  Op<std::vector<int>> readAndWrite(Call& call, int port, std::vector<std::int64_t> write_data);

  bool checkPort(int port) const { return ports_.check(port); }
  static bool checkDataSize(int mode);
  static bool checkFirstBit(int mode);
  static bool checkPrescaler(int prescaler);
  static bool checkMode(int mode);
  Op<bool> checkPinState(Call& call, int port, std::vector<std::string> allow_state);
  std::vector<int> pinMapPorts(int port) const { return ports_.dioPorts(port); }
  PairMap pinMap() const { return ports_.map(); }

 private:
  // port; the number of bytes; the bytes.
  static Bytes dataPayload(int port, const std::vector<std::int64_t>& data);

  BusPortMap ports_;
};

}  // namespace zelvo
