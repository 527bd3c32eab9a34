// AOModule: waveform generation and the generator and buffer service operations.
#include "zelvo/analog/ao_module.hpp"

#include "zelvo/core/reply.hpp"
#include "zelvo/core/routing.hpp"
#include "zelvo/system/system_module.hpp"

namespace zelvo {
namespace {

constexpr std::size_t kFieldAt = 1;   // mode, state, first counter byte, buffer count
constexpr std::size_t kValuesAt = 2;  // rate, output values
constexpr std::size_t kF32 = 4;
constexpr std::size_t kU32 = 4;
constexpr std::size_t kCounters = 2;                    // interrupts, converter writes
constexpr std::size_t kBufferFlagAt = kFieldAt + kU32;  // the byte after the buffer count
constexpr int kReserved = 0;  // the byte the generator settings carry after the port

}  // namespace

Op<AOStreamingState> AOModule::openStreaming(Call& call, int port) {
  checkPort(port);
  const Bytes r = co_await call.echo(OPEN_AO_STREAMING, payloadOf(port));
  const Reply reply(r, "AO_openStreaming");
  co_return AOStreamingState{reply.at(kFieldAt), readF32BE(reply.span(kValuesAt, kF32))};
}

Op<int> AOModule::startStreaming(Call& call, int port) {
  checkPort(port);
  call.sendOnly(START_AO_STREAMING, payloadOf(port));
  co_return 0;
}

Op<int> AOModule::closeStreaming(Call& call, int port) {
  checkPort(port);
  co_return co_await statusOf(call, CLOSE_AO_STREAMING, payloadOf(port), "AO_closeStreaming");
}

Op<int> AOModule::setMode(Call& call, int port, int mode) {
  checkPort(port);
  checkMode(mode);
  co_return co_await statusOf(call, SET_AO_MODE, payloadOf(port, mode), "AO_setMode");
}

Op<int> AOModule::setSamplingRate(Call& call, int port, double sampling_rate) {
  checkPort(port);
  checkSamplingRate(sampling_rate);
  Bytes payload = payloadOf(port);
  appendF32BE(payload, sampling_rate);
  co_return co_await statusOf(call, SET_AO_SAMPLING_RATE, std::move(payload), "AO_setSamplingRate");
}

Op<int> AOModule::setNumSamples(Call& call, int port, std::int64_t num_samples) {
  checkPort(port);
  Bytes payload = payloadOf(port);
  appendBE(payload, unsignedField<std::uint32_t>(num_samples, "num_samples"));
  co_return co_await statusOf(call, SET_AO_NUM_SAMPLES, std::move(payload), "AO_setNumSamples");
}

Op<int> AOModule::setEnableChannels(Call& call, int port, std::vector<std::int64_t> channels) {
  port = wirePort(port);
  checkPort(port);
  int mask = 0;
  for (std::int64_t ch : channels) {
    if (ch < 0 || ch >= kAOChannels) throw Error(Err::AOChannelNotAvaliableError);
    mask |= 1 << ch;
  }
  co_return co_await statusOf(call, SET_AO_ENABLED_CHANNELS, payloadOf(port, kReserved, mask), "AO_setEnableChannels");
}

Op<int> AOModule::setForm(Call& call, int port, int channel, int form) {
  checkPort(port);
  checkChannel(channel);
  checkForm(form);
  co_return co_await statusOf(call, SET_AO_FORM, payloadOf(port, kReserved, channel, form), "AO_setForm");
}

Op<int> AOModule::setFormParam(Call& call, int port, int channel, double amplitude, double offset, double frequency,
                               double phase, double duty_cycle) {
  checkPort(port);
  checkChannel(channel);
  Bytes payload = payloadOf(port, kReserved, channel);
  appendF32Field(payload, amplitude, "amplitude");
  appendF32Field(payload, offset, "offset");
  appendF32Field(payload, frequency, "frequency");
  appendF32Field(payload, phase, "phase");
  appendF32Field(payload, duty_cycle, "duty_cycle");
  co_return co_await statusOf(call, SET_AO_FORM_PARAM, std::move(payload), "AO_setFormParam");
}

Op<std::vector<double>> AOModule::getValues(Call& call, int port) {
  checkPort(port);
  const Bytes r = co_await call.echo(GET_AO_VALUES, payloadOf(port));
  const ByteView values = Reply(r, "AO_getValues").span(kValuesAt, kAOChannels * kF32);
  std::vector<double> out;
  for (std::size_t i = 0; i < kAOChannels; ++i) out.push_back(readF32BE(values.subspan(i * kF32)));
  co_return out;
}

// --- generator and buffer service ----------------------------------------------------------------

Op<std::optional<int>> AOModule::generatorByte(Call& call, int cmd, int port, const char* operation) {
  if (data_.generator_ops_inert) co_return std::nullopt;
  checkPort(port);
  const Bytes r = co_await call.echo(cmd, payloadOf(port));
  co_return Reply(r, operation).at(kFieldAt);
}

Op<std::optional<int>> AOModule::getMode(Call& call, int port) {
  co_return co_await generatorByte(call, GET_AO_MODE, port, "_AO_getMode");
}

Op<std::optional<int>> AOModule::getState(Call& call, int port) {
  co_return co_await generatorByte(call, GET_AO_STATE, port, "_AO_getState");
}

Op<std::optional<std::vector<std::int64_t>>> AOModule::getCounters(Call& call, int port) {
  if (data_.generator_ops_inert) co_return std::nullopt;
  checkPort(port);
  const Bytes r = co_await call.echo(GET_AO_COUNTERS, payloadOf(port));
  const Reply reply(r, "_AO_getCounters");
  std::vector<std::int64_t> out;
  for (std::size_t i = 0; i < kCounters; ++i) out.push_back(reply.be<std::uint32_t>(kFieldAt + i * kU32));
  co_return out;
}

Op<std::optional<std::vector<std::int64_t>>> AOModule::initialBuffer(Call& call, int port) {
  if (data_.generator_ops_inert) co_return std::nullopt;
  checkPort(port);
  const Bytes r = co_await call.echo(INIT_AO_BUFFER, payloadOf(port));
  const Reply reply(r, "_AO_initialBuffer");
  std::vector<std::int64_t> out;
  out.push_back(reply.be<std::uint32_t>(kFieldAt));
  out.push_back(reply.at(kBufferFlagAt));
  co_return out;
}

Op<int> AOModule::pushToBuffer(Call& call, int port, int num_of_val, std::vector<double> values) {
  port = wirePort(port);
  checkPort(port);
  if (num_of_val < 0 || !checkNumOfValues(num_of_val))
    throw Error(Err::InputDataNotInRangeError, "num_of_val is 0.." + std::to_string(kAOMaxPushValues) + ", not " +
                                                   std::to_string(num_of_val) + ".");
  if (values.size() != static_cast<std::size_t>(num_of_val))
    throw Error(Err::InputDataNotInRangeError, "value_list holds " + std::to_string(values.size()) +
                                                   " values, num_of_val says " + std::to_string(num_of_val) + ".");
  Bytes payload = payloadOf(port, kReserved, num_of_val);
  for (double v : values) appendF32Field(payload, v, "value_list");
  co_return co_await statusOf(call, SET_AO_PUSH_TO_BUFFER, std::move(payload), "_AO_pushToBuffer");
}

Op<std::optional<int>> AOModule::setSpan(Call& call, int port, int span) {
  if (data_.generator_ops_inert) co_return std::nullopt;
  checkPort(port);
  checkSpan(span);
  // The span travels after the port: without it the device would report success for a span it
  // never received.
  co_return co_await statusOf(call, SET_AO_SPAN, payloadOf(port, span), "_AO_setSpan");
}

Op<std::optional<int>> AOModule::stopStreaming(Call& call, int port) {
  if (data_.generator_ops_inert) co_return std::nullopt;
  checkPort(port);
  co_return co_await statusOf(call, STOP_AO_STREAMING, payloadOf(port), "_AO_stopStreaming");
}

}  // namespace zelvo
