#include "zelvo/sim/tcp_server.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <deque>
#include <optional>
#include <stdexcept>
#include <utility>

#include "zelvo/sim/shaped_reply.hpp"

namespace zelvo::sim {
namespace {

using Clock = std::chrono::steady_clock;

// A client that leaves this much of its replies unread is not read from until it catches up.
constexpr std::size_t kMaxQueuedBytes = 1 << 20;
constexpr std::size_t kReadSize = 4096;
// After a reboot, a port that cannot be bound again yet is tried again this much later.
constexpr auto kListenRetry = std::chrono::milliseconds(100);

in_addr loopbackAddress(const std::string& host) {
  in_addr addr{};
  if (inet_pton(AF_INET, host.c_str(), &addr) != 1 || (ntohl(addr.s_addr) >> 24) != 127)
    throw std::invalid_argument("emulated devices listen on loopback addresses (127.0.0.0/8) only, not '" + host + "'");
  return addr;
}

// A listening socket on host:port (0 = any free port); returns the fd and the bound port.
std::pair<int, int> listenOn(const std::string& host, int port) {
  if (port < 0 || port > 65535) throw std::invalid_argument("port " + std::to_string(port) + " is outside 0..65535");
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr = loopbackAddress(host);
  sa.sin_port = htons(static_cast<std::uint16_t>(port));
  const std::string where = host + ":" + std::to_string(port);
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) throw ListenError(errno, "cannot create a socket for " + where);
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  socklen_t len = sizeof sa;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd, 16) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
    const int err = errno;
    ::close(fd);
    std::string hint = err == EACCES ? " (ports below 1024 need root or CAP_NET_BIND_SERVICE)" : "";
    throw ListenError(err, "cannot listen on " + where + hint);
  }
  return {fd, ntohs(sa.sin_port)};
}

void closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace


// --- server --------------------------------------------------------------------------------------

struct TcpDeviceServer::Chunk {
  Clock::time_point due;
  Bytes data;
  std::size_t sent = 0;
  bool stream = false;
};

struct TcpDeviceServer::Connection {
  int fd = -1;
  bool data_channel = false;
  bool blocked = false;  // the socket buffer is full; wait for POLLOUT
  RequestParser parser;
  std::deque<Chunk> out;
  std::size_t queued_bytes = 0;
  std::size_t queued_stream_bytes = 0;

  void enqueue(Chunk chunk) {
    queued_bytes += chunk.data.size();
    if (chunk.stream) queued_stream_bytes += chunk.data.size();
    out.push_back(std::move(chunk));
  }
  void popFront() {
    queued_bytes -= out.front().data.size();
    if (out.front().stream) queued_stream_bytes -= out.front().data.size();
    out.pop_front();
  }
};

TcpDeviceServer::TcpDeviceServer(Firmware& fw, FaultPlan& faults, const ServerOptions& opts)
    : fw_(fw), faults_(faults), host_(opts.host) {
  try {
    std::tie(cmd_listener_, port_) = listenOn(opts.host, opts.port);
    if (opts.data_channel) std::tie(data_listener_, data_port_) = listenOn(opts.host, opts.data_port);
    wake_fd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wake_fd_ < 0) throw ListenError(errno, "cannot create the emulator's wake-up event");
  } catch (...) {
    closeFd(cmd_listener_);
    closeFd(data_listener_);
    throw;
  }
  gate_ = fw_.addModule<StreamFlow>().gate();
  thread_ = std::thread([this] { run(); });
}

TcpDeviceServer::~TcpDeviceServer() { stop(); }

void TcpDeviceServer::stop() {
  std::lock_guard lock(stop_mutex_);
  if (stopped_.load()) return;
  stopping_.store(true);
  wake();
  if (thread_.joinable()) thread_.join();
  closeFd(cmd_listener_);
  closeFd(data_listener_);
  {
    // Other threads wake the loop only under this lock and only before stopped_ is set.
    std::lock_guard cross(cross_mutex_);
    stopped_.store(true);
    closeFd(wake_fd_);
    streams_.clear();
    pending_stream_bytes_ = 0;
  }
  cross_cv_.notify_all();  // release anyone waiting for a drop
  gate_->close();          // and stream producers waiting for room
}

void TcpDeviceServer::wake() {
  const std::uint64_t one = 1;
  [[maybe_unused]] const auto n = ::write(wake_fd_, &one, sizeof one);
}

void TcpDeviceServer::dropConnections() {
  std::unique_lock lock(cross_mutex_);
  if (stopped_.load() || std::this_thread::get_id() == loop_id_.load()) return;
  const std::uint64_t ticket = ++drops_requested_;
  wake();
  cross_cv_.wait(lock, [&] { return drops_done_ >= ticket || stopped_.load(); });
}

