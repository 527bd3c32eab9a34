#include "zelvo/core/usb_client.hpp"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>

#include "zelvo/core/console.hpp"

namespace zelvo {
namespace usb {

// The part of the libusb-1.0 C interface the driver uses, declared here because the library is
// loaded at run time (the module must build and import without it).
struct Context;
struct DeviceRef;
struct Handle;
struct DeviceDescriptor {
  std::uint8_t bLength;
  std::uint8_t bDescriptorType;
  std::uint16_t bcdUSB;
  std::uint8_t bDeviceClass;
  std::uint8_t bDeviceSubClass;
  std::uint8_t bDeviceProtocol;
  std::uint8_t bMaxPacketSize0;
  std::uint16_t idVendor;
  std::uint16_t idProduct;
  std::uint16_t bcdDevice;
  std::uint8_t iManufacturer;
  std::uint8_t iProduct;
  std::uint8_t iSerialNumber;
  std::uint8_t bNumConfigurations;
};
static_assert(sizeof(DeviceDescriptor) == 18);

constexpr int kErrorTimeout = -7;
constexpr int kErrorNoDevice = -4;
constexpr int kInterface = 0;
constexpr int kStringMax = 256;

struct Library {
  void* so = nullptr;
  Context* ctx = nullptr;
  int (*init)(Context**) = nullptr;
  long (*get_device_list)(Context*, DeviceRef***) = nullptr;
  void (*free_device_list)(DeviceRef**, int) = nullptr;
  int (*get_device_descriptor)(DeviceRef*, DeviceDescriptor*) = nullptr;
  int (*open)(DeviceRef*, Handle**) = nullptr;
  void (*close)(Handle*) = nullptr;
  int (*get_string_descriptor_ascii)(Handle*, std::uint8_t, unsigned char*, int) = nullptr;
  int (*kernel_driver_active)(Handle*, int) = nullptr;
  int (*detach_kernel_driver)(Handle*, int) = nullptr;
  int (*claim_interface)(Handle*, int) = nullptr;
  int (*release_interface)(Handle*, int) = nullptr;
  int (*bulk_transfer)(Handle*, unsigned char, unsigned char*, int, int*, unsigned) = nullptr;
  const char* (*error_name)(int) = nullptr;
  std::string path;

  bool load(void* handle, const std::string& file) {
    so = handle;
    path = file;
    bool ok = true;
    auto sym = [&](auto& fn, const char* name) {
      fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(dlsym(so, name));
      ok = ok && fn != nullptr;
    };
    sym(init, "libusb_init");
    sym(get_device_list, "libusb_get_device_list");
    sym(free_device_list, "libusb_free_device_list");
    sym(get_device_descriptor, "libusb_get_device_descriptor");
    sym(open, "libusb_open");
    sym(close, "libusb_close");
    sym(get_string_descriptor_ascii, "libusb_get_string_descriptor_ascii");
    sym(kernel_driver_active, "libusb_kernel_driver_active");
    sym(detach_kernel_driver, "libusb_detach_kernel_driver");
    sym(claim_interface, "libusb_claim_interface");
    sym(release_interface, "libusb_release_interface");
    sym(bulk_transfer, "libusb_bulk_transfer");
    sym(error_name, "libusb_error_name");
    return ok && init(&ctx) == 0;
  }
  std::string errorText(int rc) const { return error_name ? error_name(rc) : "libusb error " + std::to_string(rc); }
};

namespace {

// The file names searched for, adapted to this platform.
constexpr const char* kBesideName = "libusb-1.0.so";
constexpr const char* kExtLibDir = "../ext_lib";
constexpr const char* kSystemNames[] = {"libusb-1.0.so.0", "libusb-1.0.so"};
constexpr const char* kOverrideVariable = "ZELVO_LIBUSB";

// Directory of the shared object (or program) this code is part of.
std::filesystem::path ownDirectory() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&ownDirectory), &info) && info.dli_fname)
    return std::filesystem::absolute(info.dli_fname).parent_path();
  return std::filesystem::current_path();
}

void* tryOpen(const std::string& file) { return dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL); }

struct Loaded {
  std::mutex m;
  std::map<void*, std::unique_ptr<Library>> by_handle;  // one context per library file, kept
};
Loaded& loaded() {
  static Loaded* l = new Loaded();
  return *l;
}

const Library* adopt(void* so, const std::string& file) {
  Loaded& l = loaded();
  std::lock_guard lock(l.m);
  auto& lib = l.by_handle[so];
  if (!lib) {
    lib = std::make_unique<Library>();
    if (!lib->load(so, file)) {
      l.by_handle.erase(so);
      return nullptr;
    }
  }
  return lib.get();
}

}  // namespace

// Finds libusb-1.0: an explicit file named by ZELVO_LIBUSB, else beside this module, else in
// ../ext_lib next to it; when neither of those two is there, says so with ExtLibNotFoundWarning
// and takes the system's library. Null when there is none at all.
const Library* findLibrary() {
  if (const char* forced = std::getenv(kOverrideVariable); forced && *forced) {
    if (void* so = tryOpen(forced))
      if (const Library* lib = adopt(so, forced)) return lib;
  }
  const auto dir = ownDirectory();
  for (const auto& candidate : {dir / kBesideName, dir / kExtLibDir / kBesideName}) {
    if (void* so = tryOpen(candidate.string()))
      if (const Library* lib = adopt(so, candidate.string())) return lib;
  }
  console::warn(Err::ExtLibNotFoundWarning);
  for (const char* name : kSystemNames)
    if (void* so = tryOpen(name))
      if (const Library* lib = adopt(so, name)) return lib;
  return nullptr;
}

