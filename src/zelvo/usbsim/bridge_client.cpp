// The client side of the bridge: in a process where ZELVO_USB_EMULATOR names an emulator's
// socket, the shim mirrors the devices of that emulator's bus (message format in
// bridge_wire.hpp).
//
// The first enumeration connects and waits until the emulator has announced its devices, and
// every later one asks the emulator to catch up (Sync) and waits for its Synced; each
// becomes a local proxy device whose OUT transfers go over the socket, and whose IN endpoint
// receives what the emulator's device sent. One thread reads the socket. When the emulator goes
// away the proxies are unplugged (the host's transfers fail with NO_DEVICE) and a later
// enumeration connects again.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <thread>

#include "zelvo/usbsim/bridge_wire.hpp"
#include "zelvo/usbsim/bus.hpp"

namespace zelvo::usbsim {
namespace {

using wire::Msg;

// How long an enumeration waits for the emulator's device list.
constexpr auto kSyncWait = std::chrono::seconds(5);
// IN data beyond this much unread by the host is dropped, as the emulator drops stream packets.
constexpr long kMaxUnreadIn = 4L * 1024 * 1024;

struct Proxy {
  std::uint32_t id = 0;
  zelvo_usbsim_device* device = nullptr;
};

struct Remote {
  std::mutex m;
  std::condition_variable changed;
  bool connected = false;       // a reader thread runs
  std::uint64_t syncs_sent = 0;  // the first Synced comes unasked: counted as sent on connecting
  std::uint64_t synced = 0;      // Synced messages received
  int fd = -1;
  std::mutex write_m;
  std::thread reader;
  bool reader_done = true;
};
Remote& remote() {
  static Remote* r = new Remote();  // never destroyed: the reader may outlive static destruction
  return *r;
}

// A proxy's OUT transfer, on the host's writing thread: goes to the emulator. A failed write is
// a lost transfer; the reader sees the connection end and unplugs the proxies.
void sendOut(void* user, const unsigned char* data, int length) {
  auto* proxy = static_cast<Proxy*>(user);
  Remote& r = remote();
  std::lock_guard lock(r.write_m);
  wire::writeMessage(r.fd, Msg::Out, proxy->id, data, static_cast<std::size_t>(length));
}

void unplug(std::map<std::uint32_t, std::unique_ptr<Proxy>>& proxies, std::uint32_t id) {
  const auto it = proxies.find(id);
  if (it == proxies.end()) return;
  zelvo_usbsim_unplug(it->second->device);  // returns once no sendOut for it runs
  proxies.erase(it);
}

void handle(const wire::Header& h, const std::vector<unsigned char>& payload,
            std::map<std::uint32_t, std::unique_ptr<Proxy>>& proxies) {
  Remote& r = remote();
  switch (h.type) {
    case Msg::Plug: {
      wire::Identity id;
      if (!wire::decodeIdentity(payload, id) || proxies.count(h.device)) return;
      const zelvo_usbsim_identity identity{id.vendor_id,           id.product_id,       id.device_release,
                                           id.manufacturer.c_str(), id.product.c_str(), id.serial_number.c_str()};
      auto proxy = std::make_unique<Proxy>();
      proxy->id = h.device;
      proxy->device = zelvo_usbsim_plug(&identity, sendOut, proxy.get());
      if (proxy->device) proxies.emplace(h.device, std::move(proxy));
      return;
    }
    case Msg::Unplug:
      unplug(proxies, h.device);
      return;
    case Msg::In: {
      const auto it = proxies.find(h.device);
      if (it == proxies.end() || zelvo_usbsim_in_queued(it->second->device) > kMaxUnreadIn) return;
      zelvo_usbsim_send_in(it->second->device, payload.data(), static_cast<int>(payload.size()));
      return;
    }
    case Msg::InFail: {
      const auto it = proxies.find(h.device);
      if (it == proxies.end()) return;
      zelvo_usbsim_fail_in(it->second->device, zelvo_usbsim_in_failures_left(it->second->device) + 1);
      return;
    }
    case Msg::Synced: {
      std::lock_guard lock(r.m);
      ++r.synced;
      r.changed.notify_all();
      return;
    }
    case Msg::Out:
    case Msg::Sync:
      return;  // not sent to a client
  }
}

void readLoop(int fd) {
  std::map<std::uint32_t, std::unique_ptr<Proxy>> proxies;
  wire::Header h;
  std::vector<unsigned char> payload;
  while (wire::readMessage(fd, h, payload)) handle(h, payload, proxies);
  while (!proxies.empty()) unplug(proxies, proxies.begin()->first);
  Remote& r = remote();
  {
    std::lock_guard lock(r.write_m);
    ::close(fd);
    r.fd = -1;
  }
  std::lock_guard lock(r.m);
  r.connected = false;
  r.reader_done = true;
  r.changed.notify_all();
}

int connectTo(const char* path) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (std::strlen(path) >= sizeof addr.sun_path) return -1;
  std::strcpy(addr.sun_path, path);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

void attachRemote() {
  const char* path = std::getenv(wire::kSocketVariable);
  if (!path || !*path) return;
  {
    std::lock_guard lock(bus().m);
    if (bus().serving) return;  // this process is the emulator
  }
  Remote& r = remote();
  std::unique_lock lock(r.m);
  if (r.connected) {
    const std::uint64_t ticket = ++r.syncs_sent;
    {
      std::lock_guard write_lock(r.write_m);
      if (!wire::writeMessage(r.fd, Msg::Sync, 0, nullptr, 0)) return;  // the reader sees the end
    }
    r.changed.wait_for(lock, kSyncWait, [&] { return r.synced >= ticket || !r.connected; });
    return;
  }
  if (r.reader.joinable()) {
    r.changed.wait(lock, [&] { return r.reader_done; });
    r.reader.join();  // past its last use of the lock
  }
  const int fd = connectTo(path);
  if (fd < 0) return;  // no emulator there: the bus shows no devices
  {
    std::lock_guard write_lock(r.write_m);
    r.fd = fd;
  }
  r.connected = true;
  r.syncs_sent = 1;
  r.synced = 0;
  r.reader_done = false;
  r.reader = std::thread(readLoop, fd);
  r.changed.wait_for(lock, kSyncWait, [&] { return r.synced >= 1 || !r.connected; });
}

}  // namespace zelvo::usbsim
