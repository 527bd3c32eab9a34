#include "zelvo/sim/sntp_firmware.hpp"

#include <chrono>
#include <cmath>

#include "zelvo/sim/payload_route.hpp"

namespace zelvo::sim {
namespace {

constexpr Byte kReplyLead = 0;
constexpr std::size_t kServerAt = 1;  // after the request's leading byte
constexpr std::size_t kAddressBytes = 4;
constexpr std::size_t kPeriodBytes = 4;

std::string dotted(const IPv4& a) {
  return std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) + "." + std::to_string(a[3]);
}

}  // namespace

void SNTPFirmware::install(Firmware& fw) {
  fw_ = &fw;
  auto route = [&fw](int code, std::size_t need, auto body) { routePayload(fw, code, need, std::move(body)); };
  using namespace sntpcmd;
  constexpr std::size_t kNothing = 0, kServer = kServerAt + kAddressBytes;
  //    code                  bytes needed   reply payload of the request payload
  route(SNTP_SYNC_NOW,        kNothing,      [this](ByteView) { return Bytes{syncNow()}; });
  route(SNTP_GET_SYNC_STATUS, kNothing,      [this](ByteView) {
    const std::string text = dotted(inUse());
    Bytes out{kReplyLead};
    out.insert(out.end(), text.begin(), text.end());
    return out;
  });
  route(SNTP_GET_SERVER_IP,   kNothing,      [this](ByteView) { return Bytes{kReplyLead, server_[0], server_[1], server_[2], server_[3]}; });
  route(SNTP_SET_SERVER_IP,   kServer,       [this](ByteView p) {
    server_ = {p[kServerAt], p[kServerAt + 1], p[kServerAt + 2], p[kServerAt + 3]};
    return Bytes{status::kOk};
  });
  route(SNTP_GET_SYNC_PERIOD, kNothing,      [this](ByteView) { return toBE(std::bit_cast<std::uint32_t>(period_)); });
  route(SNTP_SET_SYNC_PERIOD, kPeriodBytes,  [this](ByteView p) {
    return Bytes{setPeriod(readF32BE(p)) ? status::kOk : status::kParser};
  });
}

Byte SNTPFirmware::syncNow() {
  if (unreachable_) return kServerUnreachable;
  fw_->setRtc(dateTimeOf(std::chrono::system_clock::now()));
  ++syncs_;
  last_sync_ = fw_->time().now();
  return status::kOk;
}

IPv4 SNTPFirmware::server() const {
  std::lock_guard lock(fw_->mutex());
  return server_;
}

void SNTPFirmware::setServer(const IPv4& ip) {
  std::lock_guard lock(fw_->mutex());
  server_ = ip;
}

float SNTPFirmware::period() const {
  std::lock_guard lock(fw_->mutex());
  return period_;
}

bool SNTPFirmware::setPeriod(float seconds) {
  if (!std::isfinite(seconds) || seconds <= 0) return false;
  std::lock_guard lock(fw_->mutex());
  period_ = seconds;
  return true;
}

IPv4 SNTPFirmware::inUse() const {
  std::lock_guard lock(fw_->mutex());
  if (unreachable_) return kNone;
  if (server_ != kSearch) return server_;
  const auto* net = fw_->findModule<NetworkFirmware>();
  return net ? net->settings().gateway : kNone;
}

bool SNTPFirmware::unreachable() const {
  std::lock_guard lock(fw_->mutex());
  return unreachable_;
}

void SNTPFirmware::setUnreachable(bool on) {
  std::lock_guard lock(fw_->mutex());
  unreachable_ = on;
}

int SNTPFirmware::syncs() const {
  std::lock_guard lock(fw_->mutex());
  return syncs_;
}

std::optional<double> SNTPFirmware::lastSync() const {
  std::lock_guard lock(fw_->mutex());
  return last_sync_;
}

}  // namespace zelvo::sim
