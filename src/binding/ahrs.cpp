// The AHRS module: attitude estimates, filter settings and checks.
#include "binding/modules.hpp"
#include "binding/ops.hpp"
#include "zelvo/analog/ahrs_module.hpp"

namespace zelvo::py {

void bindAHRSModule(nb::handle cls) {
  using A = AHRSModule;
  defOp<&A::open>(cls, "AHRS_open", {"port"},
                  "Opens the sensor and, when that succeeded, sets the fusion filter's defaults (gravity 9.81, "
                  "sampling period 0.003 s, z offset 0.001); 0 or a negative firmware error code.");
  defOp<&A::start>(cls, "AHRS_start", {"port"}, "Starts the sensor fusion (no reply is awaited); returns 0.");
  defOp<&A::stop>(cls, "AHRS_stop", {"port"}, "Stops the sensor fusion; 0 or a negative firmware error code.");
  defOp<&A::close>(cls, "AHRS_close", {"port"}, "Closes the sensor; 0 or a negative firmware error code.");
  defOp<&A::reset>(cls, "AHRS_reset", {"port"}, "Resets the firmware's sensor state; 0 or a negative firmware error code.");
  defOp<&A::getOrientation>(cls, "AHRS_getOrientation", {"port"},
                            "Roll, pitch and yaw in degrees, rounded to 4 decimals.");
  defOp<&A::getAcceleration>(cls, "AHRS_getAcceleration", {"port"},
                             "The three acceleration values, rounded to 4 decimals.");
  defOp<&A::getAngularVelocity>(cls, "AHRS_getAngularVelocity", {"port"},
                                "The three angular-velocity values, rounded to 4 decimals.");
  defOp<&A::getEstimate>(cls, "AHRS_getEstimate", {"port", "mode"},
                         "The estimates a mode selects: 0 orientation, 1 acceleration, 2 angular velocity, 3 orientation\n"
                         "and acceleration, 4 orientation and angular velocity, 5 angular velocity and acceleration,\n"
                         "6 all three; 3, 6 or 9 values, orientation first and in degrees, each rounded to 4 decimals.");
  defOp<&A::setSamplingPeriod>(cls, "_AHRS_setSamplingPeriod", {"port", "sampling_period"},
                               "_AHRS_setGeneral with gravity 9.81, this period (s) and z offset 0.001.");
  defOp<&A::setGeneral>(cls, "_AHRS_setGeneral", {"port", "gravity", "dt", "z_offset"},
                        "Fusion filter settings: gravity, sampling period (s), z offset; 0 or a negative code.");
  defOp<&A::setTau>(cls, "_AHRS_VQF_setTau", {"port", "accelerator_decay_time", "magnetometer_decay_time"},
                    "The fusion filter's time constants (s); 0 or a negative firmware error code.");
  defCheck<&A::checkPort>(cls, "_checkAHRSPort", {"port"}, "AHRSPortNotAvaliableError unless the port has the sensor.");
  defCheck<&A::checkMode>(cls, "_checkAHRSMode", {"mode"}, "AHRSModeNotAvaliableError unless the mode is 0 to 6.");
  defCheck<&A::modeToMask>(cls, "_convertModeToMask", {"mode"},
                           "The estimate mask of a mode: 1, 16, 4, 17, 5, 20, 21 for 0..6, 21 for any other.");
  defCheck<&A::droppedStreamPackets>(cls, "AHRS_getDroppedStreamPackets", {},
                                     "Packets the device streamed under AHRS_START that were dropped because nothing\n"
                                     "reads them and their bounded queue was full.");
}

}  // namespace zelvo::py
