#include "zelvo/sim/peripherals.hpp"

#include "zelvo/sim/ai_firmware.hpp"
#include "zelvo/sim/dio_firmware.hpp"
#include "zelvo/sim/firmware.hpp"

namespace zelvo::sim {

void installPeripherals(Firmware& fw) {
  const ProductSpec& p = fw.product();
  if (p.has(ModuleId::DIO)) fw.addModule<DioFirmware>();
  if (p.has(ModuleId::AI) || p.has(ModuleId::AI24BitStreaming) || p.has(ModuleId::AI24Bit)) fw.addModule<AiFirmware>();
}

}  // namespace zelvo::sim
