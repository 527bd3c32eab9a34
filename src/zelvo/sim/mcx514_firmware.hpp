// The motion peripheral's firmware side: one emulated motion chip per motion port of the product
// (mcx514_chip.hpp). Every motion request comes under code MOTION with a seven-byte payload (port,
// register, axis byte, four data bytes); the reply repeats the first three bytes and carries the
// chip's four answer bytes. A request shorter than seven bytes is answered with status 80 (parser),
// one for a port without a chip with status 54.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "zelvo/sim/firmware.hpp"
#include "zelvo/sim/mcx514_chip.hpp"

namespace zelvo::sim {

class Mcx514Firmware final : public FirmwareModule {
 public:
  void install(Firmware& fw) override;

  // Controls for tests and the Python API. Each runs `f` on a port's chip under the firmware's
  // lock, with everything up to the device's present time settled; std::invalid_argument for a
  // port without a chip.
  template <class F>
  decltype(auto) withChip(int port, F&& f) {
    std::lock_guard lock(fw_->mutex());
    McxChip& chip = find(port);
    const double now = fw_->time().now();
    chip.settle(now);
    return std::forward<F>(f)(chip, now);
  }
  std::vector<int> ports() const;
  // The time every chip's helical calculation takes (none: it never ends).
  void setCalculationTime(std::optional<double> seconds);
  std::optional<double> calculationTime() const;

 private:
  McxChip& find(int port);

  Firmware* fw_ = nullptr;
  std::map<int, std::unique_ptr<McxChip>> chips_;
};

}  // namespace zelvo::sim
