#include "zelvo/dio/counter_module.hpp"

namespace zelvo {
namespace {

constexpr int kRisingEdge = 1;
constexpr int kFallingEdge = 0;

}  // namespace

CounterModule::CounterModule(Device&) {}

bool CounterModule::checkChannel(int channel) {
  if (channel < 0 || channel >= kChannels) throw Error(Err::CounterChannelNotAvaliableError);
  return true;
}

Op<int> CounterModule::open(Call& call, int channel) {
  return channelCommand(call, &checkChannel, PULSE_OPEN, channel, "Counter_open");
}

Op<int> CounterModule::start(Call& call, int channel) {
  return channelCommand(call, &checkChannel, PULSE_START, channel, "Counter_start");
}

Op<int> CounterModule::stop(Call& call, int channel) {
  return channelCommand(call, &checkChannel, PULSE_STOP, channel, "Counter_stop");
}

Op<int> CounterModule::close(Call& call, int channel) {
  return channelCommand(call, &checkChannel, PULSE_CLOSE, channel, "Counter_close");
}

Op<int> CounterModule::setEdge(Call& call, int channel, std::int64_t edge) {
  checkChannel(channel);
  co_return co_await statusCommand(call, PULSE_SET_EDGE, payloadOf(channel, edge >= 1 ? kRisingEdge : kFallingEdge),
                                   "Counter_setEdge");
}

Op<int> CounterModule::setPosition(Call& call, int channel, std::int64_t position) {
  checkChannel(channel);
  Bytes payload = payloadOf(channel);
  appendUnsignedPosition(payload, position);
  co_return co_await statusCommand(call, PULSE_SET_VALUE, std::move(payload), "Counter_setPosition");
}

Op<int> CounterModule::setFreqWindow(Call& call, int channel, double window_size) {
  return channelRealCommand(call, &checkChannel, PULSE_SET_FRQ_WINDOW, channel, window_size,
                            "window_size", "Counter_setFreqWindow");
}

Op<PulseReading> CounterModule::read(Call& call, int channel) {
  checkChannel(channel);
  const Bytes r = co_await call.echo(PULSE_READ, payloadOf(channel));
  co_return decodeUnsignedReading(Reply(r, "_Counter_read"));
}

Op<std::int64_t> CounterModule::readPosition(Call& call, int channel) {
  co_return (co_await read(call, channel)).position;
}

Op<double> CounterModule::readFrequency(Call& call, int channel) {
  co_return (co_await read(call, channel)).frequency;
}

}  // namespace zelvo
