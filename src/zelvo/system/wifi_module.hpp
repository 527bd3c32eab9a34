// Wi-Fi module of the battery-powered Wi-Fi products: the charge indications and the three status
// LEDs (pins of the device's digital ports 1 and 0, reached with the digital I/O commands), and the
// radio: bandwidth, signal strength, access-point switching and reconnection settings.
#pragma once

#include <mutex>
#include <optional>
#include <vector>

#include "zelvo/core/call.hpp"

namespace zelvo {

// Command codes: core/command_table.def (READ_AND_GET_DI and SET_AND_WRITE_DO are digital I/O's).

class WifiModule {
 public:
  explicit WifiModule(Device& dev);

  // Charge indications: 1 when the battery is fully charged / is charging.
  Op<int> getPowerGoodStatus(Call& call);
  Op<int> getChargeStatus(Call& call);
  // LEDs: on when value > 0, off otherwise; each write leaves the other LEDs alone. Return 0.
  Op<int> resetLED(Call& call);
  Op<int> setRedLED(Call& call, double value);
  Op<int> setGreenLED(Call& call, double value);
  Op<int> setBlueLED(Call& call, double value);
  // Radio.
  Op<int> getWifiBandWidth(Call& call);      // 1 HT20, 2 HT40; kept in bandwidth()
  Op<std::vector<int>> getConfiguration(Call& call);  // [reconnection retries, seconds in access-point mode]
  Op<int> readRSSI(Call& call);              // dBm; kept in rssi()
  Op<int> setAP(Call& call);
  Op<int> setBandwidth(Call& call, int bandwidth);
  Op<int> setConfiguration(Call& call, std::int64_t retry_wifi_times, std::int64_t ap_time);

  // What the last reads returned; none before the first.
  std::optional<int> bandwidth() const;
  std::optional<int> rssi() const;

 private:
  Op<int> readChargePin(Call& call, int bit, const char* operation);
  Op<int> writeLED(Call& call, int bit, double value);

  mutable std::mutex m_;
  std::optional<int> bandwidth_;
  std::optional<int> rssi_;
};

}  // namespace zelvo
