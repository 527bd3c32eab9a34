// Product classes: a device base plus the modules of the model, built from the catalogue.
#pragma once

#include <memory>
#include <vector>

#include "zelvo/analog/ai_module.hpp"
#include "zelvo/analog/data_logger.hpp"
#include "zelvo/catalogue/catalogue.hpp"
#include "zelvo/core/console.hpp"
#include "zelvo/core/device.hpp"
#include "zelvo/dio/dio_module.hpp"
#include "zelvo/system/system_module.hpp"

namespace zelvo {

// The module objects of one product. Each module registers itself with the device so operations
// can reach it; close hooks release module workers at close().
struct ModuleSet {
  std::unique_ptr<SystemModule> system;
  std::unique_ptr<DataLogger> logger;
  std::unique_ptr<DIOModule> dio;
  std::unique_ptr<AIModule> ai;        // AIModule and AI24BitStreamingModule products
  std::unique_ptr<AI24BitModule> ai24;  // on-demand 24-bit products
};

// Creates the modules the product's catalogue entry lists.
void buildModules(Device& dev, const ProductSpec& spec, ModuleSet& modules);

template <class Base>
class Product : public Base {
 public:
  explicit Product(const ProductSpec& spec) : Base(spec.model), spec_(spec) {
    // Should a module fail to build, the base destructor stops the receive threads it started.
    buildModules(*this, spec_, modules_);
  }
  ~Product() override {
    console::withoutInterpreterLock([this] { this->closeOnDestruction(); });
  }
  const ProductSpec& spec() const { return spec_; }

 private:
  const ProductSpec& spec_;
  ModuleSet modules_;
};

// One C++ type per product class (each becomes its own Python class).
#define ZELVO_PRODUCT(Name, Base)                                  \
  class Name final : public Product<Base> {                        \
   public:                                                         \
    Name() : Product<Base>(product(#Name)) {}                      \
  };
#include "zelvo/products/product_list.def"
#undef ZELVO_PRODUCT

}  // namespace zelvo
