// What the emulated bus peripherals (I2C, SPI, UART, CAN) share: their ports come from the
// product's bus map; opening a port takes its pins in the pin-mode table (refused with the bus's
// error status while a pin serves another function), closing gives them back as Idle; every
// command names its port first and is answered [port, status] unless it says otherwise.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <variant>
#include <vector>

#include "zelvo/sim/firmware.hpp"

namespace zelvo::sim {

class BusFirmware : public FirmwareModule {
 public:
  // The bus's port numbers.
  std::vector<int> ports() const;

 protected:
  // `mode`: what the pins of an open port show in the pin-mode table; `error`: the bus's status
  // for a refused command.
  BusFirmware(PinMode mode, Byte error) : mode_(mode), error_(error) {}

  // What a command does on an existing port: a status (answered [port, status]) or the replies it
  // makes itself (none for a command without reply).
  using Outcome = std::variant<Byte, Replies>;
  using Body = std::function<Outcome(const Request& r, int port)>;

  // Keeps `fw` and the ports of `map`; call first in install().
  void attach(Firmware& fw, const PairMap& map);
  // Registers a command of at least `need` payload bytes, the port first: shorter requests are
  // answered [80] (nothing when `silent`), a port the map lacks [port, error status]. The body
  // runs with the module's lock held.
  void route(int code, std::size_t need, Body body, bool silent = false);
  // Takes the port's pins for the bus: the error status (and nothing changed) when one of them
  // serves another function (neither Idle, DI, DO nor the bus's own mode); otherwise 0.
  Byte takePins(int port);
  void releasePins(int port);
  bool hasPort(int port) const { return pins_.contains(port); }
  // Throws std::invalid_argument naming the bus for a port the product lacks (controls).
  void requirePort(int port, const char* bus) const;
  Byte error() const { return error_; }
  Firmware& fw() const { return *fw_; }

  mutable std::mutex mutex_;  // the module's state; taken after the firmware's lock, never before

 private:
  const PinMode mode_;
  const Byte error_;
  Firmware* fw_ = nullptr;
  std::map<int, std::vector<std::pair<int, int>>> pins_;  // bus port -> (device port, pin)
};

}  // namespace zelvo::sim
