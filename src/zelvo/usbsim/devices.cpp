// Enumeration, descriptors, handles, kernel driver and interface claims.
//
// Device objects are made fresh by every libusb_get_device_list call (each counted; freed at its
// last unref). Claims are exclusive: a second handle claiming interface 0 gets LIBUSB_ERROR_BUSY,
// as does a claim while the kernel driver is still bound. Closing a handle releases its claim.
#include <algorithm>

#include "zelvo/usbsim/bus.hpp"

namespace zelvo::usbsim {
namespace {

bool validInterface(int interface_number) { return interface_number == kInterface; }

// The instance behind a handle, with the checks every handle operation starts with.
int checkHandle(libusb_device_handle* h, int interface_number) {
  if (!h || !validInterface(interface_number)) return LIBUSB_ERROR_INVALID_PARAM;
  if (h->device->instance->gone) return LIBUSB_ERROR_NO_DEVICE;
  return LIBUSB_SUCCESS;
}

void unrefLocked(libusb_device* dev) {
  if (--dev->refs == 0) delete dev;
}

}  // namespace
}  // namespace zelvo::usbsim

using namespace zelvo::usbsim;

ZELVO_USBSIM_API ssize_t libusb_get_device_list(libusb_context* ctx, libusb_device*** list) {
  if (!list) return LIBUSB_ERROR_INVALID_PARAM;
  attachRemote();
  std::lock_guard lock(bus().m);
  const auto& plugged = bus().plugged;
  auto** out = new libusb_device*[plugged.size() + 1];
  for (std::size_t i = 0; i < plugged.size(); ++i) out[i] = new libusb_device{resolve(ctx), plugged[i], 1};
  out[plugged.size()] = nullptr;
  *list = out;
  return static_cast<ssize_t>(plugged.size());
}

ZELVO_USBSIM_API void libusb_free_device_list(libusb_device** list, int unref_devices) {
  if (!list) return;
  if (unref_devices) {
    std::lock_guard lock(bus().m);
    for (libusb_device** d = list; *d; ++d) unrefLocked(*d);
  }
  delete[] list;
}

ZELVO_USBSIM_API libusb_device* libusb_ref_device(libusb_device* dev) {
  std::lock_guard lock(bus().m);
  ++dev->refs;
  return dev;
}

ZELVO_USBSIM_API void libusb_unref_device(libusb_device* dev) {
  if (!dev) return;
  std::lock_guard lock(bus().m);
  unrefLocked(dev);
}

// The descriptor is kept from enumeration, so it stays readable after an unplug.
ZELVO_USBSIM_API int libusb_get_device_descriptor(libusb_device* dev, libusb_device_descriptor* desc) {
  if (!dev || !desc) return LIBUSB_ERROR_INVALID_PARAM;
  std::lock_guard lock(bus().m);
  *desc = dev->instance->descriptor;
  return LIBUSB_SUCCESS;
}

ZELVO_USBSIM_API int libusb_open(libusb_device* dev, libusb_device_handle** handle) {
  if (!dev || !handle) return LIBUSB_ERROR_INVALID_PARAM;
  std::lock_guard lock(bus().m);
  if (dev->instance->gone) return LIBUSB_ERROR_NO_DEVICE;
  ++dev->refs;
  ++dev->instance->open_handles;
  *handle = new libusb_device_handle{dev};
  return LIBUSB_SUCCESS;
}

ZELVO_USBSIM_API void libusb_close(libusb_device_handle* h) {
  if (!h) return;
  std::lock_guard lock(bus().m);
  Instance& inst = *h->device->instance;
  if (inst.claimed_by == h) inst.claimed_by = nullptr;
  --inst.open_handles;
  unrefLocked(h->device);
  delete h;
}

// Index 0 (the language list) and unknown indices stall, as on a device that has no such string.
// Characters outside printable ASCII come back as '?'; the text is cut to length - 1 bytes and
// terminated.
ZELVO_USBSIM_API int libusb_get_string_descriptor_ascii(libusb_device_handle* h, uint8_t index, unsigned char* data,
                                                       int length) {
  if (!h || !data || length <= 0) return LIBUSB_ERROR_INVALID_PARAM;
  std::lock_guard lock(bus().m);
  const Instance& inst = *h->device->instance;
  if (inst.gone) return LIBUSB_ERROR_NO_DEVICE;
  if (index == 0 || index > kSerialIndex || inst.strings[index].empty()) return LIBUSB_ERROR_PIPE;
  const std::string& s = inst.strings[index];
  const int n = std::min(static_cast<int>(s.size()), length - 1);
  for (int i = 0; i < n; ++i) {
    const auto c = static_cast<unsigned char>(s[static_cast<std::size_t>(i)]);
    data[i] = c >= 0x20 && c < 0x7F ? c : '?';
  }
  data[n] = 0;
  return n;
}

ZELVO_USBSIM_API int libusb_kernel_driver_active(libusb_device_handle* h, int interface_number) {
  std::lock_guard lock(bus().m);
  if (const int rc = checkHandle(h, interface_number)) return rc;
  return h->device->instance->kernel_driver ? 1 : 0;
}

ZELVO_USBSIM_API int libusb_detach_kernel_driver(libusb_device_handle* h, int interface_number) {
  std::lock_guard lock(bus().m);
  if (const int rc = checkHandle(h, interface_number)) return rc;
  Instance& inst = *h->device->instance;
  if (!inst.kernel_driver) return LIBUSB_ERROR_NOT_FOUND;
  inst.kernel_driver = false;
  return LIBUSB_SUCCESS;
}

ZELVO_USBSIM_API int libusb_claim_interface(libusb_device_handle* h, int interface_number) {
  std::lock_guard lock(bus().m);
  if (const int rc = checkHandle(h, interface_number)) return rc;
  Instance& inst = *h->device->instance;
  if (inst.claimed_by == h) return LIBUSB_SUCCESS;
  if (inst.claimed_by || inst.kernel_driver) return LIBUSB_ERROR_BUSY;
  inst.claimed_by = h;
  return LIBUSB_SUCCESS;
}

ZELVO_USBSIM_API int libusb_release_interface(libusb_device_handle* h, int interface_number) {
  std::lock_guard lock(bus().m);
  if (!h || !validInterface(interface_number)) return LIBUSB_ERROR_INVALID_PARAM;
  Instance& inst = *h->device->instance;
  if (inst.claimed_by != h) return LIBUSB_ERROR_NOT_FOUND;
  inst.claimed_by = nullptr;
  return inst.gone ? LIBUSB_ERROR_NO_DEVICE : LIBUSB_SUCCESS;
}
