// The DIO peripheral's firmware side.
#pragma once

#include "zelvo/sim/firmware.hpp"

namespace zelvo::sim {

class DioFirmware final : public FirmwareModule {
 public:
  void install(Firmware& fw) override;
};

}  // namespace zelvo::sim
