// The serving side of the bridge: an emulator process offers the devices of its bus to other
// processes on a UNIX socket (message format in bridge_wire.hpp).
//
// For each connected process the server acts as the USB host of its own bus: it opens and claims
// every device (so no in-process host uses a device while a process is attached), forwards the
// Out messages to the OUT endpoint, and keeps one read of the IN endpoint waiting per device, on
// a thread of its own, sending what it reads. One more thread per connection follows the bus and
// announces devices plugged in and out. Nothing polls: the threads wait on the socket or on the
// bus's condition variables.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <thread>

#include "zelvo/usbsim/bridge_wire.hpp"
#include "zelvo/usbsim/bus.hpp"

namespace zelvo::usbsim {
namespace {

using wire::Msg;

// One device of the bus while a connection holds it.
struct Attached {
  std::uint32_t id = 0;
  std::shared_ptr<Instance> instance;
  libusb_device_handle* handle = nullptr;
  bool stop = false;  // under the bus lock: ends the IN reader
  std::thread in_reader;
};

class Connection {
 public:
  Connection(int fd, libusb_context* ctx) : fd_(fd), ctx_(ctx) {
    watcher_ = std::thread([this] { watch(); });
    reader_ = std::thread([this] { serve(); });
  }
  ~Connection() {
    ::shutdown(fd_, SHUT_RDWR);  // ends serve(), which ends the rest
    if (reader_.joinable()) reader_.join();
    ::close(fd_);
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  bool finished() const { return finished_.load(); }

 private:
  bool send(Msg type, std::uint32_t device, const unsigned char* data = nullptr, std::size_t n = 0) {
    std::lock_guard lock(write_m_);
    return wire::writeMessage(fd_, type, device, data, n);
  }

  // The client's messages: OUT transfers. At its end (the client left, or the server stops) the
  // watcher and every IN reader are stopped and the devices released.
  void serve() {
    wire::Header h;
    std::vector<unsigned char> payload;
    while (wire::readMessage(fd_, h, payload)) {
      if (h.type == Msg::Sync) {
        std::lock_guard lock(bus().m);
        ++sync_requests_;
        bus().changed.notify_all();
        continue;
      }
      if (h.type != Msg::Out) continue;
      std::lock_guard lock(m_);
      const auto it = attached_.find(h.device);
      if (it == attached_.end()) continue;  // unplugged meanwhile: the transfer is lost, as on a bus
      int sent = 0;
      libusb_bulk_transfer(it->second->handle, kEndpointOut, payload.data(), static_cast<int>(payload.size()),
                           &sent, 0);
    }
    {
      std::lock_guard lock(bus().m);
      closing_ = true;
      bus().changed.notify_all();
    }
    watcher_.join();
    std::lock_guard lock(m_);
    for (auto& [id, a] : attached_) release(*a);
    attached_.clear();
    finished_ = true;
  }

  // Follows the bus: attaches new devices, releases gone ones; says Synced after the first pass
  // and after the pass that follows each Sync of the client.
  void watch() {
    std::unique_lock lock(bus().m);
    std::uint64_t seen = bus().generation - 1;
    std::uint64_t answered = 0;
    bool synced = false;
    for (;;) {
      bus().changed.wait(lock, [&] { return closing_ || bus().generation != seen || sync_requests_ != answered; });
      if (closing_) return;
      seen = bus().generation;
      const std::uint64_t requests = sync_requests_;
      auto plugged = bus().plugged;
      lock.unlock();
      update(plugged);
      if (!synced) synced = send(Msg::Synced, 0);
      for (; answered < requests; ++answered) send(Msg::Synced, 0);
      lock.lock();
    }
  }

  void update(const std::vector<std::shared_ptr<Instance>>& plugged) {
    std::lock_guard lock(m_);
    for (auto it = attached_.begin(); it != attached_.end();) {
      const bool present = std::find(plugged.begin(), plugged.end(), it->second->instance) != plugged.end();
      if (present) {
        ++it;
        continue;
      }
      release(*it->second);
      send(Msg::Unplug, it->first);
      it = attached_.erase(it);
    }
    for (const auto& inst : plugged) {
      const bool known = std::any_of(attached_.begin(), attached_.end(),
                                     [&](const auto& kv) { return kv.second->instance == inst; });
      if (!known) attach(inst);
    }
  }

  void attach(const std::shared_ptr<Instance>& inst) {
    libusb_device* dev = nullptr;
    wire::Identity id;
    {
      std::lock_guard lock(bus().m);
      if (inst->gone) return;
      dev = new libusb_device{ctx_, inst, 1};
      id.vendor_id = inst->descriptor.idVendor;
      id.product_id = inst->descriptor.idProduct;
      id.device_release = inst->descriptor.bcdDevice;
      id.manufacturer = inst->strings[kManufacturerIndex];
      id.product = inst->strings[kProductIndex];
      id.serial_number = inst->strings[kSerialIndex];
    }
    libusb_device_handle* handle = nullptr;
    const int opened = libusb_open(dev, &handle);
    libusb_unref_device(dev);  // the handle keeps its own reference
    if (opened != LIBUSB_SUCCESS) return;
    if (libusb_kernel_driver_active(handle, kInterface) == 1) libusb_detach_kernel_driver(handle, kInterface);
    if (libusb_claim_interface(handle, kInterface) != LIBUSB_SUCCESS) {  // held by a host in this process
      libusb_close(handle);
      return;
    }
    auto a = std::make_unique<Attached>();
    a->id = next_id_++;
    a->instance = inst;
    a->handle = handle;
    const auto identity = wire::encodeIdentity(id);
    send(Msg::Plug, a->id, identity.data(), identity.size());
    Attached* raw = a.get();
    a->in_reader = std::thread([this, raw] { forwardIn(*raw); });
    attached_.emplace(raw->id, std::move(a));
  }

  // Keeps one read of the IN endpoint waiting and sends what it returns, until the device goes,
  // the connection ends or the read is stopped.
  void forwardIn(Attached& a) {
    std::vector<unsigned char> buffer(wire::kInChunk);
    for (;;) {
      int got = 0;
      int rc;
      {
        std::unique_lock lock(bus().m);
        if (a.instance->gone) return;
        rc = readIn(a.handle, buffer.data(), wire::kInChunk, &got, 0, &a.stop, lock);
      }
      if (rc == LIBUSB_SUCCESS) {
        if (!send(Msg::In, a.id, buffer.data(), static_cast<std::size_t>(got))) return;
      } else if (rc == LIBUSB_ERROR_IO) {
        if (!send(Msg::InFail, a.id)) return;  // an injected failure: the client's host sees it
      } else {
        return;
      }
    }
  }

  static void release(Attached& a) {
    {
      std::lock_guard lock(bus().m);
      a.stop = true;
      a.instance->changed.notify_all();
    }
    a.in_reader.join();
    libusb_release_interface(a.handle, kInterface);
    libusb_close(a.handle);
  }

  const int fd_;
  libusb_context* const ctx_;
  std::mutex write_m_;
  std::mutex m_;  // attached_
  std::map<std::uint32_t, std::unique_ptr<Attached>> attached_;
  std::uint32_t next_id_ = 1;
  bool closing_ = false;             // under the bus lock
  std::uint64_t sync_requests_ = 0;  // under the bus lock: Sync messages received
  std::atomic<bool> finished_{false};
  std::thread watcher_;
  std::thread reader_;
};

struct Server {
  std::mutex m;
  int listen_fd = -1;
  std::string path;
  libusb_context* ctx = nullptr;
  std::thread acceptor;
  std::vector<std::unique_ptr<Connection>> connections;  // under m
};
Server& server() {
  static Server* s = new Server();
  return *s;
}

void acceptLoop(int listen_fd) {
  for (;;) {
    const int fd = ::accept(listen_fd, nullptr, nullptr);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return;  // the listener was shut down
    }
    Server& s = server();
    std::lock_guard lock(s.m);
    std::erase_if(s.connections, [](const auto& c) { return c->finished(); });
    s.connections.push_back(std::make_unique<Connection>(fd, s.ctx));
  }
}

}  // namespace
}  // namespace zelvo::usbsim

