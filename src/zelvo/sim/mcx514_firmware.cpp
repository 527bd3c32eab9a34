#include "zelvo/sim/mcx514_firmware.hpp"

#include <stdexcept>
#include <string>

#include "zelvo/sim/mcx514_map.hpp"

namespace zelvo::sim {
namespace {

constexpr std::size_t kPayload = 7;  // port, register, axis byte, four data bytes
constexpr std::size_t kKeyBytes = 3;

Bytes replyOf(const Bytes& request, const McxChip::Data& data) {
  Bytes out(request.begin(), request.begin() + static_cast<std::ptrdiff_t>(std::min(kKeyBytes, request.size())));
  out.resize(kKeyBytes, 0);
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

}  // namespace

void Mcx514Firmware::install(Firmware& fw) {
  fw_ = &fw;
  for (const auto& [port, refs] : fw.product().motion->motion_dict) chips_[port] = std::make_unique<McxChip>();
  fw.registerHandler(mcx::MOTION, [this](const Request& r) {
    if (r.payload.size() < kPayload) return answer(r, replyOf(r.payload, {0, 0, 0, status::kParser}));
    const auto it = chips_.find(r.payload[0]);
    if (it == chips_.end()) return answer(r, replyOf(r.payload, {0, 0, 0, McxChip::kMotionStatus}));
    const McxChip::Data data = {r.payload[3], r.payload[4], r.payload[5], r.payload[6]};
    return answer(r, replyOf(r.payload, it->second->request(fw_->time().now(), r.payload[1], r.payload[2], data)));
  });
}

McxChip& Mcx514Firmware::find(int port) {
  const auto it = chips_.find(port);
  if (it == chips_.end()) throw std::invalid_argument("the device has no motion port " + std::to_string(port));
  return *it->second;
}

std::vector<int> Mcx514Firmware::ports() const {
  std::lock_guard lock(fw_->mutex());
  std::vector<int> out;
  for (const auto& entry : chips_) out.push_back(entry.first);
  return out;
}

void Mcx514Firmware::setCalculationTime(std::optional<double> seconds) {
  if (seconds && !(*seconds >= 0)) throw std::invalid_argument("a calculation time is >= 0 seconds (None: never)");
  std::lock_guard lock(fw_->mutex());
  for (auto& entry : chips_) entry.second->setCalculationTime(seconds);
}

std::optional<double> Mcx514Firmware::calculationTime() const {
  std::lock_guard lock(fw_->mutex());
  return chips_.empty() ? std::optional<double>(0.05) : chips_.begin()->second->calculationTime();
}

}  // namespace zelvo::sim
