// System analog readings of the Wi-Fi products: battery voltage, on-board temperature and
// acceleration, and the reset of the analog-input buffer.
#pragma once

#include <mutex>
#include <optional>
#include <vector>

#include "zelvo/core/call.hpp"

namespace zelvo {

// Command codes: core/command_table.def.

class SystemAnalogModule {
 public:
  explicit SystemAnalogModule(Device& dev);

  Op<int> readBattery(Call& call);                   // millivolts; kept in battery()
  Op<double> readThermo(Call& call);                 // degrees Celsius; kept in thermo()
  Op<std::vector<int>> readAcceleration(Call& call);  // the x, y and z words as the board reports them
  Op<int> resetAIBuffer(Call& call);

  std::optional<int> battery() const;
  std::optional<double> thermo() const;

 private:
  mutable std::mutex m_;
  std::optional<int> battery_;
  std::optional<double> thermo_;
};

}  // namespace zelvo
