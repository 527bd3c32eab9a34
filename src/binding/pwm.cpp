// The PWM module's operations and check.
#include "binding/modules.hpp"
#include "binding/ops.hpp"
#include "zelvo/dio/pwm_module.hpp"

namespace zelvo::py {

void bindPWMModule(nb::handle cls) {
  using P = PWMModule;
  defOp<&P::open>(cls, "PWM_open", {"channel"}, "Opens a PWM channel (0 or 1); 0 or a negative firmware error code.");
  defOp<&P::start>(cls, "PWM_start", {"channel"}, "Starts the channel's output; 0 or a negative firmware error code.");
  defOp<&P::stop>(cls, "PWM_stop", {"channel"}, "Stops the channel's output; 0 or a negative firmware error code.");
  defOp<&P::close>(cls, "PWM_close", {"channel"}, "Closes the channel; 0 or a negative firmware error code.");
  defOp<&P::setFrequency>(cls, "PWM_setFrequency", {"channel", "frequency"},
                          "Sets the output frequency in hertz; 0 or a negative firmware error code.");
  defOp<&P::setDutyCycle>(cls, "PWM_setDutyCycle", {"channel", "duty_cycle"},
                          "Sets the duty cycle in percent of the period; 0 or a negative firmware error code.");
  defCheck<&P::checkChannel>(cls, "_checkPWMChannel", {"channel"},
                             "True, or PWMChannelNotAvaliableError unless the channel is 0 or 1.");
}

}  // namespace zelvo::py
