#include "zelvo/sim/dio_firmware.hpp"

#include <optional>
#include <stdexcept>
#include <string>

namespace zelvo::sim {
namespace {

// Statuses of the DIO commands besides kOk and kParser.
constexpr Byte kPinIndexStatus = 11;  // no such port, or the mask names pins the port lacks
constexpr Byte kDioStatus = 50;       // pins busy with another function, or a direction they cannot take

constexpr std::uint16_t kWholePort = 0xFFFF;
constexpr int kPortBits = 16;

std::uint16_t bitsOf(const std::vector<int>& pins) {
  std::uint16_t bits = 0;
  for (int pin : pins)
    if (pin >= 0 && pin < kPortBits) bits = static_cast<std::uint16_t>(bits | (1U << pin));
  return bits;
}

// `base` with the bits of `sel` taken from `value`.
std::uint16_t merge(std::uint16_t base, std::uint16_t value, std::uint16_t sel) {
  return static_cast<std::uint16_t>((base & ~sel) | (value & sel));
}

// The pins a request's mask addresses: the whole port for 0xFFFF, else exactly the mask, which
// must name pins of the port only.
std::optional<std::uint16_t> select(std::uint16_t pins, std::uint16_t mask) {
  if (mask == kWholePort) return pins;
  if ((mask & ~pins) != 0) return std::nullopt;
  return mask;
}

}  // namespace

void DioFirmware::install(Firmware& fw) {
  fw_ = &fw;
  const DIOData& dio = *fw.product().dio;
  for (const auto& [number, pins] : dio.di_dict) ports_[number].can_input = bitsOf(pins);
  for (const auto& [number, pins] : dio.do_dict) ports_[number].can_output = bitsOf(pins);
  for (auto& [number, p] : ports_) {
    p.pins = static_cast<std::uint16_t>(p.can_input | p.can_output);
    if (dio.fixed_direction) p.now = DioWords{p.pins, static_cast<std::uint16_t>(p.can_output & ~p.can_input), 0};
    p.boot = p.now;
  }

  using namespace diocmd;
  using W = const Words&;
  using U = std::uint16_t;
  auto words = [](std::initializer_list<U> w) { return Outcome{std::vector<U>(w)}; };
  constexpr auto kMasked = Addressing::Mask;
  constexpr auto kPort = Addressing::Port;

  route(SET_DIO_CURRENT, 4, kMasked,
        [this](int n, Port& p, U, W w) -> Outcome { return configure(n, p, w[0], {w[1], w[2], w[3]}); });
  route(TOGGLE_DIO_DIR, 2, kMasked, [this](int n, Port& p, U sel, W w) -> Outcome {
    return configure(n, p, w[0], {p.now.enabled, static_cast<U>(p.now.direction ^ sel), w[1]});
  });
  route(SET_SLOT_DI, 0, kPort,
        [this](int n, Port& p, U, W) -> Outcome { return configure(n, p, kWholePort, {kWholePort, 0, 0}); });
  route(SET_SLOT_DO, 0, kPort,
        [this](int n, Port& p, U, W) -> Outcome { return configure(n, p, kWholePort, {kWholePort, kWholePort, 0}); });
  route(SET_SLOT_IDLE, 0, kPort, [this](int n, Port& p, U, W) -> Outcome { return configure(n, p, kWholePort, {0, 0, 0}); });
  route(GET_DIO_CURRENT, 1, kMasked, [words](int, Port& p, U sel, W) {
    return words({static_cast<U>(p.now.enabled & sel), static_cast<U>(p.now.direction & sel), static_cast<U>(p.now.state & sel)});
  });
  route(LOAD_DIO_STARTUP, 0, kPort, [words](int, Port& p, U, W) { return words({p.boot.enabled, p.boot.direction, p.boot.state}); });
  route(SAVE_DIO_STARTUP, 3, kPort, [](int, Port& p, U sel, W w) -> Outcome {
    const DioWords stored{static_cast<U>(w[0] & sel), static_cast<U>(w[1] & sel), static_cast<U>(w[2] & sel)};
    if (!directionsFit(p, stored.enabled, stored.direction)) return kDioStatus;
    p.boot = stored;
    return status::kOk;
  });
  route(GET_DIO_STATE, 1, kMasked, [words](int, Port& p, U sel, W) { return words({static_cast<U>(p.now.state & sel)}); });
  route(SET_DIO_STATE, 2, kMasked, [](int, Port& p, U sel, W w) -> Outcome {
    p.now.state = merge(p.now.state, w[1], sel);
    return status::kOk;
  });
  route(READ_DI, 0, kPort, [](int, Port& p, U sel, W) -> Outcome {
    sample(p, sel);
    return status::kOk;
  });
  route(WRITE_DO, 0, kPort, [](int, Port& p, U sel, W) -> Outcome {
    write(p, sel);
    return status::kOk;
  });
  route(READ_AND_GET_DI, 1, kMasked, [words](int, Port& p, U sel, W) {
    sample(p, sel);
    return words({static_cast<U>(p.now.state & sel)});
  });
  route(SET_AND_WRITE_DO, 2, kMasked, [words](int, Port& p, U sel, W w) {
    p.now.state = merge(p.now.state, w[1], sel);
    write(p, sel);
    return words({p.driven()});
  });
  route(TOGGLE_AND_WRITE_DO, 1, kMasked, [words](int, Port& p, U sel, W) {
    const auto outputs = static_cast<U>(sel & p.now.enabled & p.now.direction);
    p.now.state ^= outputs;
    write(p, outputs);
    return words({p.driven()});
  });
}

void DioFirmware::route(int code, std::size_t words, Addressing addressing, Body body) {
  // Ports this firmware lacks may belong to another peripheral that answers the same command (the
  // board signals of the Wi-Fi products): their requests go on to it.
  Handler others = fw_->handlerFor(code);
  fw_->registerHandler(code, [this, words, addressing, body = std::move(body), others](const Request& r) {
    const Byte number = r.payload.empty() ? Byte{0} : r.payload[0];
    if (others && !r.payload.empty() && !find(number)) return others(r);
    if (r.payload.size() < 1 + 2 * words) return answer(r, {number, status::kParser});
    Port* p = find(number);
    if (!p) return answer(r, {number, kPinIndexStatus});
    Words w{};
    for (std::size_t i = 0; i < words; ++i) w[i] = readBE<std::uint16_t>(ByteView(r.payload).subspan(1 + 2 * i));
    const auto sel = addressing == Addressing::Mask ? select(p->pins, w[0]) : p->pins;
    if (!sel) return answer(r, {number, kPinIndexStatus});
    const std::uint16_t driven = p->driven();
    const Outcome out = body(number, *p, *sel, w);
    if (p->driven() != driven)
      for (const OutputWatcher& watch : output_watchers_) watch(number, driven, p->driven());
    if (const Byte* s = std::get_if<Byte>(&out)) return answer(r, {number, *s});
    Bytes reply{number};
    for (std::uint16_t word : std::get<std::vector<std::uint16_t>>(out)) appendBE(reply, word);
    return answer(r, std::move(reply));
  });
}

bool DioFirmware::directionsFit(const Port& p, std::uint16_t enabled, std::uint16_t direction) {
  return (enabled & direction & ~p.can_output) == 0 && (enabled & ~direction & ~p.can_input) == 0;
}

Byte DioFirmware::configure(int number, Port& p, std::uint16_t mask, const DioWords& w) {
  std::uint16_t sel = 0;
  if (mask == kWholePort) {
    sel = static_cast<std::uint16_t>(p.pins & ~busyPins(number, p.pins));  // busy pins are not the port's to give
  } else {
    const auto named = select(p.pins, mask);
    if (!named) return kPinIndexStatus;
    if (busyPins(number, *named) != 0) return kDioStatus;
    sel = *named;
  }
  if (!directionsFit(p, static_cast<std::uint16_t>(w.enabled & sel), w.direction)) return kDioStatus;
  p.now = DioWords{merge(p.now.enabled, w.enabled, sel), merge(p.now.direction, w.direction, sel),
                   merge(p.now.state, w.state, sel)};
  write(p, sel);  // configured outputs take their level at once
  for (int pin = 0; pin < kPortBits; ++pin) {
    const std::uint16_t bit = static_cast<std::uint16_t>(1U << pin);
    if ((sel & bit) == 0) continue;
    const PinMode mode = (p.now.enabled & bit) == 0 ? PinMode::Idle : (p.now.direction & bit) ? PinMode::DO : PinMode::DI;
    fw_->setPinMode(number, pin, mode);
  }
  return status::kOk;
}

std::uint16_t DioFirmware::busyPins(int number, std::uint16_t sel) const {
  const std::vector<PinMode> modes = fw_->pinModes(number);
  std::uint16_t busy = 0;
  for (int pin = 0; pin < kPortBits; ++pin) {
    const std::uint16_t bit = static_cast<std::uint16_t>(1U << pin);
    if ((sel & bit) == 0) continue;
    const auto at = static_cast<std::size_t>(pin);
    const bool free = at < modes.size() &&
                      (modes[at] == PinMode::Idle || modes[at] == PinMode::DI || modes[at] == PinMode::DO);
    if (!free) busy = static_cast<std::uint16_t>(busy | bit);
  }
  return busy;
}

void DioFirmware::sample(Port& p, std::uint16_t sel) {
  p.now.state = merge(p.now.state, p.levels, static_cast<std::uint16_t>(sel & p.now.enabled & ~p.now.direction));
}

void DioFirmware::write(Port& p, std::uint16_t sel) {
  p.latch = merge(p.latch, p.now.state, static_cast<std::uint16_t>(sel & p.now.enabled & p.now.direction));
}

DioFirmware::Port* DioFirmware::find(int number) {
  const auto it = ports_.find(number);
  return it == ports_.end() ? nullptr : &it->second;
}

// --- controls ------------------------------------------------------------------------------------

const DioFirmware::Port& DioFirmware::known(int number) const {
  const auto it = ports_.find(number);
  if (it == ports_.end()) throw std::invalid_argument("the device has no DIO port " + std::to_string(number));
  return it->second;
}

std::vector<int> DioFirmware::ports() const {
  std::lock_guard lock(fw_->mutex());
  std::vector<int> out;
  for (const auto& entry : ports_) out.push_back(entry.first);
  return out;
}

void DioFirmware::setInput(int port, int pin, bool level) {
  std::lock_guard lock(fw_->mutex());
  const Port& p = known(port);
  if (pin < 0 || pin >= kPortBits || (p.pins & (1U << pin)) == 0)
    throw std::invalid_argument("DIO port " + std::to_string(port) + " has no pin " + std::to_string(pin));
  const auto bit = static_cast<std::uint16_t>(1U << pin);
  ports_[port].levels = merge(p.levels, level ? bit : std::uint16_t{0}, bit);
}

void DioFirmware::setInputs(int port, std::uint16_t levels) {
  std::lock_guard lock(fw_->mutex());
  const Port& p = known(port);
  if ((levels & ~p.pins) != 0)
    throw std::invalid_argument("the levels name pins DIO port " + std::to_string(port) + " does not have");
  ports_[port].levels = levels;
}

std::uint16_t DioFirmware::inputs(int port) const {
  std::lock_guard lock(fw_->mutex());
  return known(port).levels;
}

std::uint16_t DioFirmware::outputs(int port) const {
  std::lock_guard lock(fw_->mutex());
  return known(port).driven();
}

DioWords DioFirmware::words(int port) const {
  std::lock_guard lock(fw_->mutex());
  return known(port).now;
}

void DioFirmware::watchOutputs(OutputWatcher w) {
  std::lock_guard lock(fw_->mutex());
  output_watchers_.push_back(std::move(w));
}

DioWords DioFirmware::startup(int port) const {
  std::lock_guard lock(fw_->mutex());
  return known(port).boot;
}

}  // namespace zelvo::sim
