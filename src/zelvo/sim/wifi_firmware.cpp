#include "zelvo/sim/wifi_firmware.hpp"

#include <cmath>
#include <stdexcept>
#include <string>

namespace zelvo::sim {
namespace {

constexpr int kLedPort = 0;
constexpr int kChargePort = 1;
constexpr std::uint16_t kLeds = 0b111;
constexpr Byte kPinIndexStatus = 11;  // a port the board does not have
constexpr Byte kDioStatus = 50;       // an input asked to drive, or the reverse
constexpr std::size_t kReadFields = 3;   // [port, mask]
constexpr std::size_t kWriteFields = 5;  // [port, mask, state]
constexpr int kRssiOffset = 256;         // dBm travel as dBm + 256
constexpr double kThermoUnits = 128;     // the thermometer counts 1/128 degree
constexpr int kMaxWord = 0xFFFF;

Bytes portAndWord(Byte port, std::uint16_t word) {
  Bytes out{port};
  appendBE(out, word);
  return out;
}

}  // namespace

void WifiFirmware::install(Firmware& fw) {
  fw_ = &fw;
  using namespace wificmd;
  fw.registerHandler(READ_AND_GET_DI, [this](const Request& r) { return digitalRead(r); });
  fw.registerHandler(SET_AND_WRITE_DO, [this](const Request& r) { return digitalWrite(r); });
  fw.registerHandler(GET_BATTERY, [this](const Request& r) {
    Bytes out;
    appendBE(out, static_cast<std::uint16_t>(board_.battery_mv));
    return answer(r, out);
  });
  fw.registerHandler(GET_THERMOMETER, [this](const Request& r) {
    Bytes out;
    appendBE(out, static_cast<std::int16_t>(std::lround(board_.board_celsius * kThermoUnits)));
    return answer(r, out);
  });
  fw.registerHandler(READ_ACCELERATION, [this](const Request& r) {
    Bytes out;
    for (std::uint16_t w : board_.acceleration) appendBE(out, w);
    return answer(r, out);
  });
  fw.registerHandler(GET_RSSI, [this](const Request& r) {
    return answer(r, {static_cast<Byte>(board_.rssi_dbm + kRssiOffset)});
  });
  fw.registerHandler(GET_WIFI_BANDWIDTH, [this](const Request& r) { return answer(r, {static_cast<Byte>(board_.bandwidth)}); });
  fw.registerHandler(SET_WIFI_BANDWIDTH, [this](const Request& r) {
    if (r.payload.empty() || r.payload[0] < 1 || r.payload[0] > 2) return answer(r, {status::kParser});
    board_.bandwidth = r.payload[0];
    return answer(r, {status::kOk});
  });
  fw.registerHandler(GET_WIFI_CONFIGURATION, [this](const Request& r) {
    Bytes out;
    appendBE(out, static_cast<std::uint16_t>(board_.retry_count));
    appendBE(out, static_cast<std::uint16_t>(board_.ap_seconds));
    return answer(r, out);
  });
  fw.registerHandler(SET_WIFI_CONFIGURATION, [this](const Request& r) {
    if (r.payload.size() < 4) return answer(r, {status::kParser});
    board_.retry_count = readBE<std::uint16_t>(r.payload);
    board_.ap_seconds = readBE<std::uint16_t>(ByteView(r.payload).subspan(2));
    return answer(r, {status::kOk});
  });
  fw.registerHandler(SET_AP, [this](const Request& r) {
    board_.ap_mode = true;
    return answer(r, {status::kOk});
  });
  fw.registerHandler(AI_RESET_BUFFER, [this](const Request& r) {
    if (r.payload.empty()) return answer(r, {status::kParser});
    ++board_.ai_buffer_resets;
    return answer(r, {r.payload[0], status::kOk});
  });
}

// --- board pins ------------------------------------------------------------------------------------

std::uint16_t WifiFirmware::inputs() const {
  return static_cast<std::uint16_t>((board_.power_good ? 1u << kWifiPowerGoodBit : 0u) |
                                    (board_.charging ? 1u << kWifiChargingBit : 0u));
}

Replies WifiFirmware::digitalRead(const Request& r) {
  const Byte port = r.payload.empty() ? Byte{0} : r.payload[0];
  if (r.payload.size() < kReadFields) return answer(r, {port, status::kParser});
  const auto mask = readBE<std::uint16_t>(ByteView(r.payload).subspan(1));
  if (port == kChargePort) return answer(r, portAndWord(port, inputs() & mask));
  if (port == kLedPort) return answer(r, portAndWord(port, board_.leds & mask));
  return answer(r, {port, kPinIndexStatus});
}

Replies WifiFirmware::digitalWrite(const Request& r) {
  const Byte port = r.payload.empty() ? Byte{0} : r.payload[0];
  if (r.payload.size() < kWriteFields) return answer(r, {port, status::kParser});
  if (port == kChargePort) return answer(r, {port, kDioStatus});
  if (port != kLedPort) return answer(r, {port, kPinIndexStatus});
  const auto mask = static_cast<std::uint16_t>(readBE<std::uint16_t>(ByteView(r.payload).subspan(1)) & kLeds);
  const auto state = readBE<std::uint16_t>(ByteView(r.payload).subspan(3));
  board_.leds = static_cast<std::uint16_t>((board_.leds & ~mask) | (state & mask));
  return answer(r, portAndWord(port, board_.leds));
}

// --- controls ----------------------------------------------------------------------------------------

WifiBoard WifiFirmware::board() const {
  std::lock_guard lock(fw_->mutex());
  return board_;
}

void WifiFirmware::setBattery(int millivolts) {
  if (millivolts < 0 || millivolts > kMaxWord) throw std::invalid_argument("battery millivolts are 0..65535");
  std::lock_guard lock(fw_->mutex());
  board_.battery_mv = millivolts;
}

void WifiFirmware::setPowerGood(bool on) {
  std::lock_guard lock(fw_->mutex());
  board_.power_good = on;
}

void WifiFirmware::setCharging(bool on) {
  std::lock_guard lock(fw_->mutex());
  board_.charging = on;
}

void WifiFirmware::setRssi(int dbm) {
  if (dbm < -kRssiOffset || dbm >= 0) throw std::invalid_argument("RSSI is -256..-1 dBm");
  std::lock_guard lock(fw_->mutex());
  board_.rssi_dbm = dbm;
}

void WifiFirmware::setBoardTemperature(double celsius) {
  const double units = std::round(celsius * kThermoUnits);
  if (!(units >= INT16_MIN && units <= INT16_MAX)) throw std::invalid_argument("board temperature is -256..255.99 degrees");
  std::lock_guard lock(fw_->mutex());
  board_.board_celsius = celsius;
}

void WifiFirmware::setAcceleration(const std::array<int, 3>& words) {
  for (int w : words)
    if (w < 0 || w > kMaxWord) throw std::invalid_argument("acceleration words are 0..65535");
  std::lock_guard lock(fw_->mutex());
  for (std::size_t i = 0; i < words.size(); ++i) board_.acceleration[i] = static_cast<std::uint16_t>(words[i]);
}

}  // namespace zelvo::sim
