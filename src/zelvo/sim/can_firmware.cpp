#include "zelvo/sim/can_firmware.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <utility>

namespace zelvo::sim {
namespace {

constexpr std::size_t kPortOnly = 1;      // [port]
constexpr std::size_t kPortAndByte = 2;   // [port, value]
constexpr std::size_t kPortAndTwo = 3;    // [port, value, value]
constexpr std::size_t kFrameRequest = 2 + kCanRowBytes;  // [port, index or 0, 12-byte row]
constexpr int kOpenCanBase = cancmd::OPEN_CAN << 8;      // OPEN_CAN as it is parsed: 0x3000 | port
constexpr int kPortCodes = 256;
constexpr std::size_t kMaskOfFirstFilters = 2;  // filters 0 and 1 use mask 0, the others mask 1
constexpr int kMaxErrorCount = 255;
constexpr std::size_t kFramesPerPass = 1024;    // frames one wake-up handles at most
// Error counts at which the controller warns, turns error passive, goes bus off.
constexpr int kWarningCount = 96, kPassiveCount = 128, kBusOffCount = 255;
// Interrupt state bits.
constexpr Byte kRxPendingBit = 1u << 0, kTxDoneBit = 1u << 2, kErrorBit = 1u << 5;
// Error state bits.
constexpr Byte kWarningBit = 1u << 0, kRxWarningBit = 1u << 1, kTxWarningBit = 1u << 2, kRxPassiveBit = 1u << 3,
               kTxPassiveBit = 1u << 4, kBusOffBit = 1u << 5, kRxOverflowBit = 1u << 6;

}  // namespace

CANFirmware::~CANFirmware() { pacer_.reset(); }

void CANFirmware::install(Firmware& fw) {
  attach(fw, *fw.product().can_dict);
  port_ = BusFirmware::ports().front();
  pacer_ = std::make_unique<StreamPacer>(fw, "zsim-can", [this](double now, bool unthrottled, Replies& out) {
    return collect(now, unthrottled, out);
  });
  registerSettings();
  registerReads();
}

void CANFirmware::registerSettings() {
  using namespace cancmd;
  using R = const Request&;
  // OPEN_CAN: parsed as code 0x3000 | port, without payload; answered [status] under that code.
  for (int p = 0; p < kPortCodes; ++p)
    fw().registerHandler(kOpenCanBase | p, [this, p](R r) {
      std::lock_guard lock(mutex_);
      ++counters_.spi_transfers;
      if (!hasPort(p)) return answer(r, {status::kCan});
      const Byte s = takePins(p);
      if (s == status::kOk) st_.open = true;
      return answer(r, {s});
    });
  route(CLOSE_CAN, kPortOnly, [this](R, int p) -> Outcome {
    if (st_.open) releasePins(p);
    st_.open = st_.started = false;
    rx_.clear();
    return status::kOk;
  });
  // Its code is a stream code: any reply would be taken for received frames.
  route(
      START_CAN, kPortOnly,
      [this](R, int) -> Outcome {
        if (st_.open) st_.started = true;
        pacer_->poke();
        return Replies{};
      },
      true);
  route(STOP_CAN, kPortOnly, [this](R, int) -> Outcome {
    st_.started = false;
    return status::kOk;
  });
  route(SET_CAN_SPEED, kPortAndByte, [this](R r, int) -> Outcome {
    if (r.payload[1] >= kCanBitRates.size()) return status::kCan;
    st_.speed_mode = r.payload[1];
    return status::kOk;
  });
  route(SET_CAN_ENABLED_ITR, kPortAndByte, [this](R r, int) -> Outcome {
    st_.interrupt_enable = r.payload[1];
    return status::kOk;
  });
  route(SET_CAN_RX_ROLLOVER, kPortAndByte, [this](R r, int) -> Outcome {
    st_.rollover = r.payload[1];
    return status::kOk;
  });
  route(SET_CAN_RX_FILTERING_ON, kPortAndByte, [this](R r, int) -> Outcome {
    st_.filtering = r.payload[1] != 0;
    return status::kOk;
  });
  route(SET_CAN_TX_PRIORITY, kPortAndTwo, [this](R r, int) -> Outcome {
    const Byte buffer = r.payload[1], priority = r.payload[2];
    if (buffer >= st_.tx_priority.size() || priority > 3) return status::kCan;
    st_.tx_priority[buffer] = priority;
    return status::kOk;
  });
  route(SET_CAN_RX_FILTER_OR_MASK, kFrameRequest, [this](R r, int) -> Outcome {
    const std::size_t index = r.payload[1];
    const CanWireFrame f = CanWireFrame::decode(ByteView(r.payload).subspan(2));
    const CanFilterValue v{f.id, f.extended};
    if (index < kCanFilters)
      st_.filters[index] = v;
    else if (index < kCanFilters + kCanMasks)
      st_.masks[index - kCanFilters] = v;
    else
      return status::kCan;
    return status::kOk;
  });
  route(WRITE_CAN, kFrameRequest, [this](R r, int) -> Outcome {
    ++counters_.spi_transfers;
    if (!st_.open) return status::kCan;
    const CanWireFrame f = CanWireFrame::decode(ByteView(r.payload).subspan(2));
    transmitted_.push_back(f);
    if (transmitted_.size() > kCanTransmittedKeep) transmitted_.pop_front();
    putOnBus(f, true);
    return status::kOk;
  });
}

void CANFirmware::registerReads() {
  using namespace cancmd;
  using R = const Request&;
  route(GET_CAN_ERRORS, kPortOnly, [this](R r, int p) -> Outcome {
    return answer(r, {static_cast<Byte>(p), static_cast<Byte>(tec_), static_cast<Byte>(rec_)});
  });
  route(GET_CAN_INTERRUPTS, kPortOnly, [this](R r, int p) -> Outcome {
    const Byte state = interruptState(), errors = errorState();
    return answer(r, {static_cast<Byte>(p), st_.interrupt_enable, state, errors});
  });
  route(GET_CAN_COUNTERS, kPortOnly, [this](R r, int) -> Outcome { return answer(r, counterReply()); });
}

// --- the bus -------------------------------------------------------------------------------------

double CANFirmware::frameTimeLocked(bool extended) const {
  return (extended ? kCanExtendedFrameBits : kCanStandardFrameBits) / kCanBitRates[static_cast<std::size_t>(st_.speed_mode)];
}

void CANFirmware::putOnBus(const CanWireFrame& f, bool own) {
  const double now = fw().time().now();
  double at = now;
  if (!pacer_->unthrottled()) {
    at = std::max(now, bus_free_) + frameTimeLocked(f.extended);
    bus_free_ = at;
  }
  bus_.push_back(OnBus{at, f, own});
  pacer_->poke();
}

bool CANFirmware::accepted(const CanWireFrame& f) const {
  if (!st_.filtering) return true;
  for (std::size_t i = 0; i < kCanFilters; ++i) {
    const CanFilterValue& filter = st_.filters[i];
    const std::uint32_t mask = st_.masks[i < kMaskOfFirstFilters ? 0 : 1].id;
    if (filter.extended == f.extended && ((f.id ^ filter.id) & mask) == 0) return true;
  }
  return false;
}

void CANFirmware::arrive(const CanWireFrame& f, bool own) {
  if (own) {
    ++counters_.frames_sent;
    ++counters_.tx_interrupts;
    tx_done_ = true;
  }
  if (!st_.open || !accepted(f)) return;
  ++counters_.rx_interrupts;
  ++counters_.spi_transfers;  // the frame is read out of the controller
  if (rx_.size() >= kCanRxKeep) {
    ++counters_.overflows;
    rx_overflow_ = true;
    return;
  }
  rx_.push_back(f);
}

std::optional<double> CANFirmware::collect(double now, bool unthrottled, Replies& out) {
  std::lock_guard lock(mutex_);
  std::size_t budget = kFramesPerPass;
  std::optional<double> next;
  while (budget > 0) {
    // The earliest of the next frame on the bus and the next generated one.
    Generator* gen = nullptr;
    for (auto& g : generators_)
      if ((!g.left || *g.left > 0) && (!gen || g.next < gen->next)) gen = &g;
    const bool bus_first = !bus_.empty() && (!gen || bus_.front().at <= gen->next);
    if (!bus_first && !gen) break;
    const double at = bus_first ? bus_.front().at : gen->next;
    if (!unthrottled && at > now) {
      next = at;
      break;
    }
    if (bus_first) {
      arrive(bus_.front().frame, bus_.front().own);
      bus_.pop_front();
    } else {
      CanWireFrame f = gen->frame;
      if (gen->counter)
        for (int i = 0; i < 4; ++i) f.data[static_cast<std::size_t>(i)] = static_cast<Byte>(gen->sequence >> (24 - 8 * i));
      ++gen->sequence;
      gen->next += gen->period;
      if (gen->left) --*gen->left;
      arrive(f, false);
    }
    --budget;
  }
  if (budget == 0) next = now;  // more is due: go on once the transport has room
  if (st_.started) {
    while (!rx_.empty()) {
      Bytes packet{static_cast<Byte>(port_), status::kOk};
      for (std::size_t n = 0; n < kCanRowsPerPacket && !rx_.empty(); ++n) {
        rx_.front().appendTo(packet);
        rx_.pop_front();
      }
      out.push_back(Reply{cancmd::START_CAN, std::move(packet)});
    }
  }
  st_.rx_pending = rx_.size();
  return next;
}

// --- registers -----------------------------------------------------------------------------------

Byte CANFirmware::interruptState() {
  Byte s = 0;
  if (!rx_.empty()) s |= kRxPendingBit;
  if (std::exchange(tx_done_, false)) s |= kTxDoneBit;
  if (tec_ >= kWarningCount || rec_ >= kWarningCount) s |= kErrorBit;
  return s;
}

Byte CANFirmware::errorState() {
  Byte s = 0;
  if (tec_ >= kWarningCount || rec_ >= kWarningCount) s |= kWarningBit;
  if (rec_ >= kWarningCount) s |= kRxWarningBit;
  if (tec_ >= kWarningCount) s |= kTxWarningBit;
  if (rec_ >= kPassiveCount) s |= kRxPassiveBit;
  if (tec_ >= kPassiveCount) s |= kTxPassiveBit;
  if (tec_ >= kBusOffCount) s |= kBusOffBit;
  if (std::exchange(rx_overflow_, false)) s |= kRxOverflowBit;
  return s;
}

Bytes CANFirmware::counterReply() const {
  Bytes out{static_cast<Byte>(port_)};
  for (std::uint32_t v : {counters_.tx_interrupts, counters_.rx_interrupts, counters_.spi_transfers, counters_.frames_sent,
                          counters_.bus_errors, counters_.overflows})
    appendBE(out, v);
  return out;
}

// --- controls ------------------------------------------------------------------------------------

CanPortState CANFirmware::state() const {
  std::lock_guard lock(mutex_);
  CanPortState s = st_;
  s.rx_pending = rx_.size();
  return s;
}

CanCounters CANFirmware::counters() const {
  std::lock_guard lock(mutex_);
  return counters_;
}

void CANFirmware::inject(const CanWireFrame& f) {
  std::lock_guard lock(mutex_);
  putOnBus(f, false);
}

int CANFirmware::addGenerator(const CanWireFrame& f, double period, std::optional<std::uint64_t> count, bool counter) {
  if (!(period > 0) || !std::isfinite(period)) throw std::invalid_argument("a generator's period is positive and finite");
  std::lock_guard lock(mutex_);
  Generator g;
  g.handle = next_handle_++;
  g.frame = f;
  g.period = period;
  g.next = fw().time().now() + period;
  g.left = count;
  g.counter = counter;
  generators_.push_back(g);
  pacer_->poke();
  return g.handle;
}

void CANFirmware::removeGenerator(int handle) {
  std::lock_guard lock(mutex_);
  std::erase_if(generators_, [handle](const Generator& g) { return g.handle == handle; });
}

std::vector<int> CANFirmware::generators() const {
  std::lock_guard lock(mutex_);
  std::vector<int> out;
  for (const auto& g : generators_) out.push_back(g.handle);
  return out;
}

std::vector<CanWireFrame> CANFirmware::transmitted() const {
  std::lock_guard lock(mutex_);
  return {transmitted_.begin(), transmitted_.end()};
}

void CANFirmware::setErrorCounts(int transmit, int receive) {
  if (transmit < 0 || transmit > kMaxErrorCount || receive < 0 || receive > kMaxErrorCount)
    throw std::invalid_argument("error counts are 0..255");
  std::lock_guard lock(mutex_);
  if (transmit > tec_ || receive > rec_) ++counters_.bus_errors;
  tec_ = transmit;
  rec_ = receive;
}

double CANFirmware::frameTime(bool extended) const {
  std::lock_guard lock(mutex_);
  return frameTimeLocked(extended);
}

void CANFirmware::setUnthrottled(bool on) { pacer_->setUnthrottled(on); }
bool CANFirmware::unthrottled() const { return pacer_->unthrottled(); }

}  // namespace zelvo::sim