using namespace zelvo::usbsim;

ZELVO_USBSIM_API int zelvo_usbsim_serve(const char* path) {
  Server& s = server();
  std::lock_guard lock(s.m);
  if (!path || !*path) return LIBUSB_ERROR_INVALID_PARAM;
  if (s.listen_fd >= 0) return s.path == path ? LIBUSB_SUCCESS : LIBUSB_ERROR_BUSY;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (std::strlen(path) >= sizeof addr.sun_path) return LIBUSB_ERROR_INVALID_PARAM;
  std::strcpy(addr.sun_path, path);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return LIBUSB_ERROR_OTHER;
  ::unlink(path);  // a socket file left by an earlier run
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 8) != 0) {
    ::close(fd);
    return LIBUSB_ERROR_ACCESS;
  }
  if (!s.ctx) libusb_init(&s.ctx);
  {
    std::lock_guard bus_lock(bus().m);
    bus().serving = true;
  }
  s.listen_fd = fd;
  s.path = path;
  s.acceptor = std::thread(acceptLoop, fd);
  return LIBUSB_SUCCESS;
}

ZELVO_USBSIM_API void zelvo_usbsim_stop_serving(void) {
  Server& s = server();
  std::vector<std::unique_ptr<Connection>> connections;
  std::thread acceptor;
  int fd;
  {
    std::lock_guard lock(s.m);
    if (s.listen_fd < 0) return;
    fd = s.listen_fd;
    ::shutdown(fd, SHUT_RDWR);  // wakes accept()
    acceptor = std::move(s.acceptor);
  }
  acceptor.join();
  {
    std::lock_guard lock(s.m);
    connections.swap(s.connections);
    ::close(fd);
    ::unlink(s.path.c_str());
    s.listen_fd = -1;
    s.path.clear();
  }
  connections.clear();  // each ends its client's session and releases its devices
  std::lock_guard bus_lock(bus().m);
  bus().serving = false;
}
