#include "zelvo/sim/bus_firmware.hpp"

#include <stdexcept>
#include <string>

namespace zelvo::sim {

std::vector<int> BusFirmware::ports() const {
  std::vector<int> out;
  for (const auto& entry : pins_) out.push_back(entry.first);
  return out;
}

void BusFirmware::attach(Firmware& fw, const PairMap& map) {
  fw_ = &fw;
  for (const auto& [port, refs] : map) pins_[port] = refs;
}

void BusFirmware::route(int code, std::size_t need, Body body, bool silent) {
  fw_->registerHandler(code, [this, need, silent, body = std::move(body)](const Request& r) -> Replies {
    if (r.payload.size() < std::max<std::size_t>(need, 1)) return silent ? Replies{} : answer(r, {status::kParser});
    const int port = r.payload[0];
    std::lock_guard lock(mutex_);
    if (!hasPort(port)) return silent ? Replies{} : answer(r, {static_cast<Byte>(port), error_});
    Outcome out = body(r, port);
    if (const Byte* s = std::get_if<Byte>(&out)) return answer(r, {static_cast<Byte>(port), *s});
    return std::get<Replies>(std::move(out));
  });
}

Byte BusFirmware::takePins(int port) {
  const auto& refs = pins_.at(port);
  for (const auto& [dio_port, pin] : refs) {
    const auto modes = fw_->pinModes(dio_port);
    const PinMode m = static_cast<std::size_t>(pin) < modes.size() ? modes[static_cast<std::size_t>(pin)] : PinMode::Disabled;
    if (m != PinMode::Idle && m != PinMode::DI && m != PinMode::DO && m != mode_) return error_;
  }
  for (const auto& [dio_port, pin] : refs) fw_->setPinMode(dio_port, pin, mode_);
  return status::kOk;
}

void BusFirmware::releasePins(int port) {
  for (const auto& [dio_port, pin] : pins_.at(port)) fw_->setPinMode(dio_port, pin, PinMode::Idle);
}

void BusFirmware::requirePort(int port, const char* bus) const {
  if (!hasPort(port))
    throw std::invalid_argument(fw_->product().class_name + " has no " + bus + " port " + std::to_string(port));
}

}  // namespace zelvo::sim
