// An emulated device on USB: its firmware model and fault plan behind the USB shim, instead of
// a TCP listener. Products whose device base is USB only.
//
//   auto dev = zelvo::sim::addUsbDevice("PellorK1D");
//   load usbLibraryPath() as libusb-1.0 and open the device with serial dev->firmware().serialNumber()
//   dev->unplug();                                   // the host's transfers fail with NO_DEVICE
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "zelvo/sim/faults.hpp"
#include "zelvo/sim/firmware.hpp"
#include "zelvo/sim/system_firmware.hpp"
#include "zelvo/sim/usb_server.hpp"

namespace zelvo::sim {

struct UsbDeviceOptions {
  std::string firmware_version = "1.0.0";
  std::string serial;  // 8 characters; empty picks a fresh one
};

class UsbEmulatedDevice {
 public:
  // Builds the firmware and plugs the device in. Throws std::invalid_argument for a product that
  // is not a USB device or a bad serial number, UsbShimError when the shim is missing.
  UsbEmulatedDevice(const ProductSpec& prod, const UsbDeviceOptions& opts = {});
  ~UsbEmulatedDevice();
  UsbEmulatedDevice(const UsbEmulatedDevice&) = delete;
  UsbEmulatedDevice& operator=(const UsbEmulatedDevice&) = delete;

  // Unplugs for good; the state stays readable.
  void stop() { server_->stop(); }
  bool running() const { return server_->running(); }

  const ProductSpec& product() const { return fw_.product(); }
  Firmware& firmware() { return fw_; }
  const Firmware& firmware() const { return fw_; }
  SystemFirmware& system() const { return fw_.system(); }
  FaultPlan& faults() { return faults_; }
  const FaultPlan& faults() const { return faults_; }

  // Hot-unplug and plug in again (a fresh enumeration).
  void unplug() { server_->unplug(); }
  void plug() { server_->plug(); }
  bool plugged() const { return server_->plugged(); }
  // What ends a connection on USB: unplug and plug in again.
  void dropConnections();
  // Handles the host has open on the device.
  std::size_t connectionCount() const { return server_->openHandles(); }
  void sendStream(Reply packet) { server_->sendStream(std::move(packet)); }
  // A reply nobody asked for: on USB it goes the way of every frame, the IN endpoint.
  void sendUnsolicited(Reply packet) { server_->sendStream(std::move(packet)); }
  UsbDeviceServer& usb() { return *server_; }
  const UsbDeviceServer& usb() const { return *server_; }

 private:
  Firmware fw_;
  FaultPlan faults_;
  std::unique_ptr<UsbDeviceServer> server_;
};

// A new USB device of the product class `class_name`; std::invalid_argument for an unknown class.
std::shared_ptr<UsbEmulatedDevice> addUsbDevice(std::string_view class_name, const UsbDeviceOptions& opts = {});

// Class names of the products that can be emulated on USB, in catalogue order.
std::vector<std::string> usbProducts();

}  // namespace zelvo::sim
