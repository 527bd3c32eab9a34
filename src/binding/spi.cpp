// The SPI module's operations and checks.
#include "binding/pyconv.hpp"
#include "binding/modules.hpp"
#include "binding/ops.hpp"
#include "zelvo/bus/spi_module.hpp"

namespace zelvo::py {

void bindSPIModule(nb::handle cls) {
  using S = SPIModule;
  defOp<&S::open>(cls, "SPI_open", {"port"},
                  "Opens the SPI port after checking that its pins are free (Idle, DI or DO); 0 or a negative "
                  "firmware error code.");
  defOp<&S::close>(cls, "SPI_close", {"port"}, "Closes the SPI port; 0 or a negative code.");
  defOp<&S::reset>(cls, "SPI_reset", {"port"}, "Returns the port to its default settings; 0 or a negative code.");
  defOp<&S::setDataSize>(cls, "SPI_setDataSize", {"port", "mode"}, "0 for 8-bit, 1 for 16-bit data; 0 or a negative code.");
  defOp<&S::setFirstBit>(cls, "SPI_setFirstBit", {"port", "mode"},
                         "0 most significant bit first, 1 least significant first; 0 or a negative code.");
  defOp<&S::setPrescaler>(cls, "SPI_setPrescaler", {"port", "prescaler"},
                          "Clock divider: 2, 4, 8, 16, 32, 64, 128 or 256; 0 or a negative code.");
  defOp<&S::setMode>(cls, "SPI_setMode", {"port", "mode"},
                     "Clock mode 0..3 (CPOL, CPHA) = (0, 0), (0, 1), (1, 0), (1, 1): sends CPOL, then CPHA; the "
                     "first non-zero status of the two, 0 when both succeed.");
  defOp<&S::setCPOL>(cls, "_SPI_setCPOL", {"port", "polarity"}, "Sets the clock polarity byte; 0 or a negative code.");
  defOp<&S::setCPHA>(cls, "_SPI_setCPHA", {"port", "phase"}, "Sets the clock phase byte; 0 or a negative code.");
  defOp<&S::write>(cls, "SPI_write", {"port", "write_data"},
                   "Writes the bytes (at most 255, else SPIDataLengthExceedMaxError); 0 or a negative code. Sent "
                   "once.");
  defOp<&S::read>(cls, "SPI_read", {"port", "bytes_to_read"},
                  "Reads bytes_to_read bytes (0..255): the reply from element 2 on. Sent once.");
  defOp<&S::readAndWrite>(cls, "SPI_readAndWrite", {"port", "write_data"},
                          "Writes the bytes and returns those read meanwhile: the reply from element 2 on. Sent once.");
  defCheck<&S::pinMap>(cls, "SPI_getPinMap", {}, "The SPI pin map: port -> [(device port, pin), ...].");
  defCheck<&S::checkPort>(cls, "_checkSPIPort", {"port"}, "True, or SPIPortNotAvaliableError when the map has no such port.");
  defCheck<&S::checkDataSize>(cls, "_checkSPIDataSize", {"mode"}, "True, or SPIDataSizeNotVaildError unless 0 or 1.");
  defCheck<&S::checkFirstBit>(cls, "_checkSPIFirstBit", {"mode"}, "True, or SPIFirstBitNotVaildError unless 0 or 1.");
  defCheck<&S::checkPrescaler>(cls, "_checkSPIPrescaler", {"prescaler"},
                               "True, or SPIPrescalerNotVaildError unless a power of two from 2 to 256.");
  defCheck<&S::checkMode>(cls, "_checkSPIMode", {"mode"}, "True, or SPIModeNotVaildError unless 0..3.");
  defCheck<&S::pinMapPorts>(cls, "_SPI_getPinMapPort", {"port"}, "The device ports that carry the SPI port's pins.");
  defOp<&S::checkPinState>(cls, "_checkSPIPinState", {"port", "allow_state"},
                           "True when every pin of the SPI port is in one of the modes, else SPIPortNotAvaliableError.");
}

}  // namespace zelvo::py
