#include "zelvo/products/product.hpp"

namespace zelvo {

void buildModules(Device& dev, const ProductSpec& spec, ModuleSet& modules) {
  if (spec.has(ModuleId::System)) {
    modules.system = std::make_unique<SystemModule>(dev);
    dev.registerModule(modules.system.get());
  }
}

}  // namespace zelvo
