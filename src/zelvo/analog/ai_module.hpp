// Analog input: on-demand reads and streamed acquisition (16-bit models, the 24-bit streaming
// model), and the on-demand 24-bit module.
#pragma once

#include "zelvo/core/call.hpp"
#include "zelvo/products/catalogue.hpp"

namespace zelvo {

class AIModule {
 public:
  AIModule(Device& dev, const ProductSpec& spec);

 private:
  Device& dev_;
  const ProductSpec& spec_;
};

class AI24BitModule {
 public:
  AI24BitModule(Device& dev, const ProductSpec& spec);

 private:
  Device& dev_;
  const ProductSpec& spec_;
};

}  // namespace zelvo
