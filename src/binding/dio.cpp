// The digital I/O module's operations and checks.
#include "binding/modules.hpp"
#include "binding/ops.hpp"
#include "zelvo/dio/dio_module.hpp"

namespace zelvo::py {
namespace {

void bindChecks(nb::handle cls) {
  using D = DIOModule;
  defCheck<&D::checkDIPort>(cls, "_checkDIPort", {"port"}, "True, or DIPortNotAvaliableError when the input map has no such port.");
  defCheck<&D::checkDOPort>(cls, "_checkDOPort", {"port"}, "True, or DOPortNotAvaliableError when the output map has no such port.");
  defCheck<&D::checkDIPortAndPin>(cls, "_checkDIPortAndPin", {"port", "pin"},
                                  "True, or DIPortNotAvaliableError / PinsNotExistError when the input map lacks the port or a pin.");
  defCheck<&D::checkDOPortAndPin>(cls, "_checkDOPortAndPin", {"port", "pin"},
                                  "True, or DOPortNotAvaliableError / PinsNotExistError when the output map lacks the port or a pin.");
  defCheck<&pinIndexMask>(cls, "_getPinIndexInInt", {"pin"}, "The pin selection as a bitmask (PinsNotExistError for negative pins).");
  defCheck<&pinIndexList>(cls, "_getPinIndexInList", {"pin"},
                          "The pin selection as a list of indices (PinsNotExistError for negative pins).");
}

void bindLowLevel(nb::handle cls) {
  using D = DIOModule;
  defOp<&D::setDIOCurrent>(cls, "_setDIOCurrent", {"port", "mask", "enabled", "direction", "state"},
                           "Sets enabled, direction and state of the masked pins; 0 or a negative firmware error code.");
  defOp<&D::getDIOCurrent>(cls, "_getDIOCurrent", {"port", "mask"},
                           "(enabled, direction, state) of the masked pins, one level per pin each.");
  defOp<&D::saveStartup>(cls, "_DIO_saveStartup", {"port", "enabled", "direction", "state"},
                         "Stores the port's start-up configuration; 0 or a negative firmware error code.");
  defOp<&D::getDIOState>(cls, "_getDIOState", {"port", "mask"}, "The state of the masked pins, one level per pin.");
  defOp<&D::setDIOState>(cls, "_setDIOState", {"port", "mask", "state"},
                         "Sets the state of the masked pins without driving them; 0 or a negative code.");
  defOp<&D::toggleDIODirection>(cls, "_toggleDIODirection", {"port", "mask", "state"},
                                "Reverses the direction of the masked pins; 0 or a negative firmware error code.");
  defOp<&D::readAndGetDI>(cls, "_readAndGetDI", {"port", "mask"}, "Samples the masked inputs; the port's levels.");
  defOp<&D::setAndWriteDO>(cls, "_setAndWriteDO", {"port", "mask", "state"},
                           "Sets and drives the masked outputs; the port's output levels.");
  defOp<&D::toggleAndWriteDO>(cls, "_toggleAndWriteDO", {"port", "mask"},
                              "Inverts and drives the masked outputs; the port's output levels.");
  defOp<&D::readDI>(cls, "_readDI", {"port"}, "Samples the port's inputs into its state; 0 or a negative code.");
  defOp<&D::writeDO>(cls, "_writeDO", {"port"}, "Drives the port's outputs from its state; 0 or a negative code.");
  defOp<&D::setPortIdle>(cls, "_DIO_setPortIdle", {"port"}, "Releases the whole port; 0 or a negative code.");
  defOp<&D::setPortDI>(cls, "_DIO_setPortDI", {"port"}, "Makes the whole port inputs; 0 or a negative code.");
  defOp<&D::setPortDO>(cls, "_DIO_setPortDO", {"port"}, "Makes the whole port outputs; 0 or a negative code.");
  defOp<&D::closeDIOInPins>(cls, "_closeDIOInPins", {"port", "mask"}, "Disables the masked pins; 0 or a negative code.");
  defOp<&D::closeDIOInPort>(cls, "_closeDIOInPort", {"port"}, "Disables every pin of the port; 0 or a negative code.");
}

}  // namespace

void bindDIOModule(nb::handle cls) {
  using D = DIOModule;
  defOp<&D::openDIPins>(cls, "DI_openPins", {"port", "pin"},
                        "Opens pins (index list or bitmask) as inputs after checking their modes; 0 or a negative "
                        "firmware error code. Does nothing on models with fixed directions.");
  defOp<&D::openDIPort>(cls, "DI_openPort", {"port"}, "Opens every input pin of the port; 0 or a negative code.");
  defOp<&D::closeDIPins>(cls, "DI_closePins", {"port", "pin"}, "Disables input pins; 0 or a negative code.");
  defOp<&D::closeDIPort>(cls, "DI_closePort", {"port"}, "Disables every pin of an input port; 0 or a negative code.");
  defOp<&D::readDIPins>(cls, "DI_readPins", {"port", "pin"}, "The levels of the pins, in the order requested.");
  defOp<&D::readDIPort>(cls, "DI_readPort", {"port"}, "The levels of every pin of the port, pin 0 first.");
  defOp<&D::openDOPins>(cls, "DO_openPins", {"port", "pin"},
                        "Opens pins as outputs driven low after checking their modes; 0 or a negative firmware "
                        "error code. Does nothing on models with fixed directions.");
  defOp<&D::openDOPort>(cls, "DO_openPort", {"port"}, "Opens every output pin of the port; 0 or a negative code.");
  defOp<&D::closeDOPins>(cls, "DO_closePins", {"port", "pin"}, "Disables output pins; 0 or a negative code.");
  defOp<&D::closeDOPort>(cls, "DO_closePort", {"port"}, "Disables every pin of an output port; 0 or a negative code.");
  defOp<&D::writeDOPins>(cls, "DO_writePins", {"port", "pin", "value"},
                         "Drives pins: a list of levels for a list of pins, or a level word for a bitmask. Returns 0.");
  defOp<&D::writeDOPort>(cls, "DO_writePort", {"port", "value"},
                         "Drives the whole port: a level word, or a list of levels from pin 0 on. Returns 0.");
  defOp<&D::toggleDOPins>(cls, "DO_togglePins", {"port", "pin"},
                          "Inverts output pins; the port's output levels afterwards.");
  defOp<&D::toggleDOPort>(cls, "DO_togglePort", {"port"}, "Inverts every output of the port; its levels afterwards.");
  defOp<&D::loadStartup>(cls, "DIO_loadStartup", {"port"},
                         "The start-up configuration stored in the device: (enabled, direction, state) lists.");
  constexpr std::array<const char*, 0> kNoArguments{};
  defOp<&D::getDIPinMap>(cls, "DI_getPinMap", kNoArguments, "The input pin map: port -> pin indices.");
  defOp<&D::getDOPinMap>(cls, "DO_getPinMap", kNoArguments, "The output pin map: port -> pin indices.");
  bindLowLevel(cls);
  bindChecks(cls);
}

}  // namespace zelvo::py
