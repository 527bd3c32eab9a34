/* The part of the libusb-1.0 C interface this project uses, declared from its public API: the
 * driver resolves these functions at run time (dlopen/dlsym) from whichever libusb-1.0 it loads,
 * and the emulator's shim library (libzelvo_usbsim.so) implements exactly this set. Types, values
 * and layouts are those of libusb-1.0 on Linux.
 *
 * Not declared: isochronous packet descriptors (they follow struct libusb_transfer in memory;
 * the project uses bulk transfers only) and everything the project does not call. */
#ifndef ZELVO_USBSIM_LIBUSB_ABI_H
#define ZELVO_USBSIM_LIBUSB_ABI_H

#include <stdint.h>
#include <sys/time.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct libusb_context libusb_context;
typedef struct libusb_device libusb_device;
typedef struct libusb_device_handle libusb_device_handle;

/* The standard USB device descriptor, 18 bytes. */
struct libusb_device_descriptor {
  uint8_t bLength;
  uint8_t bDescriptorType;
  uint16_t bcdUSB;
  uint8_t bDeviceClass;
  uint8_t bDeviceSubClass;
  uint8_t bDeviceProtocol;
  uint8_t bMaxPacketSize0;
  uint16_t idVendor;
  uint16_t idProduct;
  uint16_t bcdDevice;
  uint8_t iManufacturer;
  uint8_t iProduct;
  uint8_t iSerialNumber;
  uint8_t bNumConfigurations;
};

enum libusb_error {
  LIBUSB_SUCCESS = 0,
  LIBUSB_ERROR_IO = -1,
  LIBUSB_ERROR_INVALID_PARAM = -2,
  LIBUSB_ERROR_ACCESS = -3,
  LIBUSB_ERROR_NO_DEVICE = -4,
  LIBUSB_ERROR_NOT_FOUND = -5,
  LIBUSB_ERROR_BUSY = -6,
  LIBUSB_ERROR_TIMEOUT = -7,
  LIBUSB_ERROR_OVERFLOW = -8,
  LIBUSB_ERROR_PIPE = -9,
  LIBUSB_ERROR_INTERRUPTED = -10,
  LIBUSB_ERROR_NO_MEM = -11,
  LIBUSB_ERROR_NOT_SUPPORTED = -12,
  LIBUSB_ERROR_OTHER = -99
};

enum libusb_transfer_status {
  LIBUSB_TRANSFER_COMPLETED = 0,
  LIBUSB_TRANSFER_ERROR = 1,
  LIBUSB_TRANSFER_TIMED_OUT = 2,
  LIBUSB_TRANSFER_CANCELLED = 3,
  LIBUSB_TRANSFER_STALL = 4,
  LIBUSB_TRANSFER_NO_DEVICE = 5,
  LIBUSB_TRANSFER_OVERFLOW = 6
};

enum libusb_transfer_type { LIBUSB_TRANSFER_TYPE_BULK = 2 };

enum libusb_transfer_flags {
  LIBUSB_TRANSFER_SHORT_NOT_OK = 1 << 0,
  LIBUSB_TRANSFER_FREE_BUFFER = 1 << 1,
  LIBUSB_TRANSFER_FREE_TRANSFER = 1 << 2,
  LIBUSB_TRANSFER_ADD_ZERO_PACKET = 1 << 3
};

/* Bit 7 of an endpoint address: set for IN (device to host). */
enum libusb_endpoint_direction { LIBUSB_ENDPOINT_OUT = 0x00, LIBUSB_ENDPOINT_IN = 0x80 };

struct libusb_transfer;
typedef void (*libusb_transfer_cb_fn)(struct libusb_transfer* transfer);

/* An asynchronous transfer (allocate with libusb_alloc_transfer). */
struct libusb_transfer {
  libusb_device_handle* dev_handle;
  uint8_t flags;
  unsigned char endpoint;
  unsigned char type;
  unsigned int timeout; /* milliseconds, 0 = none */
  enum libusb_transfer_status status;
  int length;
  int actual_length;
  libusb_transfer_cb_fn callback;
  void* user_data;
  unsigned char* buffer;
  int num_iso_packets;
};

int libusb_init(libusb_context** ctx);
void libusb_exit(libusb_context* ctx);
ssize_t libusb_get_device_list(libusb_context* ctx, libusb_device*** list);
void libusb_free_device_list(libusb_device** list, int unref_devices);
libusb_device* libusb_ref_device(libusb_device* dev);
void libusb_unref_device(libusb_device* dev);
int libusb_get_device_descriptor(libusb_device* dev, struct libusb_device_descriptor* desc);
int libusb_open(libusb_device* dev, libusb_device_handle** dev_handle);
void libusb_close(libusb_device_handle* dev_handle);
int libusb_get_string_descriptor_ascii(libusb_device_handle* dev_handle, uint8_t desc_index, unsigned char* data,
                                       int length);
int libusb_kernel_driver_active(libusb_device_handle* dev_handle, int interface_number);
int libusb_detach_kernel_driver(libusb_device_handle* dev_handle, int interface_number);
int libusb_claim_interface(libusb_device_handle* dev_handle, int interface_number);
int libusb_release_interface(libusb_device_handle* dev_handle, int interface_number);
int libusb_bulk_transfer(libusb_device_handle* dev_handle, unsigned char endpoint, unsigned char* data, int length,
                         int* actual_length, unsigned int timeout);
const char* libusb_error_name(int error_code);
struct libusb_transfer* libusb_alloc_transfer(int iso_packets);
void libusb_free_transfer(struct libusb_transfer* transfer);
int libusb_submit_transfer(struct libusb_transfer* transfer);
int libusb_cancel_transfer(struct libusb_transfer* transfer);
int libusb_handle_events_timeout_completed(libusb_context* ctx, struct timeval* tv, int* completed);

#ifdef __cplusplus
}  // extern "C"

#include <cstddef>
// The layouts the driver relies on (LP64).
static_assert(sizeof(libusb_device_descriptor) == 18);
static_assert(sizeof(void*) != 8 || offsetof(libusb_transfer, buffer) == 48);
static_assert(sizeof(void*) != 8 || offsetof(libusb_transfer, num_iso_packets) == 56);
#endif

#endif /* ZELVO_USBSIM_LIBUSB_ABI_H */
