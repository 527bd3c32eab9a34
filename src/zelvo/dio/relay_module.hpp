// Relay module: the switching counters of the relays (how often each relay closed). Opening and
// closing only check the port; reading sends [port, index AND 255] and decodes unsigned 32-bit
// counters.
#pragma once

#include <cstdint>
#include <vector>

#include "zelvo/catalogue/catalogue.hpp"
#include "zelvo/core/call.hpp"

namespace zelvo {

// Command codes: core/command_table.def.

class RelayModule {
 public:
  static constexpr int kPort = 0;
  static constexpr int kAllCounters = -1;  // index of every counter at once
  static constexpr int kCounters = 6;

  RelayModule(Device& dev, const RelayData& relay);

  // True, or RelayPortNotAvaliableError unless the port is 0.
  static bool checkPort(int port);
  // True, or RelayCounterIndexError unless the index is -1 (all counters) or 0..5.
  static bool checkIndex(int index);

  // Check the port and send nothing: 0. The awaitable form returns -1 on a product whose relays
  // it does not know (the catalogue's async_open_supported).
  Op<int> open(Call& call, int port);
  Op<int> close(Call& call, int port);
  // The counters: all six for index -1, else the one named. A reply too short for them raises
  // FirmwareOtherError; the firmware status is not examined.
  Op<std::vector<std::int64_t>> read(Call& call, int port, int index);

 private:
  const RelayData& relay_;
};

}  // namespace zelvo
