// The USB side of device discovery: the discovery handle lists the attached USB devices of the
// family without sending anything.
#pragma once

#include <string>
#include <vector>

#include "zelvo/core/call.hpp"

namespace zelvo {

// [serial number, product name] of one attached USB device.
using UsbDeviceEntry = std::vector<std::string>;

// Bcst_enumerateUSBDevices: every attached USB device of the family, in enumeration order (what
// _getAllUSBDevices lists). USBConnectionError when libusb-1.0 is missing.
Op<std::vector<UsbDeviceEntry>> enumerateUSBDevices(Device& dev, Call& call);

}  // namespace zelvo
