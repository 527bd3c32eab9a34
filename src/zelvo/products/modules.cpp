// The modules of a product, one per row of module_list.def that the product's entry lists.
#include <optional>
#include <type_traits>

#include "zelvo/analog/ahrs_module.hpp"
#include "zelvo/analog/ai_module.hpp"
#include "zelvo/analog/ao_module.hpp"
#include "zelvo/analog/data_logger.hpp"
#include "zelvo/dio/counter_module.hpp"
#include "zelvo/analog/thermal_module.hpp"
#include "zelvo/bus/can_module.hpp"
#include "zelvo/bus/i2c_module.hpp"
#include "zelvo/bus/spi_module.hpp"
#include "zelvo/bus/uart_module.hpp"
#include "zelvo/dio/dio_module.hpp"
#include "zelvo/dio/dpot_module.hpp"
#include "zelvo/dio/encoder_module.hpp"
#include "zelvo/dio/pwm_module.hpp"
#include "zelvo/dio/relay_module.hpp"
#include "zelvo/motion/mcx514_module.hpp"
#include "zelvo/motion/tmc5240_module.hpp"
#include "zelvo/products/product.hpp"
#include "zelvo/system/system_analog_module.hpp"
#include "zelvo/system/broadcast_module.hpp"
#include "zelvo/system/network_module.hpp"
#include "zelvo/system/sd_card_module.hpp"
#include "zelvo/system/sntp_module.hpp"
#include "zelvo/system/system_module.hpp"
#include "zelvo/system/wifi_module.hpp"

namespace zelvo {
namespace {

// A module the library does not implement yet: nothing to build.
struct NoModule {};

// Builds module M with its slice of the catalogue entry.
template <class M, class Data>
void build(Device& dev, ModuleSet& modules, const Data& data) {
  if constexpr (std::is_same_v<M, NoModule>) {
    return;
  } else if constexpr (std::is_same_v<Data, std::nullopt_t>) {
    modules.add<M>(dev);
  } else if constexpr (requires { data.has_value(); }) {
    if (!data) throw Error(Err::APINotSupportError, "The catalogue entry lacks the module's data.");
    modules.add<M>(dev, *data);
  } else {
    modules.add<M>(dev, data);
  }
}

}  // namespace

ModuleSet::~ModuleSet() {
  while (!owned_.empty()) owned_.pop_back();
}

void buildModules(Device& dev, const ProductSpec& spec, ModuleSet& modules) {
#define ZELVO_MODULE(Id, Name, Data, Library, Binder, Firmware) \
  if (spec.has(ModuleId::Id)) build<Library>(dev, modules, spec.Data);
#include "zelvo/catalogue/module_list.def"
#undef ZELVO_MODULE
}

}  // namespace zelvo
