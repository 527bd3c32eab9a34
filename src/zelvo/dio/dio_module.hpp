// Digital I/O module: the general-purpose pins of a device as digital inputs (DI) and outputs
// (DO). Pins are grouped in ports; the firmware keeps three 16-bit words per port (enabled,
// direction, state) and every command names the pins it affects with a 16-bit mask. Requests are
// checked against the model's pin maps, and opens against the pin modes the device reports,
// before anything is sent.
#pragma once

#include <cstdint>
#include <tuple>
#include <vector>

#include "zelvo/core/call.hpp"
#include "zelvo/dio/pin_selection.hpp"
#include "zelvo/catalogue/catalogue.hpp"

namespace zelvo {

// Command codes: core/command_table.def.

// A mask (or word) with every bit set: the whole port.
inline constexpr int kWholePort = 0xFFFF;

// (enabled, direction, state) of a port, each one level per pin.
using DIOWords = std::tuple<std::vector<int>, std::vector<int>, std::vector<int>>;

class DIOModule {
 public:
  DIOModule(Device& dev, const DIOData& dio);

  const PinMap& diDict() const { return dio_.di_dict; }
  const PinMap& doDict() const { return dio_.do_dict; }
  int numPinsPerPort() const { return dio_.dio_num_pins_per_port; }
  // Models whose pin directions are wired in hardware: opening and closing does nothing there.
  bool fixedDirection() const { return dio_.fixed_direction; }

  // Checks, before anything is sent. Each returns true or throws DIPortNotAvaliableError /
  // DOPortNotAvaliableError (port not in the map) or PinsNotExistError (pins not in the map).
  bool checkDIPort(int port) const;
  bool checkDOPort(int port) const;
  bool checkDIPortAndPin(int port, const PinSelection& pin) const;
  bool checkDOPortAndPin(int port, const PinSelection& pin) const;

  Op<PinMap> getDIPinMap(Call& call);
  Op<PinMap> getDOPinMap(Call& call);

  // Public operations.
  Op<int> openDIPins(Call& call, int port, PinSelection pin);
  Op<int> openDIPort(Call& call, int port);
  Op<int> closeDIPins(Call& call, int port, PinSelection pin);
  Op<int> closeDIPort(Call& call, int port);
  Op<std::vector<int>> readDIPins(Call& call, int port, PinSelection pin);
  Op<std::vector<int>> readDIPort(Call& call, int port);
  Op<int> openDOPins(Call& call, int port, PinSelection pin);
  Op<int> openDOPort(Call& call, int port);
  Op<int> closeDOPins(Call& call, int port, PinSelection pin);
  Op<int> closeDOPort(Call& call, int port);
  Op<int> writeDOPins(Call& call, int port, PinSelection pin, PinSelection value);
  Op<int> writeDOPort(Call& call, int port, PinSelection value);
  Op<std::vector<int>> toggleDOPins(Call& call, int port, PinSelection pin);
  Op<std::vector<int>> toggleDOPort(Call& call, int port);
  Op<DIOWords> loadStartup(Call& call, int port);

  // Low-level operations: one exchange each. Ports must be bytes and words 0..65535
  // (InputDataNotInRangeError); nothing else is checked, the firmware judges.
  Op<int> setDIOCurrent(Call& call, int port, int mask, int enabled, int direction, int state);
  Op<DIOWords> getDIOCurrent(Call& call, int port, int mask);
  Op<int> saveStartup(Call& call, int port, int enabled, int direction, int state);
  Op<std::vector<int>> getDIOState(Call& call, int port, int mask);
  Op<int> setDIOState(Call& call, int port, int mask, int state);
  Op<int> toggleDIODirection(Call& call, int port, int mask, int state);
  Op<std::vector<int>> readAndGetDI(Call& call, int port, int mask);
  Op<std::vector<int>> setAndWriteDO(Call& call, int port, int mask, int state);
  Op<std::vector<int>> toggleAndWriteDO(Call& call, int port, int mask);
  Op<int> readDI(Call& call, int port);
  Op<int> writeDO(Call& call, int port);
  Op<int> setPortIdle(Call& call, int port);
  Op<int> setPortDI(Call& call, int port);
  Op<int> setPortDO(Call& call, int port);
  Op<int> closeDIOInPins(Call& call, int port, int mask);
  Op<int> closeDIOInPort(Call& call, int port);

 private:
  // What distinguishes the input side from the output side in the shared open/close logic.
  struct Side {
    const PinMap* map;
    Err unavailable;   // DIPortNotAvaliableError / DOPortNotAvaliableError
    const char* mode;  // the pin mode, besides "Idle", that allows opening: "DI" / "DO"
    int direction;     // direction word of opened pins: inputs 0, outputs all ones
  };

  Side inputs() const;
  Side outputs() const;
  // The pins the map lists for a port that exists in it.
  const std::vector<int>& checkPort(const Side& side, int port) const;
  // Port and pin checks; returns the selection's index list.
  std::vector<int> checkPortAndPins(const Side& side, int port, const PinSelection& pin) const;
  // The pin modes that let a side open a pin: unused, or already the side's.
  static std::vector<std::string> allowedModes(const Side& side);
  Op<int> openPins(Call& call, Side side, int port, PinSelection pin);
  Op<int> openPort(Call& call, Side side, int port);
  Op<int> closePins(Call& call, Side side, int port, PinSelection pin);
  Op<int> closePort(Call& call, Side side, int port);
  // Exchanges under the two reply conventions.
  Op<int> statusExchange(Call& call, int cmd, Bytes payload, const char* operation);
  Op<std::vector<int>> levelsExchange(Call& call, int cmd, Bytes payload, const char* operation);
  Op<DIOWords> configExchange(Call& call, int cmd, Bytes payload, const char* operation);

  Device& dev_;
  const DIOData& dio_;
};

}  // namespace zelvo
