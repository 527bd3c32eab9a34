// The emulator's end of the USB shim (libzelvo_usbsim.so): loads the shim once per process and
// plugs emulated devices into its bus.
//
// The shim is found beside the module that contains the emulator (the Python extension, or the
// program), also when that module was reached through a symbolic link, unless
// setUsbLibraryPath() named a file first. The driver reaches the same devices when it loads the
// same file: ZELVO_LIBUSB=<usbLibraryPath()>.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "zelvo/core/bytes.hpp"

struct zelvo_usbsim_device;

namespace zelvo::sim {

struct UsbShim;

// The shim is missing or unusable.
class UsbShimError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Where the shim is looked for; call before the first USB device is plugged.
void setUsbLibraryPath(std::string path);
// The shim file in use (loads it if needed). Throws UsbShimError.
std::string usbLibraryPath();

// Offers the devices plugged in this process to other processes, on a UNIX socket at
// `socket_path`: a process with ZELVO_USB_EMULATOR=<socket_path> sees them on its USB bus.
// Throws UsbShimError.
void serveUsb(const std::string& socket_path);
// Ends that: attached processes see the devices unplugged.
void stopServingUsb();

struct UsbIdentity {
  std::uint16_t vendor_id = 0;
  std::uint16_t product_id = 0;
  std::uint16_t device_release = 0;
  std::string manufacturer, product, serial_number;
};

// One device plugged into the shim's bus, unplugged when destroyed. `receive` gets every OUT
// transfer, on the host's writing thread; it must copy the bytes and return quickly.
class UsbPlug {
 public:
  using Receive = std::function<void(ByteView transfer)>;

  // Throws UsbShimError.
  UsbPlug(const UsbIdentity& id, Receive receive);
  ~UsbPlug();
  UsbPlug(const UsbPlug&) = delete;
  UsbPlug& operator=(const UsbPlug&) = delete;

  // Queues bytes for the host's IN reads.
  void sendIn(ByteView bytes);
  // Bytes the host has not read yet.
  std::size_t inQueued() const;
  int openHandles() const;
  // The next n IN reads fail (replaces what is left); reads still to fail.
  void failIn(int n);
  int inFailuresLeft() const;

 private:
  static void onOut(void* self, const unsigned char* data, int length);

  const UsbShim& shim_;
  Receive receive_;
  zelvo_usbsim_device* dev_ = nullptr;
};

}  // namespace zelvo::sim
