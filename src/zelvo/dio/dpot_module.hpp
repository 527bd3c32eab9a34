// Digital potentiometer module: the resistance ratio of up to four potentiometer channels on port
// 0. Opening and closing only check the port. Ratios are written as single-precision reals; the
// device reads a channel back as an unsigned 32-bit value.
#pragma once

#include <cstdint>
#include <vector>

#include "zelvo/core/call.hpp"

namespace zelvo {

// Command codes: core/command_table.def.

class DPOTModule {
 public:
  static constexpr int kPort = 0;
  static constexpr int kMaxChannelAmount = 4;

  explicit DPOTModule(Device& dev);

  // True, or DPOTPortNotAvaliableError unless the port is 0.
  static bool checkPort(int port);
  // True, or DPOTChannelNotAvaliableError unless 0 <= value <= 4 (a channel, or a number of
  // ratios; channel 4 passes and the device judges it).
  static bool checkChannelAmount(std::int64_t value);

  Op<int> open(Call& call, int port);
  Op<int> close(Call& call, int port);
  // Status convention.
  Op<int> writeByChannel(Call& call, int port, int channel, double resistance_ratio);
  // Reply elements 2..5 as an unsigned 32-bit value (FirmwareOtherError when shorter).
  Op<std::int64_t> readByChannel(Call& call, int port, int channel);
  // One ratio per channel from channel 0 on, at most four; an empty list sends the port alone.
  Op<int> writeAllChannel(Call& call, int port, std::vector<double> resistance_ratio);
};

}  // namespace zelvo
