#include "zelvo/sim/tmc5240_firmware.hpp"

#include <stdexcept>
#include <string>

#include "zelvo/sim/tmc5240_map.hpp"

namespace zelvo::sim {
namespace {

using namespace tmc;

constexpr Byte kDriveStatus = 55;
constexpr Byte kPinIndexStatus = 11;
constexpr int kSwitchPort = 1, kServoPort = 2;  // the DI and DO ports of the drive's lines
constexpr std::size_t kU32 = 4;

std::int64_t u32At(const Bytes& p, std::size_t at) { return readBE<std::uint32_t>(ByteView(p).subspan(at)); }
std::int64_t i32At(const Bytes& p, std::size_t at) { return readBE<std::int32_t>(ByteView(p).subspan(at)); }

Bytes withValue(Bytes head, std::int64_t v) {
  appendBE(head, static_cast<std::uint32_t>(v));
  return head;
}

}  // namespace

TmcDrive* Tmc5240Firmware::drive(int port) {
  const auto it = drives_.find(port);
  return it == drives_.end() ? nullptr : it->second.get();
}

TmcDrive& Tmc5240Firmware::find(int port) {
  if (TmcDrive* d = drive(port)) return *d;
  throw std::invalid_argument("the device has no stepper port " + std::to_string(port));
}

std::vector<int> Tmc5240Firmware::ports() const {
  std::lock_guard lock(fw_->mutex());
  std::vector<int> out;
  for (const auto& entry : drives_) out.push_back(entry.first);
  return out;
}

void Tmc5240Firmware::route(int code, std::size_t need, Body body) {
  fw_->registerHandler(code, [this, need, body = std::move(body)](const Request& r) {
    const Byte port = r.payload.empty() ? Byte{0} : r.payload[0];
    if (r.payload.size() < need) return answer(r, {port, status::kParser});
    TmcDrive* d = drive(port);
    if (!d) return answer(r, {port, kDriveStatus});
    const double now = fw_->time().now();
    d->settle(now);
    return answer(r, body(*d, now, r));
  });
}

void Tmc5240Firmware::install(Firmware& fw) {
  fw_ = &fw;
  for (const auto& [port, refs] : *fw.product().tvst_dict) drives_[port] = std::make_unique<TmcDrive>();
  using R = const Request&;
  route(MOTION_READ_REG, 2, [](TmcDrive& d, double now, R r) -> Bytes {
    const Byte port = r.payload[0], addr = r.payload[1];
    const auto v = d.read(now, addr);
    return withValue({port, addr, d.spiStatus(now)}, v.value_or(0));
  });
  route(MOTION_WRITE_REG, 3 + kU32, [](TmcDrive& d, double now, R r) -> Bytes {
    const Byte port = r.payload[0], addr = r.payload[1];
    const bool ok = d.write(now, addr, u32At(r.payload, 3));
    return {port, addr, d.spiStatus(now), 0, 0, 0, ok ? status::kOk : kDriveStatus};
  });
  route(MOTION_START_V_MOVE, 1 + 3 * kU32 + 1, [](TmcDrive& d, double now, R r) -> Bytes {
    const Bytes& p = r.payload;
    d.velocityMove(now, u32At(p, 1), u32At(p, 5), u32At(p, 9), p[13]);
    return {p[0], status::kOk};
  });
  route(MOTION_START_P_MOVE, 1 + 4 * kU32 + 1, [](TmcDrive& d, double now, R r) -> Bytes {
    const Bytes& p = r.payload;
    d.positionMove(now, i32At(p, 1), u32At(p, 5), u32At(p, 9), u32At(p, 13), p[17]);
    return {p[0], status::kOk};
  });
  route(MOTION_START_SCAN_MOVE, 1 + 4 * kU32, [](TmcDrive& d, double now, R r) -> Bytes {
    const Bytes& p = r.payload;
    d.scanMove(now, i32At(p, 1), i32At(p, 5), u32At(p, 9), u32At(p, 13));
    return {p[0], status::kOk};
  });
  route(MOTION_START_FIND_END, 2 + 4 * kU32 + 1, [](TmcDrive& d, double now, R r) -> Bytes {
    const Bytes& p = r.payload;
    d.findLimit(now, p[1], u32At(p, 2), u32At(p, 6), u32At(p, 10), i32At(p, 14), p[18] == 1);
    return {p[0], status::kOk};
  });
  auto search = [](TmcInput in) {
    return [in](TmcDrive& d, double now, R r) -> Bytes {
      const Bytes& p = r.payload;
      d.findSignal(now, in, u32At(p, 1), u32At(p, 5), u32At(p, 9), p[13], p[14], i32At(p, 15), p[19] == 1);
      return {p[0], status::kOk};
    };
  };
  route(MOTION_START_FIND_HOME, 1 + 3 * kU32 + 2 + kU32 + 1, search(TmcInput::Home));
  route(MOTION_START_FIND_Z, 1 + 3 * kU32 + 2 + kU32 + 1, search(TmcInput::Z));
  route(MOTION_STOP_PROC, 1, [](TmcDrive& d, double now, R r) -> Bytes {
    d.stopProcess(now);
    return {r.payload[0], status::kOk};
  });
  route(MOTION_RESET_FACTORY, 1, [](TmcDrive& d, double now, R r) -> Bytes {
    d.factoryReset(now);
    return {r.payload[0], status::kOk};
  });
  route(MOTION_GET_PROC_STATE, 1, [](TmcDrive& d, double, R r) -> Bytes {
    return {r.payload[0], static_cast<Byte>(d.processState())};
  });
  route(MOTION_GET_PARAM, 1, [](TmcDrive& d, double now, R r) -> Bytes {
    Bytes out{r.payload[0], status::kOk, 0};
    for (int addr : TmcDrive::parameterRegisters()) appendBE(out, static_cast<std::uint32_t>(*d.read(now, addr)));
    return out;
  });

  // The drive's switches and servo enable on the device's digital I/O.
  fw.registerHandler(READ_AND_GET_DI, [this](const Request& r) {
    const Byte port = r.payload.empty() ? Byte{0} : r.payload[0];
    if (r.payload.size() < 3) return answer(r, {port, status::kParser});
    if (port != kSwitchPort || drives_.empty()) return answer(r, {port, kPinIndexStatus});
    const auto mask = readBE<std::uint16_t>(ByteView(r.payload).subspan(1));
    TmcDrive& d = *drives_.begin()->second;
    const double now = fw_->time().now();
    d.settle(now);
    Bytes out{port};
    appendBE(out, static_cast<std::uint16_t>(d.switchLevels(now) & mask));
    return answer(r, std::move(out));
  });
  fw.registerHandler(SET_AND_WRITE_DO, [this](const Request& r) {
    const Byte port = r.payload.empty() ? Byte{0} : r.payload[0];
    if (r.payload.size() < 5) return answer(r, {port, status::kParser});
    if (port != kServoPort || drives_.empty()) return answer(r, {port, kPinIndexStatus});
    TmcDrive& d = *drives_.begin()->second;
    d.setOutputs(readBE<std::uint16_t>(ByteView(r.payload).subspan(1)), readBE<std::uint16_t>(ByteView(r.payload).subspan(3)));
    Bytes out{port};
    appendBE(out, d.outputs());
    return answer(r, std::move(out));
  });
}

}  // namespace zelvo::sim
