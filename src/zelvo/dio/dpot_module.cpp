#include "zelvo/dio/dpot_module.hpp"

#include "zelvo/core/reply.hpp"
#include "zelvo/dio/timer_wire.hpp"

namespace zelvo {
namespace {

constexpr std::size_t kValueIndex = 2;

}  // namespace

DPOTModule::DPOTModule(Device&) {}

bool DPOTModule::checkPort(int port) {
  if (port != kPort) throw Error(Err::DPOTPortNotAvaliableError);
  return true;
}

bool DPOTModule::checkChannelAmount(std::int64_t value) {
  if (value < 0 || value > kMaxChannelAmount) throw Error(Err::DPOTChannelNotAvaliableError);
  return true;
}

Op<int> DPOTModule::open(Call&, int port) {
  checkPort(port);
  co_return 0;
}

Op<int> DPOTModule::close(Call&, int port) {
  checkPort(port);
  co_return 0;
}

Op<int> DPOTModule::writeByChannel(Call& call, int port, int channel, double resistance_ratio) {
  checkPort(port);
  checkChannelAmount(channel);
  Bytes payload = payloadOf(port, channel);
  appendF32Field(payload, resistance_ratio, "resistance_ratio");
  co_return co_await statusCommand(call, POT_WRITE_BY_CS, std::move(payload), "DPOT_writeByChannel");
}

Op<std::int64_t> DPOTModule::readByChannel(Call& call, int port, int channel) {
  checkPort(port);
  checkChannelAmount(channel);
  const Bytes r = co_await call.echo(POT_READ, payloadOf(port, channel));
  co_return Reply(r, "DPOT_readByChannel").be<std::uint32_t>(kValueIndex);
}

Op<int> DPOTModule::writeAllChannel(Call& call, int port, std::vector<double> resistance_ratio) {
  checkPort(port);
  checkChannelAmount(static_cast<std::int64_t>(resistance_ratio.size()));
  Bytes payload = payloadOf(port);
  for (double ratio : resistance_ratio) appendF32Field(payload, ratio, "resistance_ratio");
  co_return co_await statusCommand(call, POT_WRITE_ALL_CS, std::move(payload), "DPOT_writeAllChannel");
}

}  // namespace zelvo
