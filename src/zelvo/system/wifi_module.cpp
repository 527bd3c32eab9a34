#include "zelvo/system/wifi_module.hpp"

#include "zelvo/core/reply.hpp"
#include "zelvo/core/status_exchange.hpp"

namespace zelvo {
namespace {

// Digital ports and pins of the board signals.
constexpr int kChargePort = 1;
constexpr int kPowerGoodBit = 0;
constexpr int kChargingBit = 1;
constexpr int kLedPort = 0;
constexpr int kRedBit = 0;
constexpr int kGreenBit = 1;
constexpr int kBlueBit = 2;
constexpr std::uint16_t kAllLeds = 0b111;

constexpr std::size_t kWordAt = 1;    // a digital reply's levels follow the port
constexpr std::size_t kStatusAt = 0;  // the radio commands' status
constexpr int kRssiOffset = 256;      // the signal strength travels as dBm + 256
constexpr int kHT20 = 1;
constexpr int kHT40 = 2;

Bytes portAndWords(int port, std::uint16_t a) {
  Bytes out = payloadOf(port);
  appendBE(out, a);
  return out;
}

Bytes portAndWords(int port, std::uint16_t a, std::uint16_t b) {
  Bytes out = portAndWords(port, a);
  appendBE(out, b);
  return out;
}

}  // namespace

WifiModule::WifiModule(Device&) {}

// --- charge indications and LEDs -------------------------------------------------------------------

Op<int> WifiModule::readChargePin(Call& call, int bit, const char* operation) {
  const Bytes r = co_await call.echo(READ_AND_GET_DI, portAndWords(kChargePort, static_cast<std::uint16_t>(1u << bit)));
  co_return (Reply(r, operation).be<std::uint16_t>(kWordAt) >> bit) & 1;
}

Op<int> WifiModule::getPowerGoodStatus(Call& call) {
  co_return co_await readChargePin(call, kPowerGoodBit, "Wifi_getPowerGoodStatus");
}

Op<int> WifiModule::getChargeStatus(Call& call) {
  co_return co_await readChargePin(call, kChargingBit, "Wifi_getChargeStatus");
}

Op<int> WifiModule::writeLED(Call& call, int bit, double value) {
  const auto mask = static_cast<std::uint16_t>(1u << bit);
  const std::uint16_t state = value > 0 ? mask : 0;
  (void)co_await call.echo(SET_AND_WRITE_DO, portAndWords(kLedPort, mask, state));
  co_return 0;  // the reply carries the driven levels, which these operations do not report
}

Op<int> WifiModule::resetLED(Call& call) {
  (void)co_await call.echo(SET_AND_WRITE_DO, portAndWords(kLedPort, kAllLeds, 0));
  co_return 0;
}

Op<int> WifiModule::setRedLED(Call& call, double value) { co_return co_await writeLED(call, kRedBit, value); }
Op<int> WifiModule::setGreenLED(Call& call, double value) { co_return co_await writeLED(call, kGreenBit, value); }
Op<int> WifiModule::setBlueLED(Call& call, double value) { co_return co_await writeLED(call, kBlueBit, value); }

// --- radio -----------------------------------------------------------------------------------------

Op<int> WifiModule::getWifiBandWidth(Call& call) {
  const Bytes r = co_await call.echo(GET_WIFI_BANDWIDTH, {});
  const int bandwidth = Reply(r, "Wifi_getWifiBandWidth").at(0);
  std::lock_guard lock(m_);
  bandwidth_ = bandwidth;
  co_return bandwidth;
}

Op<std::vector<int>> WifiModule::getConfiguration(Call& call) {
  const Bytes r = co_await call.echo(GET_WIFI_CONFIGURATION, {});
  const Reply reply(r, "Wifi_getConfiguration");
  co_return std::vector<int>{reply.be<std::uint16_t>(0), reply.be<std::uint16_t>(2)};
}

Op<int> WifiModule::readRSSI(Call& call) {
  const Bytes r = co_await call.echo(GET_RSSI, {});
  const int rssi = Reply(r, "Wifi_readRSSI").at(0) - kRssiOffset;
  std::lock_guard lock(m_);
  rssi_ = rssi;
  co_return rssi;
}

Op<int> WifiModule::setAP(Call& call) {
  co_return co_await echoStatus(call, SET_AP, {}, kStatusAt, "_Wifi_setAP");
}

Op<int> WifiModule::setBandwidth(Call& call, int bandwidth) {
  if (bandwidth < kHT20 || bandwidth > kHT40)
    throw Error(Err::InputDataNotInRangeError, "bandwidth is 1 (HT20) or 2 (HT40), not " + std::to_string(bandwidth) + ".");
  // The device is always asked for HT20: a request for HT40 is sent as HT20.
  co_return co_await echoStatus(call, SET_WIFI_BANDWIDTH, payloadOf(std::min(bandwidth, kHT20)),
                                kStatusAt, "_Wifi_setBandwidth");
}

Op<int> WifiModule::setConfiguration(Call& call, std::int64_t retry_wifi_times, std::int64_t ap_time) {
  Bytes payload;
  appendBE(payload, unsignedField<std::uint16_t>(retry_wifi_times, "retry_wifi_times"));
  appendBE(payload, unsignedField<std::uint16_t>(ap_time, "ap_time"));
  co_return co_await echoStatus(call, SET_WIFI_CONFIGURATION, std::move(payload), kStatusAt, "_setWifiConfiguration");
}

std::optional<int> WifiModule::bandwidth() const {
  std::lock_guard lock(m_);
  return bandwidth_;
}

std::optional<int> WifiModule::rssi() const {
  std::lock_guard lock(m_);
  return rssi_;
}

}  // namespace zelvo
