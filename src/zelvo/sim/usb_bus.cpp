#include "zelvo/sim/usb_bus.hpp"

#include <dlfcn.h>

#include <filesystem>
#include <mutex>
#include <vector>

#include "zelvo/usbsim/usbsim.h"

namespace zelvo::sim {

// The shim's device-side functions.
struct UsbShim {
  std::string path;
  decltype(&zelvo_usbsim_plug) plug = nullptr;
  decltype(&zelvo_usbsim_unplug) unplug = nullptr;
  decltype(&zelvo_usbsim_send_in) send_in = nullptr;
  decltype(&zelvo_usbsim_in_queued) in_queued = nullptr;
  decltype(&zelvo_usbsim_open_handles) open_handles = nullptr;
  decltype(&zelvo_usbsim_fail_in) fail_in = nullptr;
  decltype(&zelvo_usbsim_in_failures_left) in_failures_left = nullptr;
  decltype(&zelvo_usbsim_serve) serve = nullptr;
  decltype(&zelvo_usbsim_stop_serving) stop_serving = nullptr;
};

namespace {

constexpr const char* kShimFileName = "libzelvo_usbsim.so";
constexpr int kShimBusy = -6;  // LIBUSB_ERROR_BUSY

struct Loader {
  std::mutex m;
  std::string requested;
  std::unique_ptr<UsbShim> shim;  // once loaded, kept for the life of the process
};
Loader& loader() {
  static Loader* l = new Loader();
  return *l;
}

// The candidate files: the requested one, else beside the module holding this code, as it was
// loaded and with links resolved (a development tree links the module into a package folder).
std::vector<std::filesystem::path> candidates(const std::string& requested) {
  if (!requested.empty()) return {requested};
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(&candidates), &info) || !info.dli_fname) return {kShimFileName};
  const std::filesystem::path module = std::filesystem::absolute(info.dli_fname);
  std::vector<std::filesystem::path> out{module.parent_path() / kShimFileName};
  std::error_code ec;
  const auto real = std::filesystem::canonical(module, ec);
  if (!ec && real.parent_path() != module.parent_path()) out.push_back(real.parent_path() / kShimFileName);
  return out;
}

template <class Fn>
void resolveSymbol(void* so, const char* name, Fn& fn) {
  fn = reinterpret_cast<Fn>(dlsym(so, name));
  if (!fn) throw UsbShimError(std::string("the USB shim lacks ") + name);
}

std::unique_ptr<UsbShim> open(const std::filesystem::path& file) {
  void* so = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!so) return nullptr;
  auto version = reinterpret_cast<decltype(&zelvo_usbsim_version)>(dlsym(so, "zelvo_usbsim_version"));
  if (!version || version() != ZELVO_USBSIM_VERSION)
    throw UsbShimError(file.string() + " is not a USB shim of this version");
  auto s = std::make_unique<UsbShim>();
  s->path = std::filesystem::canonical(file).string();
  resolveSymbol(so, "zelvo_usbsim_plug", s->plug);
  resolveSymbol(so, "zelvo_usbsim_unplug", s->unplug);
  resolveSymbol(so, "zelvo_usbsim_send_in", s->send_in);
  resolveSymbol(so, "zelvo_usbsim_in_queued", s->in_queued);
  resolveSymbol(so, "zelvo_usbsim_open_handles", s->open_handles);
  resolveSymbol(so, "zelvo_usbsim_fail_in", s->fail_in);
  resolveSymbol(so, "zelvo_usbsim_in_failures_left", s->in_failures_left);
  resolveSymbol(so, "zelvo_usbsim_serve", s->serve);
  resolveSymbol(so, "zelvo_usbsim_stop_serving", s->stop_serving);
  return s;
}

const UsbShim& shim() {
  Loader& l = loader();
  std::lock_guard lock(l.m);
  if (l.shim) return *l.shim;
  std::string tried;
  for (const auto& file : candidates(l.requested)) {
    if ((l.shim = open(file))) return *l.shim;
    tried += (tried.empty() ? "" : ", ") + file.string();
  }
  throw UsbShimError("the emulator's USB shim " + std::string(kShimFileName) + " was not found (looked for " + tried +
                     ")");
}

}  // namespace

void setUsbLibraryPath(std::string path) {
  Loader& l = loader();
  std::lock_guard lock(l.m);
  l.requested = std::move(path);
}

std::string usbLibraryPath() { return shim().path; }

void serveUsb(const std::string& socket_path) {
  if (const int rc = shim().serve(socket_path.c_str()); rc != 0)
    throw UsbShimError("cannot serve the USB devices on " + socket_path +
                       (rc == kShimBusy ? " (already serving on another socket)" : ""));
}

void stopServingUsb() { shim().stop_serving(); }

void UsbPlug::onOut(void* self, const unsigned char* data, int length) {
  static_cast<UsbPlug*>(self)->receive_(ByteView(data, static_cast<std::size_t>(length)));
}

UsbPlug::UsbPlug(const UsbIdentity& id, Receive receive) : shim_(shim()), receive_(std::move(receive)) {
  const zelvo_usbsim_identity ident{id.vendor_id,       id.product_id,      id.device_release,
                                    id.manufacturer.c_str(), id.product.c_str(), id.serial_number.c_str()};
  dev_ = shim_.plug(&ident, &UsbPlug::onOut, this);
  if (!dev_) throw UsbShimError("the USB shim refused the device");
}

UsbPlug::~UsbPlug() { shim_.unplug(dev_); }

void UsbPlug::sendIn(ByteView bytes) { shim_.send_in(dev_, bytes.data(), static_cast<int>(bytes.size())); }

std::size_t UsbPlug::inQueued() const { return static_cast<std::size_t>(shim_.in_queued(dev_)); }

int UsbPlug::openHandles() const { return shim_.open_handles(dev_); }

void UsbPlug::failIn(int n) { shim_.fail_in(dev_, n); }

int UsbPlug::inFailuresLeft() const { return shim_.in_failures_left(dev_); }

}  // namespace zelvo::sim
