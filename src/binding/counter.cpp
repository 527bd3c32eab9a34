// The counter module's operations and check.
#include "binding/modules.hpp"
#include "binding/ops.hpp"
#include "binding/pulse_reading.hpp"
#include "zelvo/dio/counter_module.hpp"

namespace zelvo::py {

void bindCounterModule(nb::handle cls) {
  using C = CounterModule;
  defOp<&C::open>(cls, "Counter_open", {"channel"}, "Opens a counter channel (0 or 1); 0 or a negative firmware error code.");
  defOp<&C::start>(cls, "Counter_start", {"channel"}, "Starts counting; 0 or a negative firmware error code.");
  defOp<&C::stop>(cls, "Counter_stop", {"channel"}, "Stops counting (the count is kept); 0 or a negative code.");
  defOp<&C::close>(cls, "Counter_close", {"channel"}, "Closes the channel; 0 or a negative firmware error code.");
  defOp<&C::setEdge>(cls, "Counter_setEdge", {"channel", "edge"},
                     "Counts rising edges for edge >= 1, else falling edges; 0 or a negative code.");
  defOp<&C::setPosition>(cls, "Counter_setPosition", {"channel", "position"},
                         "Presets the count, 0 <= position < 2**48 (sent once); 0 or a negative code.");
  defOp<&C::setFreqWindow>(cls, "Counter_setFreqWindow", {"channel", "window_size"},
                           "Sets the window the frequency is measured over, in milliseconds (default 100, minimum 20).");
  defOp<&C::read>(cls, "_Counter_read", {"channel"}, "[position, frequency in hertz] of the channel.");
  defOp<&C::readPosition>(cls, "Counter_readPosition", {"channel"}, "The count of the channel (48-bit, unsigned).");
  defOp<&C::readFrequency>(cls, "Counter_readFrequency", {"channel"},
                           "The input frequency in hertz, measured over the window.");
  defCheck<&C::checkChannel>(cls, "_checkCounterChannel", {"channel"},
                             "True, or CounterChannelNotAvaliableError unless the channel is 0 or 1.");
}

}  // namespace zelvo::py
