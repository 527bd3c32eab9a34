#include "zelvo/core/usb_client.hpp"

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>

#include "zelvo/core/console.hpp"
#include "zelvo/usbsim/libusb_abi.h"

namespace zelvo {
namespace usb {

// libusb-1.0 as loaded from one file: its functions and the context this process uses with it.
struct Library {
  void* so = nullptr;
  libusb_context* ctx = nullptr;
  decltype(&libusb_init) init = nullptr;
  decltype(&libusb_get_device_list) get_device_list = nullptr;
  decltype(&libusb_free_device_list) free_device_list = nullptr;
  decltype(&libusb_get_device_descriptor) get_device_descriptor = nullptr;
  decltype(&libusb_open) open = nullptr;
  decltype(&libusb_close) close = nullptr;
  decltype(&libusb_get_string_descriptor_ascii) get_string_descriptor_ascii = nullptr;
  decltype(&libusb_kernel_driver_active) kernel_driver_active = nullptr;
  decltype(&libusb_detach_kernel_driver) detach_kernel_driver = nullptr;
  decltype(&libusb_claim_interface) claim_interface = nullptr;
  decltype(&libusb_release_interface) release_interface = nullptr;
  decltype(&libusb_bulk_transfer) bulk_transfer = nullptr;
  decltype(&libusb_error_name) error_name = nullptr;
  decltype(&libusb_alloc_transfer) alloc_transfer = nullptr;
  decltype(&libusb_free_transfer) free_transfer = nullptr;
  decltype(&libusb_submit_transfer) submit_transfer = nullptr;
  decltype(&libusb_cancel_transfer) cancel_transfer = nullptr;
  decltype(&libusb_handle_events_timeout_completed) handle_events = nullptr;
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
    sym(alloc_transfer, "libusb_alloc_transfer");
    sym(free_transfer, "libusb_free_transfer");
    sym(submit_transfer, "libusb_submit_transfer");
    sym(cancel_transfer, "libusb_cancel_transfer");
    sym(handle_events, "libusb_handle_events_timeout_completed");
    return ok && init(&ctx) == LIBUSB_SUCCESS;
  }
  std::string errorText(int rc) const {
    std::string text = error_name(rc);
    if (rc == LIBUSB_ERROR_NO_DEVICE) text += " (the device was disconnected)";
    return text;
  }
};

namespace {

constexpr int kInterface = 0;
constexpr int kStringMax = 256;
// An idle reader wakes this rarely; every real wake-up is a completed transfer.
constexpr long kEventWaitSeconds = 60;
// A closing client reaps a transfer nobody is reading any more within this time.
constexpr long kReapWaitMicroseconds = 100000;
constexpr int kReapAttempts = 10;

// The file names searched for, adapted to this platform.
constexpr const char* kBesideName = "libusb-1.0.so";
constexpr const char* kExtLibDir = "../ext_lib";
constexpr const char* kSystemNames[] = {"libusb-1.0.so.0", "libusb-1.0.so"};
constexpr const char* kOverrideVariable = "ZELVO_LIBUSB";
// Set to an emulator's socket, it makes the driver use the emulator's USB shim (installed beside
// this module), which then shows the devices that emulator serves.
constexpr const char* kEmulatorVariable = "ZELVO_USB_EMULATOR";
constexpr const char* kShimName = "libzelvo_usbsim.so";

constexpr const char* kMissingLibrary =
    "Failed to connect to Zelvo DAQ: libusb-1.0 was not found. Install the system package libusb-1.0-0 "
    "(Debian/Ubuntu) or the Python package libusb-package, or name the library file in ZELVO_LIBUSB.";
constexpr const char* kDeviceInUse =
    "Failed to connect to Zelvo DAQ: the USB device is in use (its interface is claimed by another handle or "
    "program).";
constexpr const char* kNoPermission =
    "Failed to connect to Zelvo DAQ: no permission to open the USB device (a udev rule granting access to "
    "0483:5750 is needed).";

void* tryOpen(const std::string& file) { return dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL); }

// Directory of the shared object (or program) this code is part of.
// With `resolved`, links are followed (a development tree links the module into its package).
std::filesystem::path ownDirectory(bool resolved = false) {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&tryOpen), &info) && info.dli_fname) {
    const auto file = std::filesystem::absolute(info.dli_fname);
    std::error_code ec;
    const auto real = std::filesystem::canonical(file, ec);
    return (resolved && !ec ? real : file).parent_path();
  }
  return std::filesystem::current_path();
}

