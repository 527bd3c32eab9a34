#include "zelvo/sim/uart_firmware.hpp"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <string>

namespace zelvo::sim {
namespace {

constexpr std::size_t kPortOnly = 1;     // [port]
constexpr std::size_t kPortAndByte = 2;  // [port, value]
constexpr std::size_t kPortAndWord = 5;  // [port, 4-byte value]
constexpr std::size_t kWriteHeader = 2;  // [port, count]
constexpr int kModes = 4;                // parity and stop-bit modes 0..3
constexpr double kStartBits = 1;
constexpr std::array<double, 2> kDataBits = {8, 9};
constexpr std::array<double, 4> kStopBits = {1, 0.5, 2, 1.5};
constexpr int kEvenParity = 2;           // modes 2 and 3 add a parity bit

}  // namespace

UARTFirmware::~UARTFirmware() { pacer_.reset(); }

double UARTFirmware::frameTime(const UartPortState& s) {
  const double bits = kStartBits + kDataBits[static_cast<std::size_t>(s.data_size)] + (s.parity >= kEvenParity ? 1 : 0) +
                      kStopBits[static_cast<std::size_t>(s.stop_bits)];
  return bits / s.baud;
}

void UARTFirmware::install(Firmware& fw) {
  attach(fw, *fw.product().uart_dict);
  for (int port : BusFirmware::ports()) ports_[port];
  pacer_ = std::make_unique<StreamPacer>(fw, "zsim-uart", [this](double now, bool unthrottled, Replies& out) {
    return collect(now, unthrottled, out);
  });

  using namespace uartcmd;
  using R = const Request&;
  route(OPEN_UART, kPortOnly, [this](R, int port) -> Outcome {
    const Byte s = takePins(port);
    if (s == status::kOk) ports_[port].st.open = true;
    return s;
  });
  route(CLOSE_UART, kPortOnly, [this](R, int port) -> Outcome {
    Port& p = ports_[port];
    if (p.st.open) releasePins(port);
    p.st.open = p.st.reading = false;
    p.rx.clear();
    p.st.pending = 0;
    return status::kOk;
  });
  route(RESET_UART, kPortOnly, [this](R, int port) -> Outcome {
    Port& p = ports_[port];
    p.st = UartPortState{.open = p.st.open, .reading = p.st.reading, .loopback = p.st.loopback,
                         .streamed = p.st.streamed, .transmitted = p.st.transmitted};
    p.rx.clear();
    return status::kOk;
  });
  // Its code is a stream code: any reply would be taken for received data.
  route(
      START_UART_READING, kPortOnly,
      [this](R, int port) -> Outcome {
        if (ports_[port].st.open) ports_[port].st.reading = true;
        pacer_->poke();
        return Replies{};
      },
      true);
  route(STOP_UART_READING, kPortOnly, [this](R, int port) -> Outcome {
    ports_[port].st.reading = false;
    return status::kOk;
  });
  route(SET_UART_BAUD_RATE, kPortAndWord, [this](R r, int port) -> Outcome {
    const auto baud = readBE<std::uint32_t>(ByteView(r.payload).subspan(1));
    if (baud == 0 || baud > kUartMaxBaud) return status::kUart;
    ports_[port].st.baud = baud;
    return status::kOk;
  });
  auto mode = [this](int UartPortState::*field, int count) {
    return [this, field, count](R r, int port) -> Outcome {
      if (r.payload[1] >= count) return status::kUart;
      ports_[port].st.*field = r.payload[1];
      return status::kOk;
    };
  };
  route(SET_UART_DATA_SIZE, kPortAndByte, mode(&UartPortState::data_size, static_cast<int>(kDataBits.size())));
  route(SET_UART_PARITY, kPortAndByte, mode(&UartPortState::parity, kModes));
  route(SET_UART_NUM_STOP_BITS, kPortAndByte, mode(&UartPortState::stop_bits, kModes));
  route(WRITE_UART, kWriteHeader, [this](R r, int port) -> Outcome {
    const std::size_t count = r.payload[1];
    if (r.payload.size() < kWriteHeader + count) return status::kParser;
    Port& p = ports_[port];
    if (!p.st.open) return status::kUart;
    const ByteView data = ByteView(r.payload).subspan(kWriteHeader, count);
    if (p.st.loopback && !receive(p, data)) return status::kUart;
    p.transmitted.insert(p.transmitted.end(), data.begin(), data.end());
    if (p.transmitted.size() > kUartTransmittedKeep)
      p.transmitted.erase(p.transmitted.begin(), p.transmitted.end() - static_cast<std::ptrdiff_t>(kUartTransmittedKeep));
    p.st.transmitted += count;
    return status::kOk;
  });
}

bool UARTFirmware::receive(Port& p, ByteView bytes) {
  if (bytes.empty()) return true;
  if (p.st.pending + bytes.size() > kUartPendingMax) return false;
  const double now = fw().time().now();
  Run run;
  run.data.assign(bytes.begin(), bytes.end());
  if (pacer_->unthrottled()) {
    run.start = now;  // due at once; the line's schedule is left as it was
  } else {
    run.per_byte = frameTime(p.st);
    run.start = std::max(now, p.line_free);
    p.line_free = run.start + run.per_byte * static_cast<double>(bytes.size());
  }
  p.st.pending += bytes.size();
  p.rx.push_back(std::move(run));
  pacer_->poke();
  return true;
}

namespace {

// Bytes of a run received by `now` and not sent yet (all of them unthrottled).
template <class Run>
std::size_t dueIn(const Run& run, double now, bool unthrottled) {
  const std::size_t left = run.data.size() - run.sent;
  if (unthrottled || run.per_byte <= 0) return left;
  if (now < run.start) return 0;
  const double arrived = std::min((now - run.start) / run.per_byte, static_cast<double>(run.data.size()));
  const auto received = static_cast<std::size_t>(arrived);
  return received > run.sent ? received - run.sent : 0;
}

}  // namespace

std::optional<double> UARTFirmware::collect(double now, bool unthrottled, Replies& out) {
  std::lock_guard lock(mutex_);
  std::optional<double> next;
  for (auto& [port, p] : ports_) {
    if (!p.st.reading) continue;
    Bytes packet{static_cast<Byte>(port), status::kOk};
    std::size_t room = kUartMaxPacket;
    while (!p.rx.empty() && room > 0) {
      Run& run = p.rx.front();
      const std::size_t due = std::min(dueIn(run, now, unthrottled), room);
      const auto first = run.data.begin() + static_cast<std::ptrdiff_t>(run.sent);
      packet.insert(packet.end(), first, first + static_cast<std::ptrdiff_t>(due));
      run.sent += due;
      room -= due;
      if (run.sent < run.data.size()) break;  // the rest is not due yet, or the packet is full
      p.rx.pop_front();
    }
    if (!p.rx.empty()) {
      const Run& run = p.rx.front();
      const double at = room == 0 || unthrottled ? now : run.start + run.per_byte * static_cast<double>(run.sent + 1);
      next = next ? std::min(*next, at) : at;
    }
    const std::size_t sent = kUartMaxPacket - room;
    if (sent == 0) continue;
    p.st.pending -= sent;
    p.st.streamed += sent;
    out.push_back(Reply{uartcmd::START_UART_READING, std::move(packet)});
  }
  return next;
}

// --- controls ------------------------------------------------------------------------------------

UARTFirmware::Port& UARTFirmware::known(int port) {
  requirePort(port, "UART");
  return ports_.at(port);
}

const UARTFirmware::Port& UARTFirmware::known(int port) const {
  requirePort(port, "UART");
  return ports_.at(port);
}

UartPortState UARTFirmware::state(int port) const {
  std::lock_guard lock(mutex_);
  return known(port).st;
}

void UARTFirmware::inject(int port, ByteView bytes) {
  std::lock_guard lock(mutex_);
  if (!receive(known(port), bytes))
    throw std::invalid_argument("UART port " + std::to_string(port) + " keeps at most " +
                                std::to_string(kUartPendingMax) + " received bytes unsent");
}

void UARTFirmware::setLoopback(int port, bool on) {
  std::lock_guard lock(mutex_);
  known(port).st.loopback = on;
}

Bytes UARTFirmware::transmitted(int port) const {
  std::lock_guard lock(mutex_);
  return known(port).transmitted;
}

double UARTFirmware::byteTime(int port) const {
  std::lock_guard lock(mutex_);
  return frameTime(known(port).st);
}

void UARTFirmware::setUnthrottled(bool on) { pacer_->setUnthrottled(on); }
bool UARTFirmware::unthrottled() const { return pacer_->unthrottled(); }

}  // namespace zelvo::sim
