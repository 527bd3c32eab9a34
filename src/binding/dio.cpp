// The digital I/O module's operations.
#include "binding/modules.hpp"
#include "binding/ops.hpp"
#include "zelvo/dio/dio_module.hpp"

namespace zelvo::py {

void bindDIOModule(nb::handle) {}

}  // namespace zelvo::py
