// Data logger: rows of values written to a CSV file by a writer thread.
#pragma once

#include "zelvo/core/device.hpp"

namespace zelvo {

class DataLogger {
 public:
  explicit DataLogger(Device& dev);

 private:
  Device& dev_;
};

}  // namespace zelvo
