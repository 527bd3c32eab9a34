// The encoder module's operations and check.
#include "binding/modules.hpp"
#include "binding/ops.hpp"
#include "binding/pulse_reading.hpp"
#include "zelvo/dio/encoder_module.hpp"

namespace zelvo::py {

void bindEncoderModule(nb::handle cls) {
  using E = EncoderModule;
  defOp<&E::open>(cls, "Encoder_open", {"channel"}, "Opens the encoder (channel 0); 0 or a negative firmware error code.");
  defOp<&E::start>(cls, "Encoder_start", {"channel"}, "Starts counting; 0 or a negative firmware error code.");
  defOp<&E::stop>(cls, "Encoder_stop", {"channel"}, "Stops counting (the position is kept); 0 or a negative code.");
  defOp<&E::close>(cls, "Encoder_close", {"channel"}, "Closes the encoder; 0 or a negative firmware error code.");
  defOp<&E::setPosition>(cls, "Encoder_setPosition", {"channel", "position"},
                         "Presets the position, -2**47 <= position < 2**47 (sent once); 0 or a negative code.");
  defOp<&E::setDirection>(cls, "Encoder_setDirection", {"channel", "direction"},
                          "Counts forward for direction >= 1, else backward; 0 or a negative firmware error code.");
  defOp<&E::setFreqWindow>(cls, "Encoder_setFreqWindow", {"channel", "window_size"},
                           "Sets the window the frequency is measured over, in milliseconds.");
  defOp<&E::getDirection>(cls, "Encoder_getDirection", {"channel"},
                          "The counting direction as the device reports it: 1 forward, 255 backward.");
  defOp<&E::read>(cls, "_Encoder_read", {"channel"}, "[position, frequency in hertz] of the encoder.");
  defOp<&E::readPosition>(cls, "Encoder_readPosition", {"channel"}, "The position (48-bit, signed).");
  defOp<&E::readFrequency>(cls, "Encoder_readFrequency", {"channel"},
                           "The count frequency in hertz, measured over the window.");
  defCheck<&E::checkIndex>(cls, "_checkEncoderIndex", {"index"},
                           "True, or EncoderChannelNotAvaliableError unless the index is 0.");
}

}  // namespace zelvo::py
