#include "zelvo/core/net_client.hpp"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cmath>
#include <algorithm>
#include <cstring>

#include "zelvo/core/broadcast_guard.hpp"

namespace zelvo {
namespace {

// Resolves an IPv4 address text (dotted quad or host name; "" = any).
std::optional<sockaddr_in> ipv4(const std::string& host, int port) {
  if (port < 0 || port > 0xFFFF) return std::nullopt;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  if (host.empty()) {
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    return a;
  }
  if (inet_pton(AF_INET, host.c_str(), &a.sin_addr) == 1) return a;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo* res = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0 || !res) return std::nullopt;
  a.sin_addr = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr;
  freeaddrinfo(res);
  return a;
}

sockaddr* asSockaddr(sockaddr_in& a) { return reinterpret_cast<sockaddr*>(&a); }

// Connects a non-blocking socket within the time-out; gives up when `abort_fd` becomes readable.
bool connectWithin(int fd, sockaddr_in& addr, double timeout, int abort_fd) {
  const int flags = fcntl(fd, F_GETFL, 0);
  fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  int rc = ::connect(fd, asSockaddr(addr), sizeof addr);
  if (rc != 0 && errno == EINPROGRESS) {
    pollfd p[2] = {{fd, POLLOUT, 0}, {abort_fd, POLLIN, 0}};
    const int ms = static_cast<int>(std::ceil(std::max(timeout, 0.0) * 1000));
    do {
      rc = ::poll(p, 2, ms);
    } while (rc < 0 && errno == EINTR);
    if (rc <= 0 || (p[1].revents & POLLIN)) return false;
    int err = 0;
    socklen_t len = sizeof err;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) return false;
  } else if (rc != 0) {
    return false;
  }
  fcntl(fd, F_SETFL, flags);
  return true;
}

}  // namespace

// --- NetworkClient -------------------------------------------------------------------------------

NetworkClient::~NetworkClient() {
  std::lock_guard lock(io_m_);
  closeLocked();
}

void NetworkClient::closeLocked() {
  const int fd = fd_.exchange(-1);
  if (fd >= 0) ::close(fd);
}

void NetworkClient::adopt(int fd) {
  std::lock_guard lock(io_m_);
  closeLocked();
  fd_ = fd;
  interrupted_ = false;
}

ReadResult NetworkClient::read(Byte* buf, std::size_t capacity) {
  const int fd = fd_.load();
  if (fd < 0 || interrupted_) return {ReadStatus::Closed, 0, {}};
  for (;;) {
    const ssize_t n = ::recv(fd, buf, capacity, 0);
    if (n > 0) return {ReadStatus::Data, static_cast<std::size_t>(n), {}};
    if (n == 0 || interrupted_) return {ReadStatus::Closed, 0, {}};
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return {ReadStatus::Empty, 0, {}};
    return {ReadStatus::Failed, 0, std::strerror(errno)};
  }
}

void NetworkClient::throwReadFailure(const ReadResult&) { throw Error(Err::NetworkConnectionLostError); }

void NetworkClient::send(ByteView frame) {
  std::lock_guard lock(io_m_);
  const int fd = fd_.load();
  if (fd < 0) throw Error(Err::NetworkConnectionError);
  sendOn(fd, frame);
}

void NetworkClient::sendOn(int fd, ByteView frame) {
  std::size_t done = 0;
  while (done < frame.size()) {
    const ssize_t n = ::send(fd, frame.data() + done, frame.size() - done, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw Error(Err::NetworkConnectionLostError);
    }
    done += static_cast<std::size_t>(n);
  }
}

void NetworkClient::interrupt() {
  interrupted_ = true;
  const int fd = fd_.load();
  // A shutdown wakes a thread blocked in recv on this socket (also for unconnected datagram
  // sockets on Linux, where it reports ENOTCONN but still wakes the reader).
  if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
}

bool NetworkClient::isOpen() const { return fd_.load() >= 0 && !interrupted_; }

