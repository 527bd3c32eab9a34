#include "zelvo/dio/encoder_module.hpp"

namespace zelvo {
namespace {

constexpr int kOnlyChannel = 0;
constexpr int kForward = 1;
constexpr int kReverse = 255;  // -1 as an unsigned byte
constexpr std::size_t kDirectionIndex = 1;

}  // namespace

EncoderModule::EncoderModule(Device&) {}

bool EncoderModule::checkIndex(int channel) {
  if (channel != kOnlyChannel) throw Error(Err::EncoderChannelNotAvaliableError);
  return true;
}

Op<int> EncoderModule::open(Call& call, int channel) {
  return channelCommand(call, &checkIndex, ENCODER_OPEN, channel, "Encoder_open");
}

Op<int> EncoderModule::start(Call& call, int channel) {
  return channelCommand(call, &checkIndex, ENCODER_START, channel, "Encoder_start");
}

Op<int> EncoderModule::stop(Call& call, int channel) {
  return channelCommand(call, &checkIndex, ENCODER_STOP, channel, "Encoder_stop");
}

Op<int> EncoderModule::close(Call& call, int channel) {
  return channelCommand(call, &checkIndex, ENCODER_CLOSE, channel, "Encoder_close");
}

Op<int> EncoderModule::setPosition(Call& call, int channel, std::int64_t position) {
  checkIndex(channel);
  Bytes payload = payloadOf(channel);
  appendSignedPosition(payload, position);
  co_return co_await statusCommand(call, ENCODER_SET_VALUE, std::move(payload), "Encoder_setPosition");
}

Op<int> EncoderModule::setDirection(Call& call, int channel, std::int64_t direction) {
  checkIndex(channel);
  co_return co_await statusCommand(call, ENCODER_SET_DIR, payloadOf(channel, direction >= 1 ? kForward : kReverse),
                                   "Encoder_setDirection");
}

Op<int> EncoderModule::setFreqWindow(Call& call, int channel, double window_size) {
  return channelRealCommand(call, &checkIndex, ENCODER_SET_FRQ_WINDOW, channel, window_size,
                            "window_size", "Encoder_setFreqWindow");
}

Op<int> EncoderModule::getDirection(Call& call, int channel) {
  checkIndex(channel);
  const Bytes r = co_await call.echo(ENCODER_GET_DIR, payloadOf(channel));
  co_return Reply(r, "Encoder_getDirection").at(kDirectionIndex);
}

Op<PulseReading> EncoderModule::read(Call& call, int channel) {
  checkIndex(channel);
  const Bytes r = co_await call.echo(ENCODER_READ, payloadOf(channel));
  co_return decodeSignedReading(Reply(r, "_Encoder_read"));
}

Op<std::int64_t> EncoderModule::readPosition(Call& call, int channel) {
  co_return (co_await read(call, channel)).position;
}

Op<double> EncoderModule::readFrequency(Call& call, int channel) {
  co_return (co_await read(call, channel)).frequency;
}

}  // namespace zelvo
