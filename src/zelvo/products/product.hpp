// Product classes: a device base plus the modules of the model, built from the catalogue.
#pragma once

#include <memory>
#include <utility>
#include <vector>

#include "zelvo/catalogue/catalogue.hpp"
#include "zelvo/core/console.hpp"
#include "zelvo/core/device.hpp"

namespace zelvo {

// The module objects of one product. Each module registers itself with the device so operations
// can reach it; they are destroyed in the reverse order of their building.
class ModuleSet {
 public:
  ModuleSet() = default;
  ModuleSet(const ModuleSet&) = delete;
  ModuleSet& operator=(const ModuleSet&) = delete;
  ~ModuleSet();

  template <class M, class... Args>
  void add(Device& dev, Args&&... args) {
    auto m = std::make_shared<M>(dev, std::forward<Args>(args)...);
    dev.registerModule(m.get());
    owned_.push_back(std::move(m));
  }

 private:
  std::vector<std::shared_ptr<void>> owned_;  // each keeps its own deleter
};

// Creates the modules the product's catalogue entry lists (module_list.def), each with its slice
// of the entry.
void buildModules(Device& dev, const ProductSpec& spec, ModuleSet& modules);

template <class Base>
class Product : public Base {
 public:
  explicit Product(const ProductSpec& spec, bool verbose = true) : Base(spec.model, verbose), spec_(spec) {
    // Should a module fail to build, the base destructor stops the receive threads it started.
    buildModules(*this, spec_, modules_);
  }
  ~Product() override {
    this->warnIfLeftOpen();
    console::withoutInterpreterLock([this] { this->closeOnDestruction(); });
  }
  const ProductSpec& spec() const { return spec_; }

 private:
  const ProductSpec& spec_;
  ModuleSet modules_;
};

// One C++ type per product class (each becomes its own Python class).
#define ZELVO_PRODUCT(Name, Base)                                                 \
  class Name final : public Product<Base> {                                       \
   public:                                                                        \
    explicit Name(bool verbose = true) : Product<Base>(product(#Name), verbose) {} \
  };
#include "zelvo/products/product_list.def"
#undef ZELVO_PRODUCT

}  // namespace zelvo
