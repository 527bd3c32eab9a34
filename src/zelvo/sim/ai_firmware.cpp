#include "zelvo/sim/ai_firmware.hpp"

namespace zelvo::sim {

void AiFirmware::install(Firmware&) {}

}  // namespace zelvo::sim
