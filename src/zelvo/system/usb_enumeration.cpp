#include "zelvo/system/usb_enumeration.hpp"

#include "zelvo/core/usb_client.hpp"

namespace zelvo {
namespace {

std::vector<UsbDeviceEntry> attachedDevices() {
  std::vector<UsbDeviceEntry> out;
  for (auto& [serial, product] : listUsbDevices()) out.push_back({std::move(serial), std::move(product)});
  return out;
}

}  // namespace

Op<std::vector<UsbDeviceEntry>> enumerateUSBDevices(Device&, Call&) { co_return attachedDevices(); }

}  // namespace zelvo
