// The data logger's operations.
#include "binding/modules.hpp"
#include "binding/ops.hpp"
#include "zelvo/analog/data_logger.hpp"

namespace zelvo::py {

void bindDataLogger(nb::handle) {}

}  // namespace zelvo::py
