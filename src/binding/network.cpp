// The network configuration module's operations, their Sys_* aliases, and the attributes its
// reads leave on the device.
#include "binding/modules.hpp"
#include "binding/ops.hpp"
#include "zelvo/system/network_module.hpp"

namespace zelvo::py {

void bindNetworkModule(nb::handle cls) {
  using N = NetworkModule;
  OpSignature<2> set_ip({"ip_addr", "subnet_mask"});
  set_ip.defaults[1] = nb::str(kDefaultSubnetMask);
  constexpr const char* kSetIPDoc = "Sets the device's IP address and subnet mask; 0 or a negative error code.";
  // Each operation under its name and under the older Sys_* name scripts still use.
  for (const char* prefix : {"Net_", "Sys_"}) {
    const std::string p(prefix);
    defOp<&N::getGateway>(cls, (p + "getGateway").c_str(), {}, "The gateway address ('a.b.c.d').");
    defOp<&N::getIPAddrAndSubmask>(cls, (p + "getIPAddrAndSubmask").c_str(), {}, "[IP address, subnet mask].");
    defOp<&N::getMACAddr>(cls, (p + "getMACAddr").c_str(), {}, "The MAC address: six hexadecimal fields without leading zeros.");
    defOpWith<&N::setIPAddrAndSubmask>(cls, (p + "setIPAddrAndSubmask").c_str(), set_ip, kSetIPDoc);
  }
  defOp<&N::setGateway>(cls, "_setGateway", {"gateway"}, "Sets the gateway address; 0 or a negative error code.");
  defOp<&N::setMACAddr>(cls, "_setMACAddr", {"mac_addr"}, "Sets the MAC address; 0 or a negative error code.");

  defState<N>(cls, "gateway", [](const N& n) { return n.state().gateway; }, "The last Net_getGateway text (None before).");
  defState<N>(cls, "ip_addr", [](const N& n) { return n.ipAddr(); },
              "The IP address the last Net_getIPAddrAndSubmask read while connected as now; otherwise the\n"
              "address connected to (None before).");
  defState<N>(cls, "subnet_mask", [](const N& n) { return n.state().subnet_mask; }, "The last subnet mask read.");
  defState<N>(cls, "mac_addr", [](const N& n) { return n.state().mac_addr; }, "The last Net_getMACAddr text.");
}

}  // namespace zelvo::py
