// The relay module's operations and checks.
#include "binding/modules.hpp"
#include "binding/ops.hpp"
#include "zelvo/dio/relay_module.hpp"

namespace zelvo::py {

void bindRelayModule(nb::handle cls) {
  using R = RelayModule;
  defOp<&R::open>(cls, "Relay_open", {"port"},
                  "Checks the relay port (0) and sends nothing; returns 0 (the awaitable form: -1 on a product\n"
                  "whose relays it does not know).");
  defOp<&R::close>(cls, "Relay_close", {"port"}, "Checks the relay port (0) and sends nothing; returns 0.");
  defOp<&R::read>(cls, "Relay_read", {"port", "index"},
                  "Switching counters (closings) of the relays: all six for index -1, else relay `index` (0..5).");
  defCheck<&R::checkPort>(cls, "_checkRelayPort", {"port"}, "True, or RelayPortNotAvaliableError unless the port is 0.");
  defCheck<&R::checkIndex>(cls, "_checkRelayindex", {"index"},
                           "True, or RelayCounterIndexError unless the index is -1 (all) or 0..5.");
}

}  // namespace zelvo::py