struct Loaded {
  std::mutex m;
  std::map<void*, std::unique_ptr<Library>> by_handle;  // one context per library file, kept
  std::vector<std::string> extra;                        // setLibusbCandidates
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

const Library* tryFile(const std::string& file) {
  void* so = tryOpen(file);
  return so ? adopt(so, file) : nullptr;
}

std::vector<std::string> extraCandidates() {
  std::lock_guard lock(loaded().m);
  return loaded().extra;
}

}  // namespace

// Finds libusb-1.0: an explicit file named by ZELVO_LIBUSB, else the emulator's shim when
// ZELVO_USB_EMULATOR is set, else beside this module, else in ../ext_lib next to it, else the
// files setLibusbCandidates named; when none of those is there, says so with
// ExtLibNotFoundWarning and takes the system's library. Null when there is none.
const Library* findLibrary() {
  if (const char* forced = std::getenv(kOverrideVariable); forced && *forced)
    if (const Library* lib = tryFile(forced)) return lib;
  const auto dir = ownDirectory();
  if (const char* emulator = std::getenv(kEmulatorVariable); emulator && *emulator) {
    for (const auto& candidate : {dir / kShimName, ownDirectory(true) / kShimName})
      if (const Library* lib = tryFile(candidate.string())) return lib;
  }
  for (const auto& candidate : {dir / kBesideName, dir / kExtLibDir / kBesideName})
    if (const Library* lib = tryFile(candidate.string())) return lib;
  for (const auto& candidate : extraCandidates())
    if (const Library* lib = tryFile(candidate)) return lib;
  console::warn(Err::ExtLibNotFoundWarning);
  for (const char* name : kSystemNames)
    if (const Library* lib = tryFile(name)) return lib;
  return nullptr;
}

const Library& requireLibrary() {
  const Library* lib = findLibrary();
  if (!lib) throw Error(Err::USBConnectionError, kMissingLibrary);
  return *lib;
}

// A device list that frees itself.
struct DeviceList {
  const Library& lib;
  libusb_device** list = nullptr;
  ssize_t count = 0;
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

bool isFamily(const Library& lib, libusb_device* dev, libusb_device_descriptor& d) {
  return lib.get_device_descriptor(dev, &d) == LIBUSB_SUCCESS && d.idVendor == USB_VID && d.idProduct == USB_PID;
}

// A string descriptor; nullopt when the device does not give it.
std::optional<std::string> readString(const Library& lib, libusb_device_handle* h, int index) {
  if (index <= 0) return std::string();
  unsigned char buf[kStringMax] = {};
  const int n = lib.get_string_descriptor_ascii(h, static_cast<std::uint8_t>(index), buf, sizeof buf);
  if (n < 0) return std::nullopt;
  return std::string(reinterpret_cast<char*>(buf), static_cast<std::size_t>(n));
}

// Detaches a kernel driver from interface 0 and claims it.
bool claim(const Library& lib, libusb_device_handle* h) {
  if (lib.kernel_driver_active(h, kInterface) == 1) lib.detach_kernel_driver(h, kInterface);
  return lib.claim_interface(h, kInterface) == LIBUSB_SUCCESS;
}

}  // namespace usb

void UsbClient::onInDone(libusb_transfer* t) {
  auto* self = static_cast<UsbClient*>(t->user_data);
  self->in_done_ = 1;
  self->in_complete_.store(true);
}

UsbClient::UsbClient(const std::string& serial_num) : lib_(usb::requireLibrary()) {
  const bool any = serial_num == "default";
  const char* refusal = nullptr;
  usb::DeviceList devices(lib_);
  for (ssize_t i = 0; i < devices.count && !handle_; ++i) {
    libusb_device_descriptor d{};
    if (!usb::isFamily(lib_, devices.list[i], d)) continue;
    libusb_device_handle* h = nullptr;
    if (const int rc = lib_.open(devices.list[i], &h); rc != LIBUSB_SUCCESS) {
      if (rc == LIBUSB_ERROR_ACCESS) refusal = usb::kNoPermission;
      continue;
    }
    if (!any && usb::readString(lib_, h, d.iSerialNumber) != serial_num) {
      lib_.close(h);
      continue;
    }
    // Bulk transfers need the interface claimed; "default" passes over devices already in use.
    if (!usb::claim(lib_, h)) {
      lib_.close(h);
      refusal = usb::kDeviceInUse;
      if (any) continue;
      break;
    }
    handle_ = h;
    serial_index_ = d.iSerialNumber;
    product_index_ = d.iProduct;
  }
  if (!handle_) throw refusal ? Error(Err::USBConnectionError, refusal) : Error(Err::USBConnectionError);
  in_ = lib_.alloc_transfer(0);
  if (!in_) {
    close();
    throw Error(Err::USBConnectionError);
  }
}

