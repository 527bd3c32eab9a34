// The analog-output modules: the basic level, waveform generation and the buffer service.
#include "binding/modules.hpp"
#include "binding/ops.hpp"
#include "zelvo/analog/ao_module.hpp"

namespace zelvo::py {

// AO_openStreaming's answer as [mode, sampling rate].
template <>
struct Result<AOStreamingState> {
  static constexpr const char* pyName = "list[int | float]";
  static nb::object to(const AOStreamingState& s) {
    nb::list out;
    out.append(s.mode);
    out.append(s.rate);
    return out;
  }
};

namespace {

using A = AOModule;
const nb::object kRequired;

// What every analog-output product has: open, close, writes, the generator and buffer service,
// and the checks.
void bindBasic(nb::handle cls) {
  defOp<&A::open>(cls, "AO_open", {"port"},
                  "Opens the outputs of the port (Aeris-R3-AOD: after checking its pins are Idle); 0 or a negative "
                  "firmware error code. Tavra-O and Koru: returns 0 without a request.");
  defOp<&A::close>(cls, "AO_close", {"port"},
                   "Closes the outputs of the port; 0 or a negative code. Tavra-O and Koru: returns 0 without a "
                   "request.");
  defOp<&A::writeOneChannel>(cls, "AO_writeOneChannel", {"port", "channel", "value"},
                             "Sets one channel (0..7) to `value` volts (within ao_volt_min..ao_volt_max, else\n"
                             "InputDataNotInRangeError); 0 or a negative firmware error code.");
  defOp<&A::writeAllChannels>(cls, "AO_writeAllChannels", {"port", "value_list"},
                              "Sets all eight channels at once: the values (volts, each checked against the range)\n"
                              "padded with 0 or cut to eight; 0 or a negative firmware error code.");
  defOp<&A::checkPinState>(cls, "_checkAOPinState", {"port", "allow_state"},
                           "True when every analog-output pin is in one of the allowed modes, else AOPortNotAvaliableError.");
  defOp<&A::getMode>(cls, "_AO_getMode", {"port"}, "The generation mode (0 on demand, 1 N samples, 2 continuous); None on Koru.");
  defOp<&A::getState>(cls, "_AO_getState", {"port"}, "The generator state (0 idle, 1 stand-by, 2 running); None on Koru.");
  defOp<&A::getCounters>(cls, "_AO_getCounters", {"port"}, "[interrupt counter, SPI counter] of the generator; None on Koru.");
  defOp<&A::initialBuffer>(cls, "_AO_initialBuffer", {"port"},
                           "Empties the device's value buffer: [32-bit count, flag byte] as the device reports them; "
                           "None on Koru.");
  defOp<&A::pushToBuffer>(cls, "_AO_pushToBuffer", {"port", "num_of_val", "value_list"},
                          "Appends num_of_val values (0..13, one USB packet; exactly len(value_list), ints or floats)\n"
                          "to the device's buffer, else InputDataNotInRangeError before anything is sent. Sent once:\n"
                          "every copy would append again. 0 or a negative firmware error code.");
  defOp<&A::setSpan>(cls, "_AO_setSpan", {"port", "span"},
                     "Output span: 0 0..5 V, 1 0..10 V, 2 +-5 V, 3 +-10 V, 4 +-2.5 V; sent as [port, span]. 0 or a\n"
                     "negative firmware error code; None on Koru.");
  defOp<&A::stopStreaming>(cls, "_AO_stopStreaming", {"port"},
                           "Stops waveform generation (stand-by); 0 or a negative code; None on Koru.");
  defCheck<&A::getPort>(cls, "AO_getPort", {}, "The analog-output port numbers.");
  defCheck<&A::pinMapPorts>(cls, "_AO_getPinMapPort", {}, "The device ports that carry analog-output pins.");
  defCheck<&A::checkPort>(cls, "_checkAOPort", {"port"}, "AOPortNotAvaliableError unless the port has analog outputs.");
  defCheck<&A::checkMode>(cls, "_checkAOMode", {"mode"}, "AOModeNotVaildError unless the mode is 0, 1 or 2.");
  defCheck<&A::checkSpan>(cls, "_checkAOSpan", {"span"}, "AOSpanNotVaildError unless the span is 0 to 4.");
  defCheck<&A::checkChannel>(cls, "_checkAOChannel", {"channel"}, "AOChannelNotAvaliableError unless 0 to 7.");
  defCheck<&A::checkForm>(cls, "_checkAOForm", {"form"},
                          "AOFormNotAvaliableError unless 1 (rectangle), 2 (triangle) or 3 (sine).");
  defCheck<&A::checkSamplingRate>(cls, "_ckeckAOSamplingRate", {"sampling_rate"},
                                  "AORateNotVaildError unless 0 < rate <= ao_rate.");
  defCheck<&A::checkNumOfValues>(cls, "_checkAONumOfValues", {"num_of_val"},
                                 "Whether num_of_val values fit in one buffer push (at most 13).");
  defCheck<&A::droppedStreamPackets>(cls, "AO_getDroppedStreamPackets", {},
                                     "Packets the device streamed under START_AO_STREAMING that were dropped because\n"
                                     "nothing reads them and their bounded queue was full.");
}

}  // namespace

void bindAOModule(nb::handle cls) { bindBasic(cls); }

void bindAOStreamingModule(nb::handle cls) {
  bindBasic(cls);
  defOp<&A::openStreaming>(cls, "AO_openStreaming", {"port"},
                           "Prepares waveform generation (stand-by): [mode, sampling rate] as the device has them.");
  OpSignature<1> start({"port"});
  start.timeout = false;
  defOpWith<&A::startStreaming>(cls, "AO_startStreaming", start, "Starts waveform generation (no reply is awaited); returns 0.");
  defOp<&A::closeStreaming>(cls, "AO_closeStreaming", {"port"}, "Ends waveform generation (idle); 0 or a negative code.");
  defOp<&A::setMode>(cls, "AO_setMode", {"port", "mode"}, "0 on demand, 1 N samples, 2 continuous; 0 or a negative code.");
  defOp<&A::setSamplingRate>(cls, "AO_setSamplingRate", {"port", "sampling_rate"},
                             "Generation rate in Hz (0 < rate <= ao_rate, else AORateNotVaildError).");
  defOp<&A::setNumSamples>(cls, "AO_setNumSamples", {"port", "num_samples"},
                           "Samples of an N-samples generation (0..2**32-1, else InputDataNotInRangeError).");
  defOp<&A::setEnableChannels>(cls, "AO_setEnableChannels", {"port", "channel_list"},
                               "Generates on the listed channels (0..7) only; 0 or a negative firmware error code.");
  defOp<&A::setForm>(cls, "AO_setForm", {"port", "channel", "form"},
                     "A channel's waveform: 1 rectangle, 2 triangle, 3 sine; 0 or a negative firmware error code.");
  OpSignature<7> param({"port", "channel", "amplitude", "offset", "frequency", "phase", "duty_cycle"});
  param.defaults = {kRequired, kRequired, kRequired, kRequired, kRequired, nb::int_(0), nb::float_(0.5)};
  defOpWith<&A::setFormParam>(cls, "AO_setFormParam", param,
                              "A channel's waveform parameters: amplitude and offset (V), frequency (Hz), phase,\n"
                              "duty_cycle (a fraction); 0 or a negative firmware error code.");
  defOp<&A::getValues>(cls, "AO_getValues", {"port"}, "The present output of the eight channels, volts.");
}

}  // namespace zelvo::py
