// The Wi-Fi products' board: battery, charge indications, three status LEDs, radio settings, the
// on-board thermometer and accelerometer, and the analog-input buffer reset.
//
// Model of the device:
// - The charge indications are inputs of digital port 1 (bit 0 power good, bit 1 charging), the
//   LEDs outputs of digital port 0 (bit 0 red, 1 green, 2 blue), reached with READ_AND_GET_DI and
//   SET_AND_WRITE_DO like any digital pins. The digital I/O firmware, where the product has one,
//   serves its own ports and passes these on; other ports are answered [port, 11].
// - Radio settings are kept and reported; switching to access-point mode changes only this state.
// - Replies of the radio and analog commands carry no request byte: [status] or the values.
#pragma once

#include <array>
#include <cstdint>

#include "zelvo/sim/firmware.hpp"

namespace zelvo::sim {

// Command codes, under the names the library gives them.
namespace wificmd {
inline constexpr int READ_ACCELERATION = 111;
inline constexpr int SET_AP = 112;
inline constexpr int GET_RSSI = 113;
inline constexpr int GET_BATTERY = 114;
inline constexpr int GET_THERMOMETER = 115;
inline constexpr int SET_WIFI_CONFIGURATION = 116;
inline constexpr int GET_WIFI_CONFIGURATION = 117;
inline constexpr int SET_WIFI_BANDWIDTH = 118;
inline constexpr int GET_WIFI_BANDWIDTH = 119;
inline constexpr int READ_AND_GET_DI = 233;
inline constexpr int SET_AND_WRITE_DO = 234;
inline constexpr int AI_RESET_BUFFER = 8213;
}  // namespace wificmd

// Board bits.
inline constexpr int kWifiPowerGoodBit = 0;
inline constexpr int kWifiChargingBit = 1;
inline constexpr int kWifiRedBit = 0;
inline constexpr int kWifiGreenBit = 1;
inline constexpr int kWifiBlueBit = 2;

struct WifiBoard {
  int battery_mv = 3900;
  bool power_good = false;
  bool charging = true;
  std::uint16_t leds = 0;  // bit 0 red, 1 green, 2 blue
  int rssi_dbm = -56;
  int bandwidth = 1;  // 1 HT20, 2 HT40
  int retry_count = 3;
  int ap_seconds = 60;
  bool ap_mode = false;
  double board_celsius = 31.5;
  std::array<std::uint16_t, 3> acceleration{0, 0, 16384};  // x, y, z words as the accelerometer gives them
  std::uint64_t ai_buffer_resets = 0;
};

class WifiFirmware final : public FirmwareModule {
 public:
  void install(Firmware& fw) override;

  // Controls, callable from any thread; out-of-range values raise std::invalid_argument.
  WifiBoard board() const;
  void setBattery(int millivolts);
  void setPowerGood(bool on);
  void setCharging(bool on);
  void setRssi(int dbm);
  void setBoardTemperature(double celsius);
  void setAcceleration(const std::array<int, 3>& words);

 private:
  Replies digitalRead(const Request& r);
  Replies digitalWrite(const Request& r);
  std::uint16_t inputs() const;

  Firmware* fw_ = nullptr;
  WifiBoard board_;  // under the firmware's lock
};

}  // namespace zelvo::sim
