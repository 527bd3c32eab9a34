#include "zelvo/sim/dpot_firmware.hpp"

#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "zelvo/sim/channel_routes.hpp"

namespace zelvo::sim {
namespace {

constexpr int kPorts = 1;
constexpr Byte kNoSuchPin = 11;
constexpr std::size_t kPortOnly = 1;
constexpr std::size_t kPortAndChannel = 2;
constexpr std::size_t kRatioBytes = 4;

bool validRatio(double r) { return r >= 0 && r <= 1; }

std::uint32_t tapOf(double ratio) { return static_cast<std::uint32_t>(std::lround(ratio * DpotFirmware::kTopTap)); }

}  // namespace

void DpotFirmware::install(Firmware& fw) {
  fw_ = &fw;
  using namespace dpotcmd;
  using R = const Request&;
  routeChannel(fw, POT_WRITE_BY_CS, kPortAndChannel + kRatioBytes, kPorts, kNoSuchPin, [this](R r, int) -> ChannelOutcome {
    const Byte channel = r.payload[1];
    if (channel >= kChannels) return kNoSuchPin;
    const double ratio = readF32BE(ByteView(r.payload).subspan(kPortAndChannel));
    if (!validRatio(ratio)) return status::kParser;
    ratios_[channel] = ratio;
    return status::kOk;
  });
  routeChannel(fw, POT_WRITE_ALL_CS, kPortOnly, kPorts, kNoSuchPin, [this](R r, int) -> ChannelOutcome {
    const ByteView values = ByteView(r.payload).subspan(kPortOnly);
    if (values.size() % kRatioBytes != 0 || values.size() > kChannels * kRatioBytes) return status::kParser;
    std::vector<double> given;
    for (std::size_t at = 0; at < values.size(); at += kRatioBytes) given.push_back(readF32BE(values.subspan(at)));
    for (double ratio : given)
      if (!validRatio(ratio)) return status::kParser;
    for (std::size_t k = 0; k < given.size(); ++k) ratios_[k] = given[k];
    return status::kOk;
  });
  routeChannel(fw, POT_READ, kPortAndChannel, kPorts, kNoSuchPin, [this](R r, int) -> ChannelOutcome {
    const Byte channel = r.payload[1];
    if (channel >= kChannels) return kNoSuchPin;
    Bytes data{channel};
    appendBE(data, tapOf(ratios_[channel]));
    return data;
  });
}

std::array<double, DpotFirmware::kChannels> DpotFirmware::ratios() const {
  std::lock_guard lock(fw_->mutex());
  return ratios_;
}

std::uint32_t DpotFirmware::wiper(int channel) const {
  if (channel < 0 || channel >= kChannels) throw std::invalid_argument("the device has no potentiometer channel " + std::to_string(channel));
  std::lock_guard lock(fw_->mutex());
  return tapOf(ratios_[static_cast<std::size_t>(channel)]);
}

}  // namespace zelvo::sim
