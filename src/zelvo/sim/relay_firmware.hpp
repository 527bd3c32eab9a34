// The relay peripheral's firmware side: six relays driven by the product's digital outputs (relay
// k by the k-th pin of the DO map, in map order), each with a 32-bit counter of its off-to-on
// transitions.
//
// Model of the device:
// - A relay closes when its DO pin starts driving high (the DIO firmware reports every change of
//   what a port drives); each closing adds one to the relay's counter, modulo 2^32.
// - RELAY_READ [port, index] -> [port, 0, counter...]: every counter for index 255, the one named
//   for 0..5; port other than 0, or another index: [port, 51].
// Tests can preset the counters.
#pragma once

#include <array>
#include <cstdint>
#include <utility>

#include "zelvo/sim/firmware.hpp"

namespace zelvo::sim {

// Command codes, under the names the library gives them.
namespace relaycmd {
inline constexpr int RELAY_READ = 6912;
}  // namespace relaycmd

class RelayFirmware final : public FirmwareModule {
 public:
  static constexpr int kRelays = 6;

  void install(Firmware& fw) override;

  // Safe from any thread; a relay other than 0..5 throws std::invalid_argument.
  std::array<std::uint32_t, kRelays> counts() const;
  void setCount(int relay, std::uint32_t value);
  // Whether the relay is closed (its pin driven high) now.
  bool closed(int relay) const;
  // The (port, pin) of the digital output that drives the relay.
  std::pair<int, int> pinOf(int relay) const;

 private:
  void outputsChanged(int port, std::uint16_t before, std::uint16_t after);
  int known(int relay) const;

  Firmware* fw_ = nullptr;
  std::array<std::pair<int, int>, kRelays> pins_{};
  std::array<std::uint32_t, kRelays> counts_{};
  std::array<bool, kRelays> closed_{};
};

}  // namespace zelvo::sim
