// The I2C module's operations and checks.
#include "binding/pyconv.hpp"
#include "binding/modules.hpp"
#include "binding/ops.hpp"
#include "zelvo/bus/i2c_module.hpp"

namespace zelvo::py {

void bindI2CModule(nb::handle cls) {
  using I = I2CModule;
  defOp<&I::open>(cls, "I2C_open", {"port"},
                  "Opens the I2C port after checking that its pins are free (Idle, DI or DO); 0 or a negative "
                  "firmware error code.");
  defOp<&I::close>(cls, "I2C_close", {"port"}, "Closes the I2C port; 0 or a negative code.");
  defOp<&I::reset>(cls, "I2C_reset", {"port"}, "Returns the port to its default settings; 0 or a negative code.");
  defOp<&I::setClockRate>(cls, "I2C_setClockRate", {"port", "mode"},
                          "Clock rate: 0 standard (100 kHz), 1 fast (400 kHz), 2 fast plus (1 MHz), 3 high speed "
                          "(3.4 MHz); the frequency in hertz is sent. 0 or a negative code.");
  defOp<&I::setAddressSize>(cls, "I2C_setAddressSize", {"port", "mode"},
                            "Address size: 0 for 7-bit, 1 for 10-bit addresses; 0 or a negative code.");
  defOp<&I::write>(cls, "I2C_write", {"port", "write_address", "write_data"},
                   "Writes the bytes (at most 255) to the slave address; 0 or a negative code. Sent once: a "
                   "copy would write again.");
  defOp<&I::read>(cls, "I2C_read", {"port", "read_address", "bytes_to_read"},
                  "Reads bytes_to_read bytes (0..255) from the slave address: the reply from element 3 on (the "
                  "firmware status is not examined). Sent once: a copy would read on.");
  defCheck<&I::pinMap>(cls, "I2C_getPinMap", {}, "The I2C pin map: port -> [(device port, pin), ...].");
  defCheck<&I::checkPort>(cls, "_checkI2CPort", {"port"}, "True, or I2CPortNotAvaliableError when the map has no such port.");
  defCheck<&I::checkClockRate>(cls, "_checkI2CClockRate", {"mode"}, "True, or I2CClockNotSupportError unless 0..3.");
  defCheck<&I::checkAddressSize>(cls, "_checkI2CAddressSize", {"mode"},
                                 "True, or I2CAddressSizeNotVaildError unless 0 or 1.");
  defCheck<&I::pinMapPorts>(cls, "_I2C_getPinMapPort", {"port"}, "The device ports that carry the I2C port's pins.");
  defOp<&I::checkPinState>(cls, "_checkI2CPinState", {"port", "modes"},
                           "True when every pin of the I2C port is in one of the modes, else I2CPortNotAvaliableError.");
}

}  // namespace zelvo::py