void NetworkClient::setTimeout(std::optional<double> seconds) {
  const int fd = fd_.load();
  if (fd < 0) return;
  timeval tv{};
  if (seconds && *seconds > 0) {
    tv.tv_sec = static_cast<time_t>(*seconds);
    tv.tv_usec = static_cast<suseconds_t>((*seconds - static_cast<double>(tv.tv_sec)) * 1e6);
    if (tv.tv_sec == 0 && tv.tv_usec == 0) tv.tv_usec = 1;
  }
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

void NetworkClient::disconnect() {
  bool failed = false;
  {
    std::lock_guard lock(io_m_);
    const int fd = fd_.load();
    if (fd < 0) return;
    if (::shutdown(fd, SHUT_RDWR) != 0 && errno != ENOTCONN) failed = true;
    closeLocked();
  }
  if (failed) throw Error(Err::NetworkConnectionLostError, "Network DAQ connection lost.");
}

int NetworkClient::socketFd() const { return std::max(fd_.load(), 0); }

// --- TcpClient -----------------------------------------------------------------------------------

TcpClient::~TcpClient() {
  if (abort_fd_ >= 0) ::close(abort_fd_);
}

void TcpClient::abortConnects() {
  std::lock_guard lock(abort_m_);
  aborted_ = true;
  const std::uint64_t one = 1;
  if (abort_fd_ >= 0) {
    [[maybe_unused]] const auto n = ::write(abort_fd_, &one, sizeof one);
  }
}

void TcpClient::connect(const std::string& ip, int port, double timeout) {
  auto addr = ipv4(ip, port);
  if (!addr) throw Error(Err::NetworkConnectionError);
  int abort_fd = -1;
  {
    std::lock_guard lock(abort_m_);
    if (aborted_) throw Error(Err::NetworkConnectionError, "The device handle is closed.");
    if (abort_fd_ < 0) abort_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    abort_fd = abort_fd_;
  }
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw Error(Err::NetworkConnectionError);
  if (!connectWithin(fd, *addr, timeout, abort_fd)) {
    ::close(fd);
    throw Error(Err::NetworkConnectionError);
  }
  // Commands are small frames that want an answer: send them at once.
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  adopt(fd);
}

// --- UdpClient -----------------------------------------------------------------------------------

void UdpClient::bind(const std::string& ip, int port) {
  auto addr = ipv4(ip, port);
  if (!addr) throw Error(Err::NetworkConnectionError);
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw Error(Err::NetworkConnectionError);
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (::bind(fd, asSockaddr(*addr), sizeof *addr) != 0) {
    ::close(fd);
    throw Error(Err::NetworkConnectionError);
  }
  adopt(fd);
}

void UdpClient::sendOn(int fd, ByteView frame) {
  auto to = ipv4(bcst_address, bcst_port);
  if (!to) throw Error(Err::NetworkConnectionError);
  requireAllowedBroadcast(bcst_address, {});
  if (::sendto(fd, frame.data(), frame.size(), 0, asSockaddr(*to), sizeof *to) < 0)
    throw Error(Err::NetworkConnectionLostError);
}

namespace {

// A datagram socket that is closed on every path.
struct DatagramSocket {
  DatagramSocket() : fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}
  ~DatagramSocket() {
    if (fd >= 0) ::close(fd);
  }
  DatagramSocket(const DatagramSocket&) = delete;
  DatagramSocket& operator=(const DatagramSocket&) = delete;
  int fd;
};

// Sends one copy of the frame from `from` (none: the system picks the source) to `to` on a
// broadcast-enabled socket of its own; the reason when it failed.
std::optional<std::string> sendCopy(const std::optional<sockaddr_in>& from, sockaddr_in to, ByteView frame) {
  DatagramSocket s;
  if (s.fd < 0) return std::string(std::strerror(errno));
  const int one = 1;
  setsockopt(s.fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
  sockaddr_in src = from.value_or(sockaddr_in{});
  if (from && ::bind(s.fd, asSockaddr(src), sizeof src) != 0) return std::string(std::strerror(errno));
  if (::sendto(s.fd, frame.data(), frame.size(), 0, asSockaddr(to), sizeof to) < 0)
    return std::string(std::strerror(errno));
  return std::nullopt;
}

}  // namespace

void UdpClient::sendBcstPacket(ByteView frame) {
  auto to = ipv4(bcst_address, bcst_port);
  if (!to) throw Error(Err::NetworkConnectionError, "Cannot send discovery requests to '" + bcst_address + "'.");
  const auto sources = bcst_sources.empty() ? localIPv4Addresses() : bcst_sources;
  requireAllowedBroadcast(bcst_address, sources);
  if (sources.empty()) {  // no address to send from: once, from wherever the system sends
    if (auto failure = sendCopy(std::nullopt, *to, frame))
      throw Error(Err::NetworkConnectionError, "The discovery request could not be sent: " + *failure);
    return;
  }
  // One copy per source address; a failure on one does not keep the others from being sent.
  std::size_t sent = 0;
  std::string failures;
  for (const auto& src : sources) {
    const auto from = ipv4(src, 0);
    const auto failure = from ? sendCopy(from, *to, frame) : std::optional<std::string>("not an address");
    if (!failure) {
      ++sent;
      continue;
    }
    failures += (failures.empty() ? "" : "; ") + src + ": " + *failure;
  }
  if (sent == 0) throw Error(Err::NetworkConnectionError, "The discovery request could not be sent (" + failures + ").");
}

std::vector<std::string> localIPv4Addresses() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return {};
  std::vector<std::string> out;
  for (auto* i = list; i; i = i->ifa_next) {
    if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || !(i->ifa_flags & IFF_UP)) continue;
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr, text, sizeof text);
    if (std::find(out.begin(), out.end(), text) == out.end()) out.emplace_back(text);
  }
  freeifaddrs(list);
  return out;
}

}  // namespace zelvo