const Library& requireLibrary() {
  const Library* lib = findLibrary();
  if (!lib) throw Error(Err::USBConnectionError);
  return *lib;
}

// A device list that frees itself.
struct DeviceList {
  const Library& lib;
  DeviceRef** list = nullptr;
  long count = 0;
  explicit DeviceList(const Library& l) : lib(l) {
    count = lib.get_device_list(lib.ctx, &list);
    if (count < 0) count = 0;
  }
  ~DeviceList() {
    if (list) lib.free_device_list(list, 1);
  }
  DeviceList(const DeviceList&) = delete;
  DeviceList& operator=(const DeviceList&) = delete;
};

bool isFamily(const Library& lib, DeviceRef* dev, DeviceDescriptor& d) {
  return lib.get_device_descriptor(dev, &d) == 0 && d.idVendor == USB_VID && d.idProduct == USB_PID;
}

std::string readString(const Library& lib, Handle* h, int index) {
  if (index <= 0) return {};
  unsigned char buf[kStringMax] = {};
  const int n = lib.get_string_descriptor_ascii(h, static_cast<std::uint8_t>(index), buf, sizeof buf);
  return n > 0 ? std::string(reinterpret_cast<char*>(buf), static_cast<std::size_t>(n)) : std::string();
}

}  // namespace usb

UsbClient::UsbClient(const std::string& serial_num) : lib_(usb::requireLibrary()) {
  usb::DeviceList devices(lib_);
  for (long i = 0; i < devices.count && !handle_; ++i) {
    usb::DeviceDescriptor d{};
    if (!usb::isFamily(lib_, devices.list[i], d)) continue;
    usb::Handle* h = nullptr;
    if (lib_.open(devices.list[i], &h) != 0) continue;
    if (serial_num != "default" && usb::readString(lib_, h, d.iSerialNumber) != serial_num) {
      lib_.close(h);
      continue;
    }
    handle_ = h;
    serial_index_ = d.iSerialNumber;
    product_index_ = d.iProduct;
  }
  if (!handle_) throw Error(Err::USBConnectionError);
  auto* h = static_cast<usb::Handle*>(handle_);
  if (lib_.kernel_driver_active(h, usb::kInterface) == 1) lib_.detach_kernel_driver(h, usb::kInterface);
  // Bulk transfers need the interface claimed; it is released when the client goes.
  if (lib_.claim_interface(h, usb::kInterface) != 0) {
    lib_.close(h);
    handle_ = nullptr;
    throw Error(Err::USBConnectionError);
  }
  claimed_ = true;
}

UsbClient::~UsbClient() {
  auto* h = static_cast<usb::Handle*>(handle_);
  if (!h) return;
  if (claimed_) lib_.release_interface(h, usb::kInterface);
  lib_.close(h);
}

std::string UsbClient::stringDescriptor(int index) {
  return usb::readString(lib_, static_cast<usb::Handle*>(handle_), index);
}

std::string UsbClient::takeSerialNumber() { return stringDescriptor(serial_index_); }
std::string UsbClient::takeProductName() { return stringDescriptor(product_index_); }

ReadResult UsbClient::read(Byte* buf, std::size_t capacity) {
  if (interrupted_) return {ReadStatus::Closed, 0, {}};
  int got = 0;
  const int rc = lib_.bulk_transfer(static_cast<usb::Handle*>(handle_), static_cast<unsigned char>(USB_EP_IN), buf,
                                    static_cast<int>(capacity), &got, kUsbReadTimeoutMs);
  if (got > 0) return {ReadStatus::Data, static_cast<std::size_t>(got), {}};
  if (interrupted_) return {ReadStatus::Closed, 0, {}};
  if (rc == 0 || rc == usb::kErrorTimeout) return {ReadStatus::Empty, 0, {}};
  if (rc == usb::kErrorNoDevice) gone_ = true;
  return {ReadStatus::Failed, 0, lib_.errorText(rc)};
}

void UsbClient::send(ByteView frame) {
  Bytes out(frame.begin(), frame.end());
  if (out.size() < USB_PKT_SIZE) out.resize(USB_PKT_SIZE, 0);
  std::lock_guard lock(send_m_);
  std::size_t done = 0;
  while (done < out.size()) {
    int sent = 0;
    const int rc = lib_.bulk_transfer(static_cast<usb::Handle*>(handle_), static_cast<unsigned char>(USB_EP_OUT),
                                      out.data() + done, static_cast<int>(out.size() - done), &sent,
                                      kUsbWriteTimeoutMs);
    if (rc != 0 && sent <= 0) throw Error(Err::USBConnectionError);
    done += static_cast<std::size_t>(sent);
  }
}

void UsbClient::interrupt() { interrupted_ = true; }

bool UsbClient::isOpen() const { return handle_ != nullptr && !interrupted_ && !gone_; }

void UsbClient::throwReadFailure(const ReadResult&) { throw Error(Err::USBConnectionError); }

std::vector<std::pair<std::string, std::string>> listUsbDevices() {
  const usb::Library& lib = usb::requireLibrary();
  usb::DeviceList devices(lib);
  std::vector<std::pair<std::string, std::string>> out;
  for (long i = 0; i < devices.count; ++i) {
    usb::DeviceDescriptor d{};
    if (!usb::isFamily(lib, devices.list[i], d)) continue;
    usb::Handle* h = nullptr;
    if (lib.open(devices.list[i], &h) != 0) continue;
    out.emplace_back(usb::readString(lib, h, d.iSerialNumber), usb::readString(lib, h, d.iProduct));
    lib.close(h);
  }
  return out;
}

std::string libusbPath() {
  const usb::Library* lib = usb::findLibrary();
  return lib ? lib->path : std::string();
}

}  // namespace zelvo
