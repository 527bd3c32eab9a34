#include "zelvo/sim/ai_streamer.hpp"

#include <algorithm>

#include "zelvo/sim/ai_stream.hpp"
#include "zelvo/sim/stream_gate.hpp"

namespace zelvo::sim {

// One packet per chip select of one port, all holding samples from..from+count-1.
struct AiStreamer::Batch {
  int port = 0;
  int code = 0;
  std::uint64_t generation = 0;
  std::uint64_t from = 0;
  std::uint64_t count = 0;
  bool unthrottled = false;
  double rate = 0;
  double origin = 0;
  int channels = 0;
  std::vector<int> chip_selects;
  std::array<ChannelWaves, kAiChipSelects> waves;  // copied, so that packets are built unlocked
  std::vector<Reply> packets;
};

AiStreamer::AiStreamer(Firmware& fw, std::mutex& mutex, std::map<int, AiPort>& ports, SampleFormat fmt)
    : fw_(fw), mutex_(mutex), ports_(ports), fmt_(fmt) {}

AiStreamer::~AiStreamer() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
    poke();
  }
  if (thread_.joinable()) thread_.join();
}

void AiStreamer::poke() {
  ++seq_;
  cv_.notify_all();
  if (gate_) gate_->wakeWaiters();
  if (!thread_.joinable() && !quit_) thread_ = std::thread([this] { run(); });
}

void AiStreamer::setUnthrottled(bool on) {
  if (on == unthrottled_) return;
  unthrottled_ = on;
  if (!on) {
    // Re-anchor each stream so that its next sample is due now: it neither bursts to "catch up"
    // with the real-time schedule nor waits for that schedule to catch up with it.
    const auto now = AiClock::now();
    for (auto& [number, port] : ports_) {
      AiStreamRun& run = port.stream;
      run.start = now - std::chrono::duration_cast<AiClock::duration>(
                            std::chrono::duration<double>(static_cast<double>(run.sent) / run.rate));
    }
  }
  poke();
}

void AiStreamer::run() {
  std::shared_ptr<StreamGate> gate;
  if (const auto* flow = fw_.findModule<StreamFlow>()) gate = flow->gate();
  std::unique_lock lock(mutex_);
  gate_ = gate;
  while (!quit_) {
    Batch batch;
    std::optional<AiClock::time_point> wake;
    if (!plan(AiClock::now(), batch, wake)) {
      if (wake)
        cv_.wait_until(lock, *wake);
      else
        cv_.wait(lock);
      continue;
    }
    const std::uint64_t seq = seq_.load();
    lock.unlock();
    for (int cs : batch.chip_selects)
      batch.packets.push_back(Reply{batch.code, streamPayload(batch.port, cs, batch.waves[static_cast<std::size_t>(cs)],
                                                              batch.channels, batch.rate, batch.origin, batch.from,
                                                              batch.count, fmt_)});
    const auto room = gate ? gate->waitForRoom(batch.unthrottled, [&] { return seq_.load() != seq; })
                           : StreamGate::Room::Now;
    if (room == StreamGate::Room::Now || room == StreamGate::Room::AfterWait)
      send(batch, room == StreamGate::Room::AfterWait);
    lock.lock();
    if (room == StreamGate::Room::Closed) stopAll();  // nobody can take streams any more
  }
}

bool AiStreamer::plan(AiClock::time_point now, Batch& batch, std::optional<AiClock::time_point>& wake) {
  // Ports take turns, starting after the one served last.
  auto it = ports_.upper_bound(last_port_);
  for (std::size_t i = 0; i < ports_.size(); ++i, ++it) {
    if (it == ports_.end()) it = ports_.begin();
    const auto& [number, port] = *it;
    const AiStreamRun& run = port.stream;
    if (!run.active) continue;
    const NextPacket next = nextPacket(run);
    if (next.count == 0) continue;
    if (!unthrottled_ && next.ready > now) {
      wake = wake ? std::min(*wake, next.ready) : next.ready;
      continue;
    }
    batch.port = number;
    batch.code = run.code;
    batch.generation = run.generation;
    batch.from = run.sent;
    batch.count = next.count;
    batch.unthrottled = unthrottled_;
    batch.rate = run.rate;
    batch.origin = run.origin;
    batch.channels = run.channels;
    batch.chip_selects = run.chip_selects;
    batch.waves = port.waves;
    last_port_ = number;
    return true;
  }
  return false;
}

void AiStreamer::send(Batch& batch, bool stalled) {
  // Under the firmware's lock, so that a handler that stops this stream runs wholly before or
  // wholly after: before, the packets are discarded here; after, they left before its reply.
  std::lock_guard fw_lock(fw_.mutex());
  {
    std::lock_guard lock(mutex_);
    if (gate_ && gate_->closed()) return;  // the transport is gone, and with it the stream output
    const auto it = ports_.find(batch.port);
    if (it == ports_.end()) return;
    AiPort& port = it->second;
    AiStreamRun& run = port.stream;
    if (!run.active || run.generation != batch.generation || run.sent != batch.from) return;
    run.sent += batch.count;
    run.packets += batch.packets.size();
    for (int cs : batch.chip_selects) {
      port.counters.samples[static_cast<std::size_t>(cs)] += batch.count;
      ++port.counters.packets[static_cast<std::size_t>(cs)];
    }
    if (stalled) ++port.counters.stalls;
    if (run.total && run.sent >= *run.total) run.active = false;
  }
  for (auto& packet : batch.packets) fw_.emitStream(std::move(packet));
}

void AiStreamer::stopAll() {
  for (auto& [number, port] : ports_) port.stream.active = false;
}

}  // namespace zelvo::sim
