#include "zelvo/sim/discovery_responder.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <stdexcept>

#include "zelvo/sim/tcp_server.hpp"
#include "zelvo/sim/wire.hpp"

namespace zelvo::sim {
namespace {

constexpr std::uint32_t kLoopbackNet = 127;
constexpr int kNetShift = 24;
constexpr std::uint32_t kLoopbackBroadcast = 0x7FFFFFFF;  // 127.255.255.255
constexpr std::uint32_t kLimitedBroadcast = 0xFFFFFFFF;   // 255.255.255.255
constexpr std::size_t kDatagramMax = 2048;
constexpr int kPortMax = 65535;
constexpr Byte kAnswerMark = 1;

bool loopback(std::uint32_t addr) { return (addr >> kNetShift) == kLoopbackNet; }

sockaddr_in endpoint(std::uint32_t addr, int port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(addr);
  sa.sin_port = htons(static_cast<std::uint16_t>(port));
  return sa;
}

std::string where(std::uint32_t addr, int port) {
  in_addr a{htonl(addr)};
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &a, text, sizeof text);
  return std::string(text) + ":" + std::to_string(port);
}

// A datagram socket bound to addr:port; `shared` lets every emulated device bind the same one.
int boundSocket(std::uint32_t addr, int port, bool shared) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) throw ListenError(errno, "cannot create a discovery socket");
  const int on = 1;
  if (shared) ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in sa = endpoint(addr, port);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    const int err = errno;
    ::close(fd);
    throw ListenError(err, "cannot bind the discovery socket " + where(addr, port));
  }
  return fd;
}

void closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

DiscoveryResponder::DiscoveryResponder(NetworkFirmware& net, const DiscoveryOptions& opts, GoOffline go_offline)
    : net_(net), go_offline_(std::move(go_offline)), request_port_(opts.request_port),
      answer_port_(opts.answer_port), mark_(kAnswerMark) {
  in_addr a{};
  if (inet_pton(AF_INET, opts.host.c_str(), &a) != 1 || !loopback(ntohl(a.s_addr)))
    throw std::invalid_argument("emulated devices answer discovery on loopback addresses (127.0.0.0/8) only, not '" +
                                opts.host + "'");
  host_ = ntohl(a.s_addr);
  for (int port : {request_port_, answer_port_})
    if (port < 1 || port > kPortMax) throw std::invalid_argument("discovery port " + std::to_string(port) + " is outside 1..65535");
  try {
    loopback_fd_ = boundSocket(kLoopbackBroadcast, request_port_, true);
    limited_fd_ = boundSocket(kLimitedBroadcast, request_port_, true);
    answer_fd_ = boundSocket(host_, 0, false);
    wake_fd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wake_fd_ < 0) throw ListenError(errno, "cannot create the discovery wake-up event");
  } catch (...) {
    for (int* fd : {&loopback_fd_, &limited_fd_, &answer_fd_}) closeFd(*fd);
    throw;
  }
  thread_ = std::thread([this] { run(); });
}

DiscoveryResponder::~DiscoveryResponder() { stop(); }

void DiscoveryResponder::stop() {
  std::lock_guard lock(stop_m_);
  if (stopping_.exchange(true)) return;
  const std::uint64_t one = 1;
  [[maybe_unused]] const auto n = ::write(wake_fd_, &one, sizeof one);
  if (thread_.joinable()) thread_.join();
  for (int* fd : {&loopback_fd_, &limited_fd_, &answer_fd_, &wake_fd_}) closeFd(*fd);
}

void DiscoveryResponder::run() {
  pollfd fds[3] = {{wake_fd_, POLLIN, 0}, {loopback_fd_, POLLIN, 0}, {limited_fd_, POLLIN, 0}};
  while (!stopping_.load()) {
    if (::poll(fds, 3, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (stopping_.load()) return;
    for (int i = 1; i < 3; ++i)
      if (fds[i].revents & POLLIN) serve(fds[i].fd);
  }
}

// Every datagram waiting on the socket; each holds one or more request frames.
void DiscoveryResponder::serve(int fd) {
  Byte buf[kDatagramMax];
  for (;;) {
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const ssize_t n = ::recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) return;  // EAGAIN: all read
    const std::uint32_t from_addr = ntohl(from.sin_addr.s_addr);
    if (!loopback(from_addr)) continue;  // never answered: the answer would leave this machine
    RequestParser parser;
    parser.feed(ByteView(buf, static_cast<std::size_t>(n)));
    while (auto req = parser.next()) handle(*req, from_addr);
  }
}

void DiscoveryResponder::handle(const Request& req, std::uint32_t from_addr) {
  {
    std::lock_guard lock(m_);
    ++requests_[req.code];
    if (Clock::now() < offline_until_) return;  // rebooting
    if (ignore_ > 0) {
      --ignore_;
      return;
    }
  }
  DiscoveryOutcome out = net_.discover(req);
  if (!out.answer) return;
  double offline = 0;
  {
    std::lock_guard lock(m_);
    if (limit_ && out.answer->size() > 1 + *limit_) out.answer->resize(1 + *limit_);
    (*out.answer)[0] = mark_;
    if (out.reboot) {
      offline = reboot_seconds_;
      offline_until_ = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(offline));
    }
  }
  send(req.code, *out.answer, from_addr);
  if (out.reboot && go_offline_) go_offline_(offline);
}

void DiscoveryResponder::send(int code, const Bytes& payload, std::uint32_t to_addr) {
  const Bytes frame = encodeFrame(code, payload);
  const sockaddr_in to = endpoint(to_addr, answer_port_);
  // A lost answer is what UDP allows; the finder simply does not hear this device.
  [[maybe_unused]] const auto n = ::sendto(answer_fd_, frame.data(), frame.size(), MSG_DONTWAIT,
                                           reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

bool DiscoveryResponder::online() const {
  std::lock_guard lock(m_);
  return Clock::now() >= offline_until_;
}

std::uint64_t DiscoveryResponder::requestCount(int code) const {
  std::lock_guard lock(m_);
  const auto it = requests_.find(code);
  return it == requests_.end() ? 0 : it->second;
}

void DiscoveryResponder::ignoreNext(int n) {
  if (n < 0) throw std::invalid_argument("the number of requests to ignore is >= 0");
  std::lock_guard lock(m_);
  ignore_ = n;
}

void DiscoveryResponder::setAnswerMark(Byte mark) {
  std::lock_guard lock(m_);
  mark_ = mark;
}

Byte DiscoveryResponder::answerMark() const {
  std::lock_guard lock(m_);
  return mark_;
}

void DiscoveryResponder::setAnswerLimit(std::optional<std::size_t> bytes) {
  std::lock_guard lock(m_);
  limit_ = bytes;
}

std::optional<std::size_t> DiscoveryResponder::answerLimit() const {
  std::lock_guard lock(m_);
  return limit_;
}

void DiscoveryResponder::setRebootSeconds(double seconds) {
  if (!std::isfinite(seconds) || seconds < 0) throw std::invalid_argument("a reboot takes a finite time >= 0");
  std::lock_guard lock(m_);
  reboot_seconds_ = seconds;
}

double DiscoveryResponder::rebootSeconds() const {
  std::lock_guard lock(m_);
  return reboot_seconds_;
}

void DiscoveryResponder::resetFaults() {
  std::lock_guard lock(m_);
  ignore_ = 0;
  mark_ = kAnswerMark;
  limit_.reset();
  reboot_seconds_ = kDefaultRebootSeconds;
}

}  // namespace zelvo::sim
