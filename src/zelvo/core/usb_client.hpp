// USB transport: bulk endpoints of a device of the family, through libusb-1.0 loaded at run time.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "zelvo/core/client.hpp"

namespace zelvo {

namespace usb {
struct Library;
}

// How long one bulk read waits before it returns with nothing. Reads repeat while the device is
// connected, so this bounds how long a disconnect waits for the receive thread, and sets the idle
// wake-up rate (a few per second; no busy loop).
inline constexpr unsigned kUsbReadTimeoutMs = 200;
inline constexpr unsigned kUsbWriteTimeoutMs = 1000;

class UsbClient final : public Client {
 public:
  // Opens the first device with the family's vendor/product id whose serial number matches
  // ("default": the first one). USBConnectionError when there is none or libusb is missing.
  explicit UsbClient(const std::string& serial_num = "default");
  ~UsbClient() override;

  std::string takeSerialNumber();
  std::string takeProductName();

  ReadResult read(Byte* buf, std::size_t capacity) override;
  // Pads the frame with zeros to USB_PKT_SIZE; a longer frame is written as it is.
  void send(ByteView frame) override;
  void interrupt() override;
  bool isOpen() const override;

 protected:
  [[noreturn]] void throwReadFailure(const ReadResult& r) override;

 private:
  std::string stringDescriptor(int index);

  const usb::Library& lib_;
  void* handle_ = nullptr;  // libusb_device_handle*
  int serial_index_ = 0;
  int product_index_ = 0;
  bool claimed_ = false;
  std::atomic<bool> interrupted_{false};
  std::atomic<bool> gone_{false};
  std::mutex send_m_;
};

// [serial number, product name] of every attached device of the family, in enumeration order.
std::vector<std::pair<std::string, std::string>> listUsbDevices();

// The path of the library file that would be (or was) loaded, for diagnostics.
std::string libusbPath();

}  // namespace zelvo
