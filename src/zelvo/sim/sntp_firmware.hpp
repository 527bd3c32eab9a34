// The SNTP peripheral's firmware side: the time server the device uses, how often it synchronises,
// and the server it reports in use. It never opens a socket: "synchronising" copies the host's
// clock into the device's real-time clock.
//
// Model of the device:
// - The server address starts as 255.255.255.255 (search for a server); the period as 3600 s.
// - The server in use is the address set, or, while searching, the device's gateway (its network
//   is where it finds one); 0.0.0.0 while the server is unreachable (a control) and on products
//   without network settings.
// - SNTP_SYNC_NOW sets the clock from the host's UTC time; while the server is unreachable it
//   fails with status 72 and the clock is left alone.
// - A period that is not a positive finite number is refused with status 80, as is a request too
//   short for its fields.
//
// Replies: SNTP_GET_SYNC_STATUS [0, text of the server in use]; SNTP_GET_SERVER_IP [0, ip 4];
// SNTP_GET_SYNC_PERIOD [f32] (no status); the others [status].
#pragma once

#include <optional>
#include <string>

#include "zelvo/sim/firmware.hpp"
#include "zelvo/sim/network_firmware.hpp"

namespace zelvo::sim {

// Command codes, under the names the library gives them.
namespace sntpcmd {
inline constexpr int SNTP_SYNC_NOW = 2624;
inline constexpr int SNTP_GET_SYNC_STATUS = 2625;
inline constexpr int SNTP_GET_SERVER_IP = 2626;
inline constexpr int SNTP_SET_SERVER_IP = 2627;
inline constexpr int SNTP_GET_SYNC_PERIOD = 2628;
inline constexpr int SNTP_SET_SYNC_PERIOD = 2629;
}  // namespace sntpcmd

// The status of a synchronisation whose server did not answer.
inline constexpr Byte kServerUnreachable = 72;

class SNTPFirmware final : public FirmwareModule {
 public:
  static constexpr IPv4 kSearch = {255, 255, 255, 255};
  static constexpr IPv4 kNone = {0, 0, 0, 0};
  static constexpr float kDefaultPeriod = 3600;

  void install(Firmware& fw) override;

  // Views and controls for tests and the Python API; safe from any thread.
  IPv4 server() const;
  void setServer(const IPv4& ip);
  float period() const;
  // False (no change) for a period that is not positive and finite.
  bool setPeriod(float seconds);
  IPv4 inUse() const;
  bool unreachable() const;
  void setUnreachable(bool on);
  int syncs() const;
  // Device time (seconds) of the last synchronisation; none before the first.
  std::optional<double> lastSync() const;

 private:
  Byte syncNow();

  Firmware* fw_ = nullptr;
  IPv4 server_ = kSearch;
  float period_ = kDefaultPeriod;
  bool unreachable_ = false;
  int syncs_ = 0;
  std::optional<double> last_sync_;
};

}  // namespace zelvo::sim
