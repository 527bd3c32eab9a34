// The digital potentiometer module's operations and checks.
#include "binding/modules.hpp"
#include "binding/ops.hpp"
#include "zelvo/dio/dpot_module.hpp"

namespace zelvo::py {

void bindDPOTModule(nb::handle cls) {
  using D = DPOTModule;
  defOp<&D::open>(cls, "DPOT_open", {"port"}, "Checks the potentiometer port (0) and sends nothing; returns 0.");
  defOp<&D::close>(cls, "DPOT_close", {"port"}, "Checks the potentiometer port (0) and sends nothing; returns 0.");
  defOp<&D::writeByChannel>(cls, "DPOT_writeByChannel", {"port", "channel", "resistance_ratio"},
                            "Sets one channel's resistance ratio; 0 or a negative firmware error code.");
  defOp<&D::readByChannel>(cls, "DPOT_readByChannel", {"port", "channel"},
                           "The value the device reports for a channel (an unsigned 32-bit number).");
  defOp<&D::writeAllChannel>(cls, "DPOT_writeAllChannel", {"port", "resistance_ratio"},
                             "Sets channels 0.. from a list of at most four ratios; 0 or a negative code.");
  defCheck<&D::checkPort>(cls, "_checkDPOTPort", {"port"}, "True, or DPOTPortNotAvaliableError unless the port is 0.");
  defCheck<&D::checkChannelAmount>(cls, "_checkDPOTChannelAmount", {"value"},
                                   "True, or DPOTChannelNotAvaliableError unless 0 <= value <= 4.");
}

}  // namespace zelvo::py