UsbClient::~UsbClient() { close(); }

void UsbClient::close() {
  std::unique_lock lock(read_m_);
  if (closed_.exchange(true)) return;
  interrupted_ = true;
  if (in_flight_) lib_.cancel_transfer(in_);
  read_cv_.wait(lock, [this] { return !reading_; });
  // A transfer whose reader gave up early is reaped here; one that never completes is left
  // allocated rather than freed under the library's feet.
  for (int i = 0; in_flight_ && i < usb::kReapAttempts; ++i) {
    timeval tv{0, usb::kReapWaitMicroseconds};
    lock.unlock();
    lib_.handle_events(lib_.ctx, &tv, &in_done_);
    lock.lock();
    if (in_complete_) in_flight_ = false;
  }
  std::lock_guard sending(send_m_);  // a send in progress finishes first
  if (in_ && !in_flight_) lib_.free_transfer(in_);
  if (in_flight_) (void)new Bytes(std::move(in_buf_));  // the library may still write into it
  in_ = nullptr;
  if (handle_) {
    lib_.release_interface(handle_, usb::kInterface);
    lib_.close(handle_);
    handle_ = nullptr;
  }
}

std::string UsbClient::stringDescriptor(int index) {
  std::lock_guard lock(send_m_);  // the handle stays open meanwhile
  if (!handle_) throw Error(Err::USBConnectionError);
  auto text = usb::readString(lib_, handle_, index);
  if (!text) throw Error(Err::USBConnectionError);
  return *text;
}

std::string UsbClient::takeSerialNumber() { return stringDescriptor(serial_index_); }
std::string UsbClient::takeProductName() { return stringDescriptor(product_index_); }

void UsbClient::setReadTimeout(unsigned ms) {
  std::lock_guard lock(read_m_);
  read_timeout_ms_ = ms;
}

ReadResult UsbClient::failure(int rc) {
  if (rc == LIBUSB_ERROR_NO_DEVICE) {
    // Nothing will ever arrive again: the end of this client's stream.
    gone_ = true;
    return {ReadStatus::Closed, 0, lib_.errorText(rc)};
  }
  return {ReadStatus::Failed, 0, lib_.errorText(rc)};
}

// Under read_m_: submits the IN transfer unless one is in flight already. What read() returns
// when it must not wait.
std::optional<ReadResult> UsbClient::startRead(std::size_t capacity) {
  if (closed_ || interrupted_) return ReadResult{ReadStatus::Closed, 0, {}};
  if (reading_) return ReadResult{ReadStatus::Failed, 0, "another read of this USB client is in progress"};
  if (!in_flight_) {
    in_buf_.assign(capacity, 0);
    in_->dev_handle = handle_;
    in_->endpoint = static_cast<unsigned char>(USB_EP_IN);
    in_->type = LIBUSB_TRANSFER_TYPE_BULK;
    in_->timeout = read_timeout_ms_;
    in_->buffer = in_buf_.data();
    in_->length = static_cast<int>(in_buf_.size());
    in_->callback = &UsbClient::onInDone;
    in_->user_data = this;
    in_done_ = 0;
    in_complete_ = false;
    if (const int rc = lib_.submit_transfer(in_); rc != LIBUSB_SUCCESS) return failure(rc);
    in_flight_ = true;
  }
  reading_ = true;
  return std::nullopt;
}

