#include "zelvo/system/sntp_module.hpp"

#include <cmath>
#include <limits>

#include "zelvo/core/reply.hpp"
#include "zelvo/core/status_exchange.hpp"
#include "zelvo/system/address_text.hpp"

namespace zelvo {
namespace {

constexpr std::size_t kStatusAt = 0;
// Server-address requests and replies start with a byte before the address.
constexpr Byte kServerLead = 0;
constexpr std::size_t kServerAt = 1;
constexpr std::size_t kPeriodBytes = 4;

}  // namespace

SNTPModule::SNTPModule(Device&) {}

Op<int> SNTPModule::syncNow(Call& call) {
  co_return co_await echoStatus(call, SNTP_SYNC_NOW, {}, kStatusAt, "SNTP_syncNow");
}

Op<std::string> SNTPModule::getSyncStatus(Call& call) {
  const Bytes r = co_await call.echo(SNTP_GET_SYNC_STATUS, {});
  co_return decodeText(Reply(r, "SNTP_getSyncStatus").from(kServerAt));
}

Op<std::string> SNTPModule::getServerIP(Call& call) {
  const Bytes r = co_await call.echo(SNTP_GET_SERVER_IP, payloadOf(kServerLead));
  co_return dottedQuad(Reply(r, "SNTP_getServerIP").span(kServerAt, kIPv4Bytes));
}

Op<int> SNTPModule::setServerIP(Call& call, std::string ip_addr) {
  Bytes payload = payloadOf(kServerLead);
  const Bytes ip = ipv4Bytes(ip_addr, "ip_addr");
  payload.insert(payload.end(), ip.begin(), ip.end());
  co_return co_await echoStatus(call, SNTP_SET_SERVER_IP, std::move(payload), kStatusAt, "SNTP_setServerIP");
}

Op<double> SNTPModule::getPeriod(Call& call) {
  const Bytes r = co_await call.echo(SNTP_GET_SYNC_PERIOD, {});
  co_return static_cast<double>(readF32BE(Reply(r, "SNTP_getPeriod").exactly(kPeriodBytes)));
}

Op<int> SNTPModule::setPeriod(Call& call, double period) {
  if (!std::isfinite(period) || std::fabs(period) > std::numeric_limits<float>::max())
    throw Error(Err::InputDataNotInRangeError, "period must be a finite 32-bit float.");
  Bytes payload;
  appendF32BE(payload, period);
  co_return co_await echoStatus(call, SNTP_SET_SYNC_PERIOD, std::move(payload), kStatusAt, "SNTP_setPeriod");
}

}  // namespace zelvo