void TcpDeviceServer::goOffline(double seconds) {
  std::lock_guard lock(cross_mutex_);
  if (stopped_.load()) return;
  offline_seconds_ = seconds;
  wake();
}

bool TcpDeviceServer::listenAgain() {
  try {
    if (cmd_listener_ < 0) cmd_listener_ = listenOn(host_, port_).first;
    if (data_port_ != 0 && data_listener_ < 0) data_listener_ = listenOn(host_, data_port_).first;
  } catch (const ListenError&) {
    return false;
  }
  return true;
}

void TcpDeviceServer::sendStream(Reply packet) {
  const std::size_t bytes = packet.payload.size();
  {
    std::lock_guard lock(cross_mutex_);
    if (stopped_.load()) return;
    pending_stream_bytes_ += bytes;
    streams_.push_back(std::move(packet));
    wake();
  }
  gate_->addBacklog(bytes);  // counted at once, so a producer cannot outrun the next publishBacklog()
}

void TcpDeviceServer::sendUnsolicited(Reply packet) {
  std::lock_guard lock(cross_mutex_);
  if (stopped_.load()) return;
  unsolicited_.push_back(std::move(packet));
  wake();
}

void TcpDeviceServer::serviceCrossThreadWork() {
  std::uint64_t drops;
  std::optional<double> offline;
  {
    std::lock_guard lock(cross_mutex_);
    drops = drops_requested_;
    offline = std::exchange(offline_seconds_, std::nullopt);
  }
  if (offline) {
    // The listeners first: a client that sees its connection end finds the device not listening.
    closeFd(cmd_listener_);
    closeFd(data_listener_);
    for (auto& c : conns_) closeConnection(*c);
    listen_again_at_ = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(*offline));
  }
  if (listen_again_at_ && Clock::now() >= *listen_again_at_) {
    if (listenAgain())
      listen_again_at_.reset();
    else
      listen_again_at_ = Clock::now() + kListenRetry;
  }
  if (drops != drops_done_) {
    for (auto& c : conns_) closeConnection(*c);
    {
      std::lock_guard lock(cross_mutex_);
      drops_done_ = drops;
    }
    cross_cv_.notify_all();
  }
  queueStreams();
}

void TcpDeviceServer::queueStreams() {
  std::vector<Reply> streams, unsolicited;
  {
    std::lock_guard lock(cross_mutex_);
    streams.swap(streams_);
    unsolicited.swap(unsolicited_);
    pending_stream_bytes_ = 0;
  }
  queueUnasked(streams, data_port_ != 0);
  queueUnasked(unsolicited, false);
}

void TcpDeviceServer::queueUnasked(const std::vector<Reply>& packets, bool to_data) {
  for (const auto& packet : packets) {
    const auto wire = wireBytes(packet);
    if (!wire) continue;  // a packet that cannot be framed is not sent
    const Bytes& frame = *wire;
    for (auto& c : conns_) {
      if (c->fd < 0 || c->data_channel != to_data) continue;
      if (c->queued_stream_bytes + frame.size() > StreamGate::kDropBeyondBytes) continue;
      const auto due = c->out.empty() ? Clock::now() : std::max(Clock::now(), c->out.back().due);
      c->enqueue(Chunk{due, frame, 0, true});
    }
  }
}

// What the stream producers wait on: the largest backlog of a receiving connection plus the
// packets not yet handed to the connections.
void TcpDeviceServer::publishBacklog() {
  const bool to_data = data_port_ != 0;
  std::size_t backlog = 0;
  std::size_t receivers = 0;
  for (const auto& c : conns_) {
    if (c->fd < 0 || c->data_channel != to_data) continue;
    ++receivers;
    backlog = std::max(backlog, c->queued_bytes);
  }
  {
    std::lock_guard lock(cross_mutex_);
    backlog += pending_stream_bytes_;
  }
  gate_->publish(backlog, receivers);
}

void TcpDeviceServer::acceptFrom(int listener, bool data_channel) {
  for (;;) {
    const int fd = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;  // EAGAIN once the backlog is empty; other errors: try on the next wake-up
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    auto c = std::make_unique<Connection>();
    c->fd = fd;
    c->data_channel = data_channel;
    conns_.push_back(std::move(c));
    ++connections_;
  }
}

void TcpDeviceServer::closeConnection(Connection& c) {
  if (c.fd < 0) return;
  ::close(c.fd);
  c.fd = -1;
  c.out.clear();
  c.queued_bytes = c.queued_stream_bytes = 0;
  --connections_;
}

