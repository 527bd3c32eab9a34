// The discovery module's operations on the DeviceFinder class.
#include "binding/modules.hpp"
#include "binding/ops.hpp"
#include "zelvo/system/usb_enumeration.hpp"

namespace zelvo::py {

void bindBroadcastModule(nb::handle cls) {
  // A local listing: no packet, no time-out.
  OpSignature<0> local;
  local.timeout = false;
  constexpr const char* kEnumerateDoc =
      "[serial number, product name] of every attached USB device of the family, in enumeration order\n"
      "(nothing is sent). USBConnectionError when libusb-1.0 is missing.";
  defOpWith<&enumerateUSBDevices>(cls, "Bcst_enumerateUSBDevices", local, kEnumerateDoc);
}

}  // namespace zelvo::py
