// The stepper peripheral's firmware side: one emulated drive per stepper port (tmc5240_drive.hpp),
// and the digital I/O lines its switches and servo enable are wired to.
//
// Replies: a register read [port, register, SPI status, value (4 bytes)]; a register write
// [port, register, SPI status, 0, 0, 0, status]; a procedure or stop [port, status]; the procedure
// state [port, state]; the parameters [port, status, 0, one 4-byte value per parameter register].
// Statuses: 0, 55 (drive: a register the chip lacks or cannot write, a port without a drive), 80
// (a request too short). DI port 1 answers [1, level word], DO port 2 [2, output word]; other DIO
// ports [port, 11].
#pragma once

#include <map>
#include <memory>
#include <vector>

#include "zelvo/sim/firmware.hpp"
#include "zelvo/sim/tmc5240_drive.hpp"

namespace zelvo::sim {

class Tmc5240Firmware final : public FirmwareModule {
 public:
  void install(Firmware& fw) override;

  // Runs f(drive, now) on a port's drive under the firmware's lock, with everything up to now
  // settled; std::invalid_argument for a port without a drive.
  template <class F>
  decltype(auto) withDrive(int port, F&& f) {
    std::lock_guard lock(fw_->mutex());
    TmcDrive& d = find(port);
    const double now = fw_->time().now();
    d.settle(now);
    return std::forward<F>(f)(d, now);
  }
  std::vector<int> ports() const;

 private:
  using Body = std::function<Bytes(TmcDrive& d, double now, const Request& r)>;
  // Registers a command on a stepper port: requests shorter than `need` bytes are answered
  // [port, 80], ports without a drive [port, 55].
  void route(int code, std::size_t need, Body body);
  TmcDrive& find(int port);
  TmcDrive* drive(int port);

  Firmware* fw_ = nullptr;
  std::map<int, std::unique_ptr<TmcDrive>> drives_;
};

}  // namespace zelvo::sim
