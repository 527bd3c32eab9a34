// USB transport: bulk endpoints of a device of the family, through libusb-1.0 loaded at run time.
//
// Reads use one asynchronous IN transfer at a time: the reading thread waits in libusb's event
// handling until the transfer completes, so an idle device costs no wake-ups, and interrupt()
// cancels the transfer, so a disconnect does not wait for a time-out.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "zelvo/core/client.hpp"

struct libusb_device_handle;
struct libusb_transfer;

namespace zelvo {

namespace usb {
struct Library;
}

// How long a read of a client used on its own (USBClient.recvPacket) waits for data; a device's
// receive thread sets 0 (no limit: it is woken by data, an unplug or interrupt()).
inline constexpr unsigned kUsbReadTimeoutMs = 200;
inline constexpr unsigned kUsbWriteTimeoutMs = 1000;

class UsbClient final : public Client {
 public:
  // Opens the first device with the family's vendor/product id whose serial number matches
  // ("default": the first one whose interface is free), detaches a kernel driver and claims
  // interface 0. USBConnectionError when there is none, it is in use, or libusb is missing.
  explicit UsbClient(const std::string& serial_num = "default");
  ~UsbClient() override;

  // The device's string descriptors; USBConnectionError when they cannot be read.
  std::string takeSerialNumber();
  std::string takeProductName();

  ReadResult read(Byte* buf, std::size_t capacity) override;
  // Pads the frame with zeros to USB_PKT_SIZE; a longer frame is written as it is.
  void send(ByteView frame) override;
  void interrupt() override;
  bool isOpen() const override;

  // Read time-out in milliseconds; 0 waits without limit.
  void setReadTimeout(unsigned ms);
  // Releases interface 0 and closes the handle, even while other references to the client
  // exist; later reads end Closed and sends raise. Idempotent.
  void close();
  // The device was unplugged (a transfer reported LIBUSB_ERROR_NO_DEVICE).
  bool gone() const { return gone_.load(); }

 protected:
  [[noreturn]] void throwReadFailure(const ReadResult& r) override;

 private:
  std::string stringDescriptor(int index);
  std::optional<ReadResult> startRead(std::size_t capacity);
  ReadResult finishRead(Byte* buf, std::size_t capacity);
  ReadResult failure(int rc);

  const usb::Library& lib_;
  libusb_device_handle* handle_ = nullptr;
  int serial_index_ = 0;
  int product_index_ = 0;
  std::atomic<bool> interrupted_{false};
  std::atomic<bool> gone_{false};
  std::atomic<bool> closed_{false};
  std::mutex send_m_;

  // The IN transfer. Its callback sets `in_done_` (the flag libusb's event handling watches) and
  // `in_complete_` (the one this class reads).
  static void onInDone(libusb_transfer* t);
  mutable std::mutex read_m_;
  std::condition_variable read_cv_;
  libusb_transfer* in_ = nullptr;
  Bytes in_buf_;
  int in_done_ = 0;
  std::atomic<bool> in_complete_{false};
  bool in_flight_ = false;  // submitted and not yet reaped
  bool reading_ = false;    // a thread is inside read()
  unsigned read_timeout_ms_ = kUsbReadTimeoutMs;
};

// [serial number, product name] of every attached device of the family, in enumeration order.
std::vector<std::pair<std::string, std::string>> listUsbDevices();

// The path of the library file that would be (or was) loaded, for diagnostics.
std::string libusbPath();

// Further libusb-1.0 files to try after ../ext_lib and before the system's library (a Python
// package that carries one). Set by the binding at import.
void setLibusbCandidates(std::vector<std::string> files);

}  // namespace zelvo
