// Contexts and error names.
#include "zelvo/usbsim/bus.hpp"

namespace zelvo::usbsim {

Bus& bus() {
  static Bus* b = new Bus();  // never destroyed: handles may outlive static destruction
  return *b;
}

libusb_context* resolve(libusb_context* ctx) { return ctx ? ctx : bus().default_ctx; }

int errorOf(libusb_transfer_status status) {
  switch (status) {
    case LIBUSB_TRANSFER_COMPLETED: return LIBUSB_SUCCESS;
    case LIBUSB_TRANSFER_TIMED_OUT: return LIBUSB_ERROR_TIMEOUT;
    case LIBUSB_TRANSFER_CANCELLED: return LIBUSB_ERROR_INTERRUPTED;
    case LIBUSB_TRANSFER_STALL: return LIBUSB_ERROR_PIPE;
    case LIBUSB_TRANSFER_NO_DEVICE: return LIBUSB_ERROR_NO_DEVICE;
    case LIBUSB_TRANSFER_OVERFLOW: return LIBUSB_ERROR_OVERFLOW;
    case LIBUSB_TRANSFER_ERROR: break;
  }
  return LIBUSB_ERROR_IO;
}

}  // namespace zelvo::usbsim

using namespace zelvo::usbsim;

// A null `ctx` asks for the process's default context, shared and counted.
ZELVO_USBSIM_API int libusb_init(libusb_context** ctx) {
  if (ctx) {
    *ctx = new libusb_context();
    return LIBUSB_SUCCESS;
  }
  std::lock_guard lock(bus().m);
  if (bus().default_refs++ == 0) bus().default_ctx = new libusb_context();
  return LIBUSB_SUCCESS;
}

ZELVO_USBSIM_API void libusb_exit(libusb_context* ctx) {
  if (ctx) {
    delete ctx;
    return;
  }
  std::lock_guard lock(bus().m);
  if (bus().default_refs > 0 && --bus().default_refs == 0) {
    delete bus().default_ctx;
    bus().default_ctx = nullptr;
  }
}

ZELVO_USBSIM_API const char* libusb_error_name(int code) {
  switch (code) {
    case LIBUSB_SUCCESS: return "LIBUSB_SUCCESS / LIBUSB_TRANSFER_COMPLETED";
    case LIBUSB_ERROR_IO: return "LIBUSB_ERROR_IO";
    case LIBUSB_ERROR_INVALID_PARAM: return "LIBUSB_ERROR_INVALID_PARAM";
    case LIBUSB_ERROR_ACCESS: return "LIBUSB_ERROR_ACCESS";
    case LIBUSB_ERROR_NO_DEVICE: return "LIBUSB_ERROR_NO_DEVICE";
    case LIBUSB_ERROR_NOT_FOUND: return "LIBUSB_ERROR_NOT_FOUND";
    case LIBUSB_ERROR_BUSY: return "LIBUSB_ERROR_BUSY";
    case LIBUSB_ERROR_TIMEOUT: return "LIBUSB_ERROR_TIMEOUT";
    case LIBUSB_ERROR_OVERFLOW: return "LIBUSB_ERROR_OVERFLOW";
    case LIBUSB_ERROR_PIPE: return "LIBUSB_ERROR_PIPE";
    case LIBUSB_ERROR_INTERRUPTED: return "LIBUSB_ERROR_INTERRUPTED";
    case LIBUSB_ERROR_NO_MEM: return "LIBUSB_ERROR_NO_MEM";
    case LIBUSB_ERROR_NOT_SUPPORTED: return "LIBUSB_ERROR_NOT_SUPPORTED";
    case LIBUSB_ERROR_OTHER: return "LIBUSB_ERROR_OTHER";
    case LIBUSB_TRANSFER_ERROR: return "LIBUSB_TRANSFER_ERROR";
    case LIBUSB_TRANSFER_TIMED_OUT: return "LIBUSB_TRANSFER_TIMED_OUT";
    case LIBUSB_TRANSFER_CANCELLED: return "LIBUSB_TRANSFER_CANCELLED";
    case LIBUSB_TRANSFER_STALL: return "LIBUSB_TRANSFER_STALL";
    case LIBUSB_TRANSFER_NO_DEVICE: return "LIBUSB_TRANSFER_NO_DEVICE";
    case LIBUSB_TRANSFER_OVERFLOW: return "LIBUSB_TRANSFER_OVERFLOW";
    default: return "**UNKNOWN**";
  }
}
