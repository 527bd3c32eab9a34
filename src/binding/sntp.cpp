// The SNTP module's operations.
#include "binding/modules.hpp"
#include "binding/ops.hpp"
#include "zelvo/system/sntp_module.hpp"

namespace zelvo::py {

void bindSNTPModule(nb::handle cls) {
  using S = SNTPModule;
  defOp<&S::syncNow>(cls, "SNTP_syncNow", {}, "Synchronises the device clock now; 0 or a negative error code.");
  defOp<&S::getSyncStatus>(cls, "SNTP_getSyncStatus", {},
                           "The address of the time server in use ('0.0.0.0': none is reachable).");
  defOp<&S::getServerIP>(cls, "SNTP_getServerIP", {},
                         "The time server address set ('255.255.255.255': the device searches for one).");
  defOp<&S::setServerIP>(cls, "SNTP_setServerIP", {"ip_addr"},
                         "Sets the time server address ('255.255.255.255': search); 0 or a negative error code.");
  defOp<&S::getPeriod>(cls, "SNTP_getPeriod", {}, "Seconds between synchronisations.");
  defOp<&S::setPeriod>(cls, "SNTP_setPeriod", {"period"},
                       "Sets the seconds between synchronisations; 0 or a negative error code.");
}

}  // namespace zelvo::py
