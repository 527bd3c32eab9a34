// Binders that add a module's operations and attributes to a product class.
#pragma once

#include <nanobind/nanobind.h>

namespace zelvo::py {

void bindSystemModule(nanobind::handle cls);

}  // namespace zelvo::py
