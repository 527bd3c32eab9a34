/* The device side of libzelvo_usbsim.so: how an emulator plugs devices into the shim's bus.
 *
 * The shim is a libusb-1.0 look-alike (libusb_abi.h) whose bus holds only the devices plugged in
 * through these functions, in this process. The emulator dlopens the shim and plugs each
 * emulated USB device; the driver, told to use the same file (ZELVO_LIBUSB), dlopens it too and
 * gets the same loaded library, so it enumerates, opens and talks to those devices.
 *
 * A device has one interface (0) with a bulk OUT endpoint 0x01 and a bulk IN endpoint 0x81, both
 * with 64-byte packets. What the host writes to 0x01 is handed to the device's `out` callback,
 * one call per transfer, on the writing thread (the callback copies the bytes and returns at
 * once). What the device sends with zelvo_usbsim_send_in is cut into 64-byte packets and queued
 * for the host's reads of 0x81; a read ends after a short packet or when its buffer is full.
 *
 * Every function is thread-safe. None calls back into the device except libusb_bulk_transfer /
 * libusb_submit_transfer on 0x01, which call `out` without holding any lock of the shim. */
#ifndef ZELVO_USBSIM_USBSIM_H
#define ZELVO_USBSIM_USBSIM_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Changes whenever a function below changes; the emulator checks it after loading the shim. */
#define ZELVO_USBSIM_VERSION 2

typedef struct zelvo_usbsim_device zelvo_usbsim_device;

/* What a device reports when it is enumerated. The strings are copied. */
struct zelvo_usbsim_identity {
  uint16_t vendor_id;
  uint16_t product_id;
  uint16_t device_release; /* bcdDevice */
  const char* manufacturer;
  const char* product;
  const char* serial_number;
};

/* Receives one OUT transfer (bytes as the host wrote them, padding included). */
typedef void (*zelvo_usbsim_out_fn)(void* user, const unsigned char* data, int length);

int zelvo_usbsim_version(void);

/* Attaches a new device to the bus (a kernel driver is bound to its interface until the host
 * detaches it). Null when an argument is missing. */
zelvo_usbsim_device* zelvo_usbsim_plug(const struct zelvo_usbsim_identity* identity, zelvo_usbsim_out_fn out,
                                       void* user);

/* Detaches the device: it leaves the device list, transfers waiting on it end with
 * LIBUSB_TRANSFER_NO_DEVICE / LIBUSB_ERROR_NO_DEVICE, so does everything later done through
 * handles opened on it. Returns once no `out` call for it is running; `device` is then invalid. */
void zelvo_usbsim_unplug(zelvo_usbsim_device* device);

/* Queues bytes on the IN endpoint (length 0: one zero-length packet). 0, or
 * LIBUSB_ERROR_INVALID_PARAM. */
int zelvo_usbsim_send_in(zelvo_usbsim_device* device, const unsigned char* data, int length);

/* Bytes queued on the IN endpoint that the host has not read yet. */
long zelvo_usbsim_in_queued(zelvo_usbsim_device* device);

/* Handles open on the device. */
int zelvo_usbsim_open_handles(zelvo_usbsim_device* device);

/* Fault injection: the next `count` reads of the IN endpoint (waiting ones first) fail at once
 * with LIBUSB_TRANSFER_ERROR / LIBUSB_ERROR_IO. Replaces the count left; returns that count. */
int zelvo_usbsim_fail_in(zelvo_usbsim_device* device, int count);

/* Reads still to fail. */
int zelvo_usbsim_in_failures_left(zelvo_usbsim_device* device);

/* Serves this process's bus to other processes on a UNIX socket at `path`: a process whose shim
 * finds that path in the environment variable ZELVO_USB_EMULATOR sees the devices plugged here
 * (and their unplugging) as its own. While a process is attached, the devices are claimed on its
 * behalf. 0; LIBUSB_ERROR_BUSY when already serving on another path; LIBUSB_ERROR_ACCESS when the
 * socket cannot be made. */
int zelvo_usbsim_serve(const char* path);

/* Ends serving: attached processes see the devices unplugged; the socket file is removed. */
void zelvo_usbsim_stop_serving(void);

#ifdef __cplusplus
}  // extern "C"
#endif

#endif /* ZELVO_USBSIM_USBSIM_H */
