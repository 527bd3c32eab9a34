// Inside the shim: the bus of plugged devices, contexts, handles and the transfers in flight.
//
// One mutex guards all of it (the shim serves a handful of emulated devices; simplicity wins).
// Nothing calls user code with it held: transfer callbacks and the devices' `out` callbacks run
// after it is released.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "zelvo/usbsim/libusb_abi.h"
#include "zelvo/usbsim/usbsim.h"

#define ZELVO_USBSIM_API extern "C" __attribute__((visibility("default")))

namespace zelvo::usbsim {

using Clock = std::chrono::steady_clock;
using Packet = std::vector<unsigned char>;

// Every device has one interface with one bulk endpoint each way, 64-byte packets.
inline constexpr int kInterface = 0;
inline constexpr unsigned char kEndpointIn = 0x81;
inline constexpr unsigned char kEndpointOut = 0x01;
inline constexpr std::size_t kMaxPacket = 64;
// String descriptor indices.
inline constexpr std::uint8_t kManufacturerIndex = 1;
inline constexpr std::uint8_t kProductIndex = 2;
inline constexpr std::uint8_t kSerialIndex = 3;

struct Instance;

// A read of the IN endpoint waiting for data: an asynchronous transfer or a synchronous read.
struct InRead {
  unsigned char* buffer = nullptr;
  int length = 0;
  bool short_not_ok = false;
  libusb_transfer* transfer = nullptr;  // null: a synchronous read, woken through its instance
  libusb_context* ctx = nullptr;
  bool timed = false;
  Clock::time_point deadline{};
  Instance* instance = nullptr;
  // Outcome of a synchronous read.
  bool done = false;
  libusb_transfer_status status = LIBUSB_TRANSFER_COMPLETED;
  int actual = 0;
};

// One plugged device, from plug to unplug (plugging in again makes a new one).
struct Instance {
  libusb_device_descriptor descriptor{};
  std::string strings[4];  // by string index; 0 unused
  bool gone = false;
  bool kernel_driver = true;
  const libusb_device_handle* claimed_by = nullptr;
  int open_handles = 0;
  std::deque<Packet> in_packets;
  long in_bytes = 0;
  std::deque<InRead*> in_reads;
  int fail_in = 0;
  zelvo_usbsim_out_fn out = nullptr;
  void* user = nullptr;
  int out_calls = 0;                  // `out` calls running
  std::condition_variable changed;    // synchronous reads, unplug waiting for `out` calls
};

}  // namespace zelvo::usbsim

struct libusb_context {
  std::deque<libusb_transfer*> done;  // completed, callbacks not yet run
  int running_callbacks = 0;
  std::condition_variable changed;
};

struct libusb_device {
  libusb_context* ctx;
  std::shared_ptr<zelvo::usbsim::Instance> instance;
  int refs;
};

struct libusb_device_handle {
  libusb_device* device;
};

struct zelvo_usbsim_device {
  std::shared_ptr<zelvo::usbsim::Instance> instance;
};

namespace zelvo::usbsim {

struct Bus {
  std::mutex m;
  std::vector<std::shared_ptr<Instance>> plugged;  // enumeration order
  std::uint64_t generation = 0;                    // counts plugs and unplugs
  std::condition_variable changed;                 // notified with each plug, unplug and bridge stop
  bool serving = false;                            // this process serves its bus on a socket
  std::map<libusb_transfer*, std::unique_ptr<InRead>> in_flight;  // asynchronous IN transfers
  libusb_context* default_ctx = nullptr;
  int default_refs = 0;
};
Bus& bus();

// Under the bus lock: hands queued IN packets (and injected failures) to waiting reads, in order.
void pump(Instance& inst);
// Under the bus lock: ends a waiting read (already taken off its instance's queue).
void finishRead(InRead& read, libusb_transfer_status status, int actual);
// Under the bus lock: queues a finished asynchronous transfer for its context's event handling.
void complete(libusb_context* ctx, libusb_transfer* t, libusb_transfer_status status, int actual);
// A synchronous read of the IN endpoint (the lock held on entry): timeout 0 waits without limit;
// a read still waiting when *stop turns true (set under the lock, with the instance's `changed`
// notified) ends with LIBUSB_ERROR_INTERRUPTED.
int readIn(libusb_device_handle* h, unsigned char* data, int length, int* transferred, unsigned int timeout,
           const bool* stop, std::unique_lock<std::mutex>& lock);
// Under the bus lock: a device came or went.
void busChanged();
// Connects to the emulator process named by the socket variable, once (bridge_client.cpp). Called
// without the bus lock before an enumeration; returns at once when the variable is not set.
void attachRemote();
// The error code a synchronous transfer returns for a transfer status.
int errorOf(libusb_transfer_status status);
// The context of a call: the default context for null.
libusb_context* resolve(libusb_context* ctx);

}  // namespace zelvo::usbsim
