#include "zelvo/sim/usb_device.hpp"

#include <stdexcept>

namespace zelvo::sim {
namespace {

const ProductSpec& usbProduct(const ProductSpec& prod) {
  if (prod.base != DeviceBase::USB) throw std::invalid_argument(prod.class_name + " is not a USB device");
  return prod;
}

}  // namespace

UsbEmulatedDevice::UsbEmulatedDevice(const ProductSpec& prod, const UsbDeviceOptions& opts)
    : fw_(usbProduct(prod), FirmwareConfig{opts.firmware_version, opts.serial}),
      server_(std::make_unique<UsbDeviceServer>(fw_, faults_)) {
  fw_.setStreamSink([server = server_.get()](Reply packet) { server->sendStream(std::move(packet)); });
}

UsbEmulatedDevice::~UsbEmulatedDevice() {
  fw_.setStreamSink(nullptr);
  server_->stop();
}

void UsbEmulatedDevice::dropConnections() {
  if (!running()) return;
  server_->unplug();
  server_->plug();
}

std::shared_ptr<UsbEmulatedDevice> addUsbDevice(std::string_view class_name, const UsbDeviceOptions& opts) {
  const ProductSpec* prod = findProduct(class_name);
  if (!prod) throw std::invalid_argument("unknown product class '" + std::string(class_name) + "'");
  return std::make_shared<UsbEmulatedDevice>(*prod, opts);
}

std::vector<std::string> usbProducts() {
  std::vector<std::string> out;
  for (const auto& p : products())
    if (p.base == DeviceBase::USB) out.push_back(p.class_name);
  return out;
}

}  // namespace zelvo::sim
