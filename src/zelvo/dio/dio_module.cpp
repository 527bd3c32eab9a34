#include "zelvo/dio/dio_module.hpp"

#include <algorithm>

#include "zelvo/core/reply.hpp"
#include "zelvo/core/status_exchange.hpp"
#include "zelvo/dio/dio_payload.hpp"
#include "zelvo/system/pin_modes.hpp"

namespace zelvo {
namespace {

// Word values: all pins of a port, or none.
constexpr int kAllOn = kWholePort;
constexpr int kAllOff = 0;

}  // namespace

DIOModule::DIOModule(Device& dev, const DIOData& dio) : dev_(dev), dio_(dio) {}

// --- checks --------------------------------------------------------------------------------------

DIOModule::Side DIOModule::inputs() const { return Side{&dio_.di_dict, Err::DIPortNotAvaliableError, "DI", kAllOff}; }
DIOModule::Side DIOModule::outputs() const { return Side{&dio_.do_dict, Err::DOPortNotAvaliableError, "DO", kAllOn}; }

const std::vector<int>& DIOModule::checkPort(const Side& side, int port) const {
  const auto it = side.map->find(port);
  if (it == side.map->end()) throw Error(side.unavailable);
  return it->second;
}

std::vector<int> DIOModule::checkPortAndPins(const Side& side, int port, const PinSelection& pin) const {
  const std::vector<int>& available = checkPort(side, port);
  std::vector<int> indices = pinIndexList(pin);
  for (int i : indices)
    if (std::find(available.begin(), available.end(), i) == available.end())
      throwNoSuchPin("port " + std::to_string(port) + " has no pin " + std::to_string(i));
  return indices;
}

bool DIOModule::checkDIPort(int port) const {
  checkPort(inputs(), port);
  return true;
}

bool DIOModule::checkDOPort(int port) const {
  checkPort(outputs(), port);
  return true;
}

bool DIOModule::checkDIPortAndPin(int port, const PinSelection& pin) const {
  checkPortAndPins(inputs(), port, pin);
  return true;
}

bool DIOModule::checkDOPortAndPin(int port, const PinSelection& pin) const {
  checkPortAndPins(outputs(), port, pin);
  return true;
}

Op<PinMap> DIOModule::getDIPinMap(Call&) { co_return dio_.di_dict; }
Op<PinMap> DIOModule::getDOPinMap(Call&) { co_return dio_.do_dict; }

// --- exchanges -----------------------------------------------------------------------------------

Op<int> DIOModule::statusExchange(Call& call, int cmd, Bytes payload, const char* operation) {
  return echoStatus(call, cmd, std::move(payload), kDioStatusIndex, operation);
}

Op<std::vector<int>> DIOModule::levelsExchange(Call& call, int cmd, Bytes payload, const char* operation) {
  const Bytes r = co_await call.echo(cmd, std::move(payload));
  co_return decodeLevels(Reply(r, operation), kDioFirstWordIndex, numPinsPerPort());
}

Op<DIOWords> DIOModule::configExchange(Call& call, int cmd, Bytes payload, const char* operation) {
  const Bytes r = co_await call.echo(cmd, std::move(payload));
  co_return decodeConfig(Reply(r, operation), numPinsPerPort());
}

// --- low-level operations ------------------------------------------------------------------------
// Coroutines throughout, so that argument errors surface when the operation runs, in both families.

Op<int> DIOModule::setDIOCurrent(Call& call, int port, int mask, int enabled, int direction, int state) {
  co_return co_await statusExchange(call, SET_DIO_CURRENT, portWords(port, mask, enabled, direction, state),
                                    "_setDIOCurrent");
}

Op<DIOWords> DIOModule::getDIOCurrent(Call& call, int port, int mask) {
  co_return co_await configExchange(call, GET_DIO_CURRENT, withFiller(portWords(port, mask)), "_getDIOCurrent");
}

Op<DIOWords> DIOModule::loadStartup(Call& call, int port) {
  co_return co_await configExchange(call, LOAD_DIO_STARTUP, withFiller(portWords(port)), "DIO_loadStartup");
}

Op<int> DIOModule::saveStartup(Call& call, int port, int enabled, int direction, int state) {
  co_return co_await statusExchange(call, SAVE_DIO_STARTUP, portWords(port, enabled, direction, state),
                                    "_DIO_saveStartup");
}

Op<std::vector<int>> DIOModule::getDIOState(Call& call, int port, int mask) {
  co_return co_await levelsExchange(call, GET_DIO_STATE, portWords(port, mask), "_getDIOState");
}

Op<int> DIOModule::setDIOState(Call& call, int port, int mask, int state) {
  co_return co_await statusExchange(call, SET_DIO_STATE, portWords(port, mask, state), "_setDIOState");
}

Op<int> DIOModule::toggleDIODirection(Call& call, int port, int mask, int state) {
  co_return co_await statusExchange(call, TOGGLE_DIO_DIR, portWords(port, mask, state), "_toggleDIODirection");
}

Op<std::vector<int>> DIOModule::readAndGetDI(Call& call, int port, int mask) {
  co_return co_await levelsExchange(call, READ_AND_GET_DI, portWords(port, mask), "_readAndGetDI");
}

Op<std::vector<int>> DIOModule::setAndWriteDO(Call& call, int port, int mask, int state) {
  co_return co_await levelsExchange(call, SET_AND_WRITE_DO, portWords(port, mask, state), "_setAndWriteDO");
}

Op<std::vector<int>> DIOModule::toggleAndWriteDO(Call& call, int port, int mask) {
  co_return co_await levelsExchange(call, TOGGLE_AND_WRITE_DO, portWords(port, mask), "_toggleAndWriteDO");
}

Op<int> DIOModule::readDI(Call& call, int port) {
  co_return co_await statusExchange(call, READ_DI, portOnly(port), "_readDI");
}

Op<int> DIOModule::writeDO(Call& call, int port) {
  co_return co_await statusExchange(call, WRITE_DO, portOnly(port), "_writeDO");
}

Op<int> DIOModule::setPortIdle(Call& call, int port) {
  checkDOPort(port);  // the port must be one the output map lists
  co_return co_await statusExchange(call, SET_SLOT_IDLE, portOnly(port), "_DIO_setPortIdle");
}

Op<int> DIOModule::setPortDI(Call& call, int port) {
  checkDIPort(port);
  co_return co_await statusExchange(call, SET_SLOT_DI, portOnly(port), "_DIO_setPortDI");
}

Op<int> DIOModule::setPortDO(Call& call, int port) {
  checkDOPort(port);
  co_return co_await statusExchange(call, SET_SLOT_DO, portOnly(port), "_DIO_setPortDO");
}

Op<int> DIOModule::closeDIOInPins(Call& call, int port, int mask) {
  co_return co_await setDIOCurrent(call, port, mask, kAllOff, kAllOff, kAllOff);
}

Op<int> DIOModule::closeDIOInPort(Call& call, int port) { co_return co_await closeDIOInPins(call, port, kWholePort); }

// --- open and close ------------------------------------------------------------------------------

std::vector<std::string> DIOModule::allowedModes(const Side& side) { return {kIdlePinMode, side.mode}; }

Op<int> DIOModule::openPins(Call& call, Side side, int port, PinSelection pin) {
  if (fixedDirection()) co_return 0;
  const std::vector<int> pins = checkPortAndPins(side, port, pin);
  co_await requirePinModes(call, port, pins, allowedModes(side), side.unavailable);
  co_return co_await setDIOCurrent(call, port, static_cast<int>(pinIndexMask(pin)), kAllOn, side.direction, kAllOff);
}

Op<int> DIOModule::openPort(Call& call, Side side, int port) {
  if (fixedDirection()) co_return 0;
  const std::vector<int>& pins = checkPort(side, port);
  co_await requirePinModes(call, port, pins, allowedModes(side), side.unavailable);
  co_return co_await setDIOCurrent(call, port, kWholePort, kAllOn, side.direction, kAllOff);
}

Op<int> DIOModule::closePins(Call& call, Side side, int port, PinSelection pin) {
  if (fixedDirection()) co_return 0;
  checkPortAndPins(side, port, pin);
  co_return co_await closeDIOInPins(call, port, static_cast<int>(pinIndexMask(pin)));
}

Op<int> DIOModule::closePort(Call& call, Side side, int port) {
  if (fixedDirection()) co_return 0;
  checkPort(side, port);
  co_return co_await closeDIOInPort(call, port);
}

Op<int> DIOModule::openDIPins(Call& call, int port, PinSelection pin) { return openPins(call, inputs(), port, std::move(pin)); }
Op<int> DIOModule::openDIPort(Call& call, int port) { return openPort(call, inputs(), port); }
Op<int> DIOModule::closeDIPins(Call& call, int port, PinSelection pin) {
  return closePins(call, inputs(), port, std::move(pin));
}
Op<int> DIOModule::closeDIPort(Call& call, int port) { return closePort(call, inputs(), port); }
Op<int> DIOModule::openDOPins(Call& call, int port, PinSelection pin) {
  return openPins(call, outputs(), port, std::move(pin));
}
Op<int> DIOModule::openDOPort(Call& call, int port) { return openPort(call, outputs(), port); }
Op<int> DIOModule::closeDOPins(Call& call, int port, PinSelection pin) {
  return closePins(call, outputs(), port, std::move(pin));
}
Op<int> DIOModule::closeDOPort(Call& call, int port) { return closePort(call, outputs(), port); }

// --- read, write, toggle -------------------------------------------------------------------------

Op<std::vector<int>> DIOModule::readDIPins(Call& call, int port, PinSelection pin) {
  const std::vector<int> pins = checkPortAndPins(inputs(), port, pin);
  const std::vector<int> levels = co_await readAndGetDI(call, port, static_cast<int>(pinIndexMask(pin)));
  std::vector<int> out;
  out.reserve(pins.size());
  for (int i : pins) out.push_back(levels.at(static_cast<std::size_t>(i)));  // map pins lie within the port
  co_return out;
}

Op<std::vector<int>> DIOModule::readDIPort(Call& call, int port) {
  checkDIPort(port);
  co_return co_await readAndGetDI(call, port, kWholePort);
}

Op<int> DIOModule::writeDOPins(Call& call, int port, PinSelection pin, PinSelection value) {
  const std::vector<int> pins = checkPortAndPins(outputs(), port, pin);
  if (pin.isInt() != value.isInt()) throw Error(Err::InputTypeNotConsistentError);
  if (!value.isInt() && value.asList().size() != pins.size()) throw Error(Err::PinsValueNotDefineError);
  const std::int64_t word = value.isInt() ? value.asInt() : levelWord(pins, value.asList());
  const int mask = static_cast<int>(pinIndexMask(pin));
  (void)co_await setAndWriteDO(call, port, mask, checkedWord(word, "value"));
  co_return 0;
}

Op<int> DIOModule::writeDOPort(Call& call, int port, PinSelection value) {
  checkDOPort(port);
  std::int64_t word = 0;
  if (value.isInt()) {
    word = value.asInt();
  } else {
    // Element k is the level of pin k; a port word has no room for more.
    if (value.asList().size() > kPortWordBits) throw Error(Err::PinsValueNotDefineError);
    std::vector<int> positions(value.asList().size());
    for (std::size_t k = 0; k < positions.size(); ++k) positions[k] = static_cast<int>(k);
    word = levelWord(positions, value.asList());
  }
  (void)co_await setAndWriteDO(call, port, kWholePort, checkedWord(word, "value"));
  co_return 0;
}

Op<std::vector<int>> DIOModule::toggleDOPins(Call& call, int port, PinSelection pin) {
  checkPortAndPins(outputs(), port, pin);
  co_return co_await toggleAndWriteDO(call, port, static_cast<int>(pinIndexMask(pin)));
}

Op<std::vector<int>> DIOModule::toggleDOPort(Call& call, int port) {
  checkDOPort(port);
  co_return co_await toggleAndWriteDO(call, port, kWholePort);
}

}  // namespace zelvo
