// The discovery module's operations on the DeviceFinder class.
#include "binding/modules.hpp"
#include "binding/ops.hpp"
#include "zelvo/system/broadcast_module.hpp"
#include "zelvo/system/usb_enumeration.hpp"

namespace zelvo::py {
namespace {

// Discovery operations wait a fixed collection time: no `timeout` argument.
template <auto Fn, std::size_t N>
void defSearch(nb::handle cls, const char* name, const std::array<const char*, N>& names, const char* doc) {
  OpSignature<N> sig(names);
  sig.timeout = false;
  defOpWith<Fn, N>(cls, name, sig, doc);
}

void bindFinderControls(nb::handle cls) {
  auto get = nb::cpp_function([](BroadcastDevice& d) { return d.collectSeconds(); }, nb::is_method());
  auto set = nb::cpp_function(
      [](BroadcastDevice& d, nb::handle seconds) { d.setCollectSeconds(Arg<double>::from(seconds, "seconds")); },
      nb::is_method(), nb::arg("seconds").none());
  setProperty(cls, "_collect_seconds", get, set,
              "Seconds each discovery operation collects answers (5; tests shorten it).");
}

}  // namespace

void bindBroadcastModule(nb::handle cls) {
  using B = BroadcastModule;
  defSearch<&B::enumerateNetworkDevices, 0>(
      cls, "Bcst_enumerateNetworkDevices", {},
      "Every device that answered within the collection time, in arrival order: [IP address, subnet\n"
      "mask, MAC address, firmware model, serial number, alias, application information, gateway].\n"
      "Answers too short to be a record are skipped; an unbound finder finds nothing.");
  defSearch<&B::checkMACAndSetIP, 4>(
      cls, "Bcst_checkMACAndSetIP", {"ip_addr", "mac_addr", "gateway", "subnet"},
      "Sets IP address, gateway and subnet mask of the device with this MAC address; the status of the\n"
      "first answer (0 or a negative error code). ReceivePacketTimeoutError when no device answered.");
  defSearch<&B::checkMACAndRing, 1>(
      cls, "Bcst_checkMACAndRing", {"mac_addr"},
      "Makes the device with this MAC address signal its presence; its answer record.\n"
      "ReceivePacketTimeoutError when no device answered.");
  defSearch<&B::checkMACAndReboot, 1>(
      cls, "Bcst_checkMACAndReboot", {"mac_addr"},
      "Reboots the device with this MAC address; the status of the first answer (0 or a negative\n"
      "error code). ReceivePacketTimeoutError when no device answered.");
  // A local listing: no packet, no time-out.
  OpSignature<0> local;
  local.timeout = false;
  constexpr const char* kEnumerateDoc =
      "[serial number, product name] of every attached USB device of the family, in enumeration order\n"
      "(nothing is sent). USBConnectionError when libusb-1.0 is missing.";
  defOpWith<&enumerateUSBDevices>(cls, "Bcst_enumerateUSBDevices", local, kEnumerateDoc);
  bindFinderControls(cls);
}

}  // namespace zelvo::py