void TcpDeviceServer::readFrom(Connection& c) {
  Byte buf[kReadSize];
  const ssize_t n = ::recv(c.fd, buf, sizeof buf, MSG_DONTWAIT);
  if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
    closeConnection(c);
    return;
  }
  if (n < 0 || c.data_channel) return;  // nothing is listened for on the data channel
  c.parser.feed(ByteView(buf, static_cast<std::size_t>(n)));
  while (c.fd >= 0) {
    auto req = c.parser.next();
    if (!req) break;
    answer(c, *req);
  }
}

void TcpDeviceServer::answer(Connection& c, const Request& req) {
  if (!faults_.admit(req.code)) return;
  const ReplyShaping shaping = faults_.shaping();
  Replies replies = fw_.handle(req);
  faults_.applyEdits(req, replies);
  // Stream packets emitted before the handler returned precede its replies: after the reply that
  // stops a stream, no packet of that stream follows.
  queueStreams();
  for (const auto& r : replies)
    if (auto frame = wireBytes(r, shaping.garbage)) schedule(c, std::move(*frame), shaping);
}

void TcpDeviceServer::schedule(Connection& c, Bytes frame, const ReplyShaping& shaping) {
  auto due = Clock::now() + shaping.delay;
  if (!c.out.empty()) due = std::max(due, c.out.back().due);  // replies leave in request order
  for (auto& piece : cutIntoPieces(std::move(frame), due, shaping.pieces)) c.enqueue(Chunk{piece.due, std::move(piece.data)});
}

void TcpDeviceServer::flush(Connection& c) {
  const auto now = Clock::now();
  while (c.fd >= 0 && !c.blocked && !c.out.empty() && c.out.front().due <= now) {
    Chunk& chunk = c.out.front();
    const ssize_t n = ::send(c.fd, chunk.data.data() + chunk.sent, chunk.data.size() - chunk.sent,
                             MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK)
        c.blocked = true;
      else
        closeConnection(c);
      return;
    }
    chunk.sent += static_cast<std::size_t>(n);
    if (chunk.sent < chunk.data.size()) {
      c.blocked = true;
      return;
    }
    c.popFront();
    ++writes_;
    // The next piece of a split reply goes out in a write of its own, a moment later.
  }
}

int TcpDeviceServer::pollTimeoutMs() const {
  std::optional<Clock::time_point> next = listen_again_at_;
  for (const auto& c : conns_)
    if (c->fd >= 0 && !c->blocked && !c->out.empty()) next = next ? std::min(*next, c->out.front().due) : c->out.front().due;
  if (!next) return -1;
  const auto wait = *next - Clock::now();
  if (wait <= Clock::duration::zero()) return 0;
  return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(wait).count());
}

void TcpDeviceServer::run() {
  loop_id_.store(std::this_thread::get_id());
  std::vector<pollfd> fds;
  while (!stopping_.load()) {
    fds.clear();
    fds.push_back({wake_fd_, POLLIN, 0});
    fds.push_back({cmd_listener_, POLLIN, 0});
    fds.push_back({data_listener_, POLLIN, 0});  // a negative fd is skipped by poll()
    for (const auto& c : conns_) {
      const bool take_more = c->queued_bytes < kMaxQueuedBytes;  // back-pressure on a client that does not read
      fds.push_back({c->fd, short((take_more ? POLLIN : 0) | (c->blocked ? POLLOUT : 0)), 0});
    }
    const int ready = ::poll(fds.data(), fds.size(), pollTimeoutMs());
    if (ready < 0 && errno != EINTR) break;
    if (stopping_.load()) break;
    if (ready > 0) {
      if (fds[0].revents & POLLIN) {
        std::uint64_t count;
        [[maybe_unused]] const auto n = ::read(wake_fd_, &count, sizeof count);
      }
      // Connections in the poll set come first: those accepted below were not polled yet.
      const std::size_t polled = conns_.size();
      for (std::size_t i = 0; i < polled; ++i) {
        Connection& c = *conns_[i];
        const short ev = fds[3 + i].revents;
        if (ev & POLLOUT) c.blocked = false;
        if (c.fd >= 0 && (ev & (POLLIN | POLLHUP | POLLERR))) readFrom(c);
      }
      if (fds[1].revents & POLLIN) acceptFrom(cmd_listener_, false);
      if (fds[2].revents & POLLIN) acceptFrom(data_listener_, true);
    }
    serviceCrossThreadWork();
    for (auto& c : conns_) flush(*c);
    std::erase_if(conns_, [](const auto& c) { return c->fd < 0; });
    publishBacklog();
  }
  for (auto& c : conns_) closeConnection(*c);
  conns_.clear();
}

}  // namespace zelvo::sim
