// Digital I/O module: pins and ports as digital inputs and outputs.
#pragma once

#include "zelvo/core/call.hpp"
#include "zelvo/products/catalogue.hpp"

namespace zelvo {

class DIOModule {
 public:
  DIOModule(Device& dev, const ProductSpec& spec);

 private:
  Device& dev_;
  const ProductSpec& spec_;
};

}  // namespace zelvo
