#include "zelvo/sim/usb_server.hpp"

#include <algorithm>
#include <optional>
#include <stdexcept>

#include "zelvo/sim/shaped_reply.hpp"

namespace zelvo::sim {
namespace {

using Clock = std::chrono::steady_clock;

// While producers wait for the host to catch up, the backlog is looked at this often (the shim
// does not say when the host reads).
constexpr auto kBacklogPoll = std::chrono::milliseconds(1);

}  // namespace

UsbDeviceServer::UsbDeviceServer(Firmware& fw, FaultPlan& faults) : fw_(fw), faults_(faults) {
  gate_ = fw_.addModule<StreamFlow>().gate();
  plug();
  thread_ = std::thread([this] { run(); });
}

UsbDeviceServer::~UsbDeviceServer() { stop(); }

void UsbDeviceServer::stop() {
  std::lock_guard lock(stop_m_);
  if (stopped_.load()) return;
  gate_->close();  // stream producers waiting for room stop
  unplug();
  {
    std::lock_guard state(m_);
    stopping_ = true;
  }
  cv_.notify_all();
  if (thread_.joinable()) thread_.join();
  stopped_.store(true);
}

UsbIdentity UsbDeviceServer::identity() const {
  return UsbIdentity{kUsbVendorId, kUsbProductId, kUsbDeviceRelease, kUsbManufacturer, fw_.product().model,
                     fw_.serialNumber()};
}

void UsbDeviceServer::unplug() {
  std::lock_guard lock(port_m_);
  if (!port_) return;
  port_.reset();  // returns once no OUT transfer is being handed to receive()
  ++generation_;
}

void UsbDeviceServer::plug() {
  std::lock_guard lock(port_m_);
  if (port_) return;
  if (stopped_.load()) throw std::logic_error("the emulated device is stopped");
  ++generation_;
  port_ = std::make_unique<UsbPlug>(identity(), [this](ByteView transfer) { receive(transfer); });
}

bool UsbDeviceServer::plugged() const {
  std::lock_guard lock(port_m_);
  return port_ != nullptr;
}

std::size_t UsbDeviceServer::openHandles() const {
  std::lock_guard lock(port_m_);
  return port_ ? static_cast<std::size_t>(port_->openHandles()) : 0;
}

void UsbDeviceServer::failInTransfers(int n) {
  if (n < 0) throw std::invalid_argument("the number of failing reads must not be negative");
  std::lock_guard lock(port_m_);
  if (!port_) throw std::logic_error("the emulated device is unplugged");
  port_->failIn(n);
}

int UsbDeviceServer::inFailuresLeft() const {
  std::lock_guard lock(port_m_);
  return port_ ? port_->inFailuresLeft() : 0;
}

void UsbDeviceServer::receive(ByteView transfer) {
  {
    std::lock_guard lock(m_);
    inbox_.push_back(Tagged{generation_.load(), Bytes(transfer.begin(), transfer.end())});
    out_log_.emplace_back(transfer.begin(), transfer.end());
    if (out_log_.size() > kOutLogSize) out_log_.pop_front();
  }
  cv_.notify_all();
}

void UsbDeviceServer::sendStream(Reply packet) {
  {
    std::lock_guard lock(m_);
    streams_.push_back(TaggedReply{generation_.load(), std::move(packet)});
  }
  cv_.notify_all();
}

std::vector<Bytes> UsbDeviceServer::outTransfers() const {
  std::lock_guard lock(m_);
  return {out_log_.begin(), out_log_.end()};
}

void UsbDeviceServer::run() {
  std::unique_lock lock(m_);
  for (;;) {
    auto work = [this] { return stopping_ || !inbox_.empty() || !streams_.empty(); };
    if (!scheduled_.empty())
      cv_.wait_until(lock, scheduled_.front().due, work);
    else if (backedUp())
      cv_.wait_for(lock, kBacklogPoll, work);
    else
      cv_.wait(lock, work);
    if (stopping_) return;
    std::deque<Tagged> inbox;
    inbox.swap(inbox_);
    lock.unlock();
    for (const auto& transfer : inbox) serve(transfer);
    scheduleStreams();
    flushDue();
    publishBacklog();
    lock.lock();
  }
}

bool UsbDeviceServer::backedUp() const { return backlog_ >= StreamGate::kRoomBytes; }

void UsbDeviceServer::publishBacklog() {
  std::size_t queued = 0, receivers = 0;
  {
    std::lock_guard lock(port_m_);
    if (port_) {
      queued = port_->inQueued();
      receivers = port_->openHandles() > 0 ? 1 : 0;
    }
  }
  std::size_t scheduled = 0;
  for (const auto& c : scheduled_)
    if (c.stream) scheduled += c.data.size();
  backlog_ = queued + scheduled;
  gate_->publish(backlog_, receivers);
}

void UsbDeviceServer::scheduleStreams() {
  std::vector<TaggedReply> streams;
  {
    std::lock_guard lock(m_);
    streams.swap(streams_);
  }
  for (const auto& s : streams)
    if (auto bytes = wireBytes(s.packet)) {
      gate_->addBacklog(bytes->size());  // counted at once, so a producer cannot outrun the next publish
      schedule(Chunk{Clock::now(), std::move(*bytes), s.generation, true}, {});
    }
}

void UsbDeviceServer::serve(const Tagged& transfer) {
  if (transfer.generation != generation_.load()) return;  // sent to a device since unplugged
  if (transfer.generation != parser_generation_) {
    parser_.clear();
    parser_generation_ = transfer.generation;
  }
  parser_.feed(transfer.data);
  while (auto req = parser_.next()) answer(*req, transfer.generation);
}

void UsbDeviceServer::answer(const Request& req, std::uint64_t generation) {
  if (!faults_.admit(req.code)) return;
  const ReplyShaping shaping = faults_.shaping();
  Replies replies = fw_.handle(req);
  faults_.applyEdits(req, replies);
  // Stream packets the handler emitted go first: after the reply that stops a stream, no packet
  // of that stream follows.
  scheduleStreams();
  for (const auto& r : replies)
    if (auto bytes = wireBytes(r, shaping.garbage))
      schedule(Chunk{Clock::now() + shaping.delay, std::move(*bytes), generation, false}, shaping);
}

// Everything leaves in order: nothing is due before what was scheduled earlier.
void UsbDeviceServer::schedule(Chunk chunk, const ReplyShaping& shaping) {
  if (!scheduled_.empty()) chunk.due = std::max(chunk.due, scheduled_.back().due);
  for (auto& piece : cutIntoPieces(std::move(chunk.data), chunk.due, shaping.pieces))
    scheduled_.push_back(Chunk{piece.due, std::move(piece.data), chunk.generation, chunk.stream});
}

void UsbDeviceServer::flushDue() {
  const auto now = Clock::now();
  std::lock_guard lock(port_m_);
  while (!scheduled_.empty() && scheduled_.front().due <= now) {
    const Chunk c = std::move(scheduled_.front());
    scheduled_.pop_front();
    if (!port_ || c.generation != generation_.load()) continue;  // for a device since unplugged
    if (c.stream && port_->inQueued() + c.data.size() > StreamGate::kDropBeyondBytes) continue;
    port_->sendIn(c.data);
  }
}

}  // namespace zelvo::sim
