// The digital potentiometer peripheral's firmware side: four channels on port 0, each holding the
// resistance ratio written last (0..1 of the full resistance; 0.5 at start).
//
// Model of the device:
// - POT_WRITE_BY_CS [port, channel, f32 ratio] -> [port, status]; POT_WRITE_ALL_CS [port, f32...]
//   sets channels 0, 1, ... from the ratios in order (none: nothing changes).
// - A ratio outside 0..1 (or NaN), a ratio list that is not whole 4-byte values or longer than
//   four: [port, 80], and nothing changes.
// - POT_READ [port, channel] -> [port, channel, u32]: the wiper position, the ratio times 255
//   rounded (256 taps).
// - Port other than 0: [port, 11]; channel other than 0..3: [port, 11].
#pragma once

#include <array>
#include <cstdint>

#include "zelvo/sim/firmware.hpp"

namespace zelvo::sim {

// Command codes, under the names the library gives them.
namespace dpotcmd {
inline constexpr int POT_READ = 8513;
inline constexpr int POT_WRITE_BY_CS = 8514;
inline constexpr int POT_WRITE_ALL_CS = 8515;
}  // namespace dpotcmd

class DpotFirmware final : public FirmwareModule {
 public:
  static constexpr int kChannels = 4;
  static constexpr std::uint32_t kTopTap = 255;

  void install(Firmware& fw) override;

  // Safe from any thread; a channel other than 0..3 throws std::invalid_argument.
  std::array<double, kChannels> ratios() const;
  // The wiper position a read reports.
  std::uint32_t wiper(int channel) const;

 private:
  Firmware* fw_ = nullptr;
  std::array<double, kChannels> ratios_{0.5, 0.5, 0.5, 0.5};
};

}  // namespace zelvo::sim
