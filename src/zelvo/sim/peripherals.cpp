// The emulator's side of every module a product lists, one firmware class per row of
// module_list.def.
#include "zelvo/sim/peripherals.hpp"

#include <type_traits>

#include "zelvo/sim/ahrs_firmware.hpp"
#include "zelvo/sim/ai_firmware.hpp"
#include "zelvo/sim/counter_firmware.hpp"
#include "zelvo/sim/ao_firmware.hpp"
#include "zelvo/sim/can_firmware.hpp"
#include "zelvo/sim/dio_firmware.hpp"
#include "zelvo/sim/dpot_firmware.hpp"
#include "zelvo/sim/encoder_firmware.hpp"
#include "zelvo/sim/firmware.hpp"
#include "zelvo/sim/pwm_firmware.hpp"
#include "zelvo/sim/relay_firmware.hpp"
#include "zelvo/sim/network_firmware.hpp"
#include "zelvo/sim/sd_card_firmware.hpp"
#include "zelvo/sim/sntp_firmware.hpp"
#include "zelvo/sim/mcx514_firmware.hpp"
#include "zelvo/sim/tmc5240_firmware.hpp"
#include "zelvo/sim/system_firmware.hpp"
#include "zelvo/sim/thermal_firmware.hpp"
#include "zelvo/sim/wifi_firmware.hpp"
#include "zelvo/sim/i2c_firmware.hpp"
#include "zelvo/sim/spi_firmware.hpp"
#include "zelvo/sim/uart_firmware.hpp"

namespace zelvo::sim {
namespace {

// A module the emulator does not model yet: its commands get the parser-error answer.
struct NoFirmware {};

// Installs F unless the firmware has one already (several modules can share a firmware class).
template <class F>
void install(Firmware& fw) {
  if constexpr (!std::is_same_v<F, NoFirmware>) {
    if (!fw.findModule<F>()) fw.addModule<F>();
  }
}

}  // namespace

void installPeripherals(Firmware& fw) {
  const ProductSpec& p = fw.product();
#define ZELVO_MODULE(Id, Name, Data, Library, Binder, Firmware) \
  if (p.has(ModuleId::Id)) install<Firmware>(fw);
#include "zelvo/catalogue/module_list.def"
#undef ZELVO_MODULE
}

}  // namespace zelvo::sim
