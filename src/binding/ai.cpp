// The analog input modules' operations.
#include "binding/modules.hpp"
#include "binding/ops.hpp"
#include "zelvo/analog/ai_module.hpp"

namespace zelvo::py {

void bindAIModule(nb::handle) {}

void bindAI24BitModule(nb::handle) {}

}  // namespace zelvo::py
