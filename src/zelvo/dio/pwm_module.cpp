#include "zelvo/dio/pwm_module.hpp"

#include "zelvo/dio/timer_wire.hpp"

namespace zelvo {

PWMModule::PWMModule(Device&) {}

bool PWMModule::checkChannel(int channel) {
  if (channel < 0 || channel >= kChannels) throw Error(Err::PWMChannelNotAvaliableError);
  return true;
}

Op<int> PWMModule::open(Call& call, int channel) {
  return channelCommand(call, &checkChannel, OPEN_PWM, channel, "PWM_open");
}

Op<int> PWMModule::start(Call& call, int channel) {
  return channelCommand(call, &checkChannel, START_PWM, channel, "PWM_start");
}

Op<int> PWMModule::stop(Call& call, int channel) {
  return channelCommand(call, &checkChannel, STOP_PWM, channel, "PWM_stop");
}

Op<int> PWMModule::close(Call& call, int channel) {
  return channelCommand(call, &checkChannel, CLOSE_PWM, channel, "PWM_close");
}

Op<int> PWMModule::setFrequency(Call& call, int channel, double frequency) {
  return channelRealCommand(call, &checkChannel, SET_PWM_FREQUENCY, channel, frequency,
                            "frequency", "PWM_setFrequency");
}

Op<int> PWMModule::setDutyCycle(Call& call, int channel, double duty_cycle) {
  return channelRealCommand(call, &checkChannel, SET_PWM_DUTY_CYCLE, channel, duty_cycle,
                            "duty_cycle", "PWM_setDutyCycle");
}

}  // namespace zelvo
