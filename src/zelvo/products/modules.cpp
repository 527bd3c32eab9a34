#include "zelvo/products/product.hpp"

namespace zelvo {

namespace {

template <class M, class... Args>
void build(Device& dev, std::unique_ptr<M>& slot, Args&&... args) {
  slot = std::make_unique<M>(dev, std::forward<Args>(args)...);
  dev.registerModule(slot.get());
}

}  // namespace

void buildModules(Device& dev, const ProductSpec& spec, ModuleSet& modules) {
  using M = ModuleId;
  if (spec.has(M::System)) build(dev, modules.system);
  if (spec.has(M::DataLogger)) build(dev, modules.logger);
  if (spec.has(M::DIO)) build(dev, modules.dio, spec);
  if (spec.has(M::AI) || spec.has(M::AI24BitStreaming)) build(dev, modules.ai, spec);
  if (spec.has(M::AI24Bit)) build(dev, modules.ai24, spec);
}

}  // namespace zelvo
