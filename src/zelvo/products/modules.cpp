#include "zelvo/products/product.hpp"

namespace zelvo {

namespace {

template <class M, class... Args>
void build(Device& dev, std::unique_ptr<M>& slot, Args&&... args) {
  slot = std::make_unique<M>(dev, std::forward<Args>(args)...);
  dev.registerModule(slot.get());
}

// A module's slice of the entry; APINotSupportError when the entry lacks it.
template <class T>
const T& slice(const std::optional<T>& data) {
  if (!data) throw Error(Err::APINotSupportError);
  return *data;
}

}  // namespace

void buildModules(Device& dev, const ProductSpec& spec, ModuleSet& modules) {
  using M = ModuleId;
  if (spec.has(M::System)) build(dev, modules.system, spec.system);
  if (spec.has(M::DataLogger)) build(dev, modules.logger);
  if (spec.has(M::DIO)) build(dev, modules.dio, slice(spec.dio));
  if (spec.has(M::AI) || spec.has(M::AI24BitStreaming)) build(dev, modules.ai, slice(spec.ai));
  if (spec.has(M::AI24Bit)) build(dev, modules.ai24, slice(spec.ai24));
}

}  // namespace zelvo
