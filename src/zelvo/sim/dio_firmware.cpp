#include "zelvo/sim/dio_firmware.hpp"

namespace zelvo::sim {

void DioFirmware::install(Firmware&) {}

}  // namespace zelvo::sim
