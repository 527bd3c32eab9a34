// The AI peripheral's firmware side.
#pragma once

#include "zelvo/sim/firmware.hpp"

namespace zelvo::sim {

class AiFirmware final : public FirmwareModule {
 public:
  void install(Firmware& fw) override;
};

}  // namespace zelvo::sim