// Under read_m_, once the transfer completed: its outcome.
ReadResult UsbClient::finishRead(Byte* buf, std::size_t capacity) {
  in_flight_ = false;
  const auto got = static_cast<std::size_t>(std::max(in_->actual_length, 0));
  switch (in_->status) {
    case LIBUSB_TRANSFER_COMPLETED:
    case LIBUSB_TRANSFER_TIMED_OUT:
      if (got == 0) return {ReadStatus::Empty, 0, {}};
      std::memcpy(buf, in_buf_.data(), std::min(got, capacity));
      return {ReadStatus::Data, std::min(got, capacity), {}};
    case LIBUSB_TRANSFER_CANCELLED:
      return {ReadStatus::Closed, 0, {}};
    case LIBUSB_TRANSFER_NO_DEVICE:
      return failure(LIBUSB_ERROR_NO_DEVICE);
    case LIBUSB_TRANSFER_STALL:
      return failure(LIBUSB_ERROR_PIPE);
    case LIBUSB_TRANSFER_OVERFLOW:
      return failure(LIBUSB_ERROR_OVERFLOW);
    case LIBUSB_TRANSFER_ERROR:
      break;
  }
  return failure(LIBUSB_ERROR_IO);
}

ReadResult UsbClient::read(Byte* buf, std::size_t capacity) {
  {
    std::lock_guard lock(read_m_);
    if (auto now = startRead(capacity)) return *now;
  }
  int rc = LIBUSB_SUCCESS;
  while (!in_complete_) {
    timeval tv{usb::kEventWaitSeconds, 0};
    rc = lib_.handle_events(lib_.ctx, &tv, &in_done_);
    if (rc != LIBUSB_SUCCESS && rc != LIBUSB_ERROR_INTERRUPTED) break;
  }
  std::lock_guard lock(read_m_);
  reading_ = false;
  read_cv_.notify_all();
  // Event handling failed: the transfer stays in flight for the next read to wait for.
  if (!in_complete_) return failure(rc);
  return finishRead(buf, capacity);
}

void UsbClient::send(ByteView frame) {
  Bytes out(frame.begin(), frame.end());
  if (out.size() < USB_PKT_SIZE) out.resize(USB_PKT_SIZE, 0);
  std::lock_guard lock(send_m_);
  if (closed_ || !handle_) throw Error(Err::USBConnectionError);
  std::size_t done = 0;
  while (done < out.size()) {
    int sent = 0;
    const int rc = lib_.bulk_transfer(handle_, static_cast<unsigned char>(USB_EP_OUT), out.data() + done,
                                      static_cast<int>(out.size() - done), &sent, kUsbWriteTimeoutMs);
    if (rc == LIBUSB_ERROR_NO_DEVICE) gone_ = true;
    if (rc != LIBUSB_SUCCESS && sent <= 0)
      throw Error(Err::USBConnectionError, "Failed to send to Zelvo DAQ over USB: " + lib_.errorText(rc));
    done += static_cast<std::size_t>(sent);
  }
}

void UsbClient::interrupt() {
  std::lock_guard lock(read_m_);
  interrupted_ = true;
  if (in_flight_) lib_.cancel_transfer(in_);  // the reader wakes with LIBUSB_TRANSFER_CANCELLED
}

bool UsbClient::isOpen() const { return !closed_ && !interrupted_ && !gone_; }

void UsbClient::throwReadFailure(const ReadResult& r) {
  if (r.error.empty()) throw Error(Err::USBConnectionError);
  throw Error(Err::USBConnectionError, "Failed to read from Zelvo DAQ over USB: " + r.error);
}

std::vector<std::pair<std::string, std::string>> listUsbDevices() {
  const usb::Library& lib = usb::requireLibrary();
  usb::DeviceList devices(lib);
  std::vector<std::pair<std::string, std::string>> out;
  for (ssize_t i = 0; i < devices.count; ++i) {
    libusb_device_descriptor d{};
    if (!usb::isFamily(lib, devices.list[i], d)) continue;
    libusb_device_handle* h = nullptr;
    if (lib.open(devices.list[i], &h) != LIBUSB_SUCCESS) continue;
    out.emplace_back(usb::readString(lib, h, d.iSerialNumber).value_or(""),
                     usb::readString(lib, h, d.iProduct).value_or(""));
    lib.close(h);
  }
  return out;
}

std::string libusbPath() {
  const usb::Library* lib = usb::findLibrary();
  return lib ? lib->path : std::string();
}

void setLibusbCandidates(std::vector<std::string> files) {
  std::lock_guard lock(usb::loaded().m);
  usb::loaded().extra = std::move(files);
}

}  // namespace zelvo
