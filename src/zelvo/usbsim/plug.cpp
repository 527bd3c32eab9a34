// The device side: plugging devices in and out, sending on the IN endpoint, fault injection.
#include <algorithm>

#include "zelvo/usbsim/bus.hpp"

namespace zelvo::usbsim {
namespace {

// What every emulated device reports besides its identity.
constexpr std::uint8_t kDescriptorLength = 18;
constexpr std::uint8_t kDeviceDescriptorType = 1;
constexpr std::uint16_t kUsb2 = 0x0200;
constexpr std::uint8_t kOneConfiguration = 1;

libusb_device_descriptor descriptorOf(const zelvo_usbsim_identity& id) {
  libusb_device_descriptor d{};
  d.bLength = kDescriptorLength;
  d.bDescriptorType = kDeviceDescriptorType;
  d.bcdUSB = kUsb2;
  d.bMaxPacketSize0 = static_cast<std::uint8_t>(kMaxPacket);
  d.idVendor = id.vendor_id;
  d.idProduct = id.product_id;
  d.bcdDevice = id.device_release;
  d.iManufacturer = kManufacturerIndex;
  d.iProduct = kProductIndex;
  d.iSerialNumber = kSerialIndex;
  d.bNumConfigurations = kOneConfiguration;
  return d;
}

}  // namespace

void busChanged() {
  ++bus().generation;
  bus().changed.notify_all();
}

}  // namespace zelvo::usbsim

using namespace zelvo::usbsim;

ZELVO_USBSIM_API int zelvo_usbsim_version(void) { return ZELVO_USBSIM_VERSION; }

ZELVO_USBSIM_API zelvo_usbsim_device* zelvo_usbsim_plug(const zelvo_usbsim_identity* id, zelvo_usbsim_out_fn out,
                                                        void* user) {
  if (!id || !out) return nullptr;
  auto inst = std::make_shared<Instance>();
  inst->descriptor = descriptorOf(*id);
  inst->strings[kManufacturerIndex] = id->manufacturer ? id->manufacturer : "";
  inst->strings[kProductIndex] = id->product ? id->product : "";
  inst->strings[kSerialIndex] = id->serial_number ? id->serial_number : "";
  inst->out = out;
  inst->user = user;
  std::lock_guard lock(bus().m);
  bus().plugged.push_back(inst);
  busChanged();
  return new zelvo_usbsim_device{std::move(inst)};
}

ZELVO_USBSIM_API void zelvo_usbsim_unplug(zelvo_usbsim_device* dev) {
  if (!dev) return;
  {
    std::unique_lock lock(bus().m);
    Instance& inst = *dev->instance;
    inst.gone = true;
    std::erase(bus().plugged, dev->instance);
    busChanged();
    while (!inst.in_reads.empty()) {
      InRead* r = inst.in_reads.front();
      inst.in_reads.pop_front();
      finishRead(*r, LIBUSB_TRANSFER_NO_DEVICE, 0);
    }
    inst.in_packets.clear();
    inst.in_bytes = 0;
    inst.changed.wait(lock, [&] { return inst.out_calls == 0; });
  }
  delete dev;
}

ZELVO_USBSIM_API int zelvo_usbsim_send_in(zelvo_usbsim_device* dev, const unsigned char* data, int length) {
  if (!dev || length < 0 || (length > 0 && !data)) return LIBUSB_ERROR_INVALID_PARAM;
  std::lock_guard lock(bus().m);
  Instance& inst = *dev->instance;
  if (length == 0) inst.in_packets.emplace_back();
  for (int at = 0; at < length; at += static_cast<int>(kMaxPacket)) {
    const int n = std::min(length - at, static_cast<int>(kMaxPacket));
    inst.in_packets.emplace_back(data + at, data + at + n);
  }
  inst.in_bytes += length;
  pump(inst);
  return LIBUSB_SUCCESS;
}

ZELVO_USBSIM_API long zelvo_usbsim_in_queued(zelvo_usbsim_device* dev) {
  std::lock_guard lock(bus().m);
  return dev ? dev->instance->in_bytes : 0;
}

ZELVO_USBSIM_API int zelvo_usbsim_open_handles(zelvo_usbsim_device* dev) {
  std::lock_guard lock(bus().m);
  return dev ? dev->instance->open_handles : 0;
}

ZELVO_USBSIM_API int zelvo_usbsim_fail_in(zelvo_usbsim_device* dev, int count) {
  if (!dev) return 0;
  std::lock_guard lock(bus().m);
  Instance& inst = *dev->instance;
  const int before = inst.fail_in;
  inst.fail_in = std::max(0, count);
  pump(inst);
  return before;
}

ZELVO_USBSIM_API int zelvo_usbsim_in_failures_left(zelvo_usbsim_device* dev) {
  std::lock_guard lock(bus().m);
  return dev ? dev->instance->fail_in : 0;
}
