// The UART module's operations, checks and state.
#include "binding/pyconv.hpp"
#include "binding/modules.hpp"
#include "binding/ops.hpp"
#include "zelvo/bus/uart_module.hpp"

namespace zelvo::py {

// What UART_write takes: a str, or byte values as a list (or bytes / bytearray).
template <>
struct Arg<UartData> {
  static constexpr const char* pyName = "str | list[int]";
  static UartData from(nb::handle h, const char* name) {
    if (PyUnicode_Check(h.ptr())) return Arg<std::string>::from(h, name);
    if (!PyList_Check(h.ptr()) && !PyBytes_Check(h.ptr()) && !PyByteArray_Check(h.ptr()))
      wrongType(name, "a str or a list of ints", h);
    return Arg<std::vector<std::int64_t>>::from(h, name);
  }
};

// Bytes read from a UART: a list of one-character texts (byte b is chr(b)).
template <>
struct Result<UartChars> {
  static constexpr const char* pyName = "list[str]";
  static nb::object to(const UartChars& c) {
    nb::object text = nb::steal(
        PyUnicode_DecodeLatin1(reinterpret_cast<const char*>(c.bytes.data()), static_cast<Py_ssize_t>(c.bytes.size()), nullptr));
    return nb::steal(PySequence_List(text.ptr()));
  }
};

namespace {

using U = UARTModule;
const nb::object kRequired;

void bindReads(nb::handle cls) {
  OpSignature<3> read;
  read.names = {"port", "bytes_to_read", "delay"};
  read.defaults = {kRequired, kRequired, nb::float_(kUartReadDelay)};
  read.timeout = false;
  defOpWith<&U::read>(cls, "UART_read", read,
                      "bytes_to_read received bytes as one-character texts (-1: all queued). The blocking form waits, "
                      "without a time limit, until they are there or the port closes, the module is freed or the "
                      "device closes (then it returns what is queued); the awaitable form takes what is queued now. "
                      "Port 1 reads port 1's bytes, any other port port 2's.");
  OpSignature<4> receive;
  receive.names = {"port", "at_least", "at_most", "wait"};
  receive.defaults = {kRequired, nb::int_(1), nb::int_(static_cast<std::int64_t>(QUEUE_SIZE_MAX)), nb::none()};
  receive.timeout = false;
  defOpWith<&U::receive>(cls, "_UART_receive", receive,
                         "Received bytes as bytes: waits at most `wait` seconds (None: no limit) until at_least are "
                         "queued or nothing more can come, then takes up to at_most. Both forms wait.");
  defCheck<&U::available>(cls, "_UART_available", {"port"}, "Received bytes queued for the port.");
  defCheck<&U::droppedBytes>(cls, "_UART_droppedBytes", {"port"},
                             "Received bytes of the port dropped because its queue was full.");
}

void bindChecks(nb::handle cls) {
  defCheck<&U::pinMap>(cls, "UART_getPinMap", {}, "The UART pin map: port -> [(device port, pin), ...].");
  defCheck<&U::checkPort>(cls, "_checkUARTPort", {"port"}, "True, or UARTPortNotAvaliableError when the map has no such port.");
  defCheck<&U::checkBaudRate>(cls, "_checkUARTBaudRate", {"baud_rate"},
                              "True, or UARTBaudRateNotSupportError unless 0..400000.");
  defCheck<&U::checkDataBit>(cls, "_checkUARTDataBit", {"mode"}, "True, or UARTDataBitNotSupportError unless 0 or 1.");
  defCheck<&U::checkParityMode>(cls, "_checkUARTParityMode", {"mode"}, "True, or UARTParityNotSupportError unless 0..3.");
  defCheck<&U::checkNumStopBitMode>(cls, "_checkUARTNumStopBitMode", {"mode"},
                                    "True, or UARTStopBitNotSupportError unless 0..3.");
  defCheck<&U::checkDataLength>(cls, "_checkUARTDataLength", {"data"},
                                "True, or UARTExceedMaxLengthError for more than 50 characters or bytes.");
  defCheck<&U::pinMapPorts>(cls, "_UART_getPinMapPort", {"port"}, "The device ports that carry the UART port's pins.");
  defOp<&U::checkPinState>(cls, "_checkUARTPinState", {"port", "modes"},
                           "True when every pin of the UART port is in one of the modes, else UARTPortNotAvaliableError.");
  defCheck<&U::free>(cls, "_UART_free", {}, "Ends delivery for good and wakes blocked reads (the product's close runs it).");
  defState<U>(cls, "uart_open_flag", [](const U& u) { return !u.openPorts().empty(); }, "True while a port is open.");
  defState<&U::openPorts>(cls, "uart_open_ports", "The ports opened and not closed since.");
  defState<&U::killed>(cls, "uart_killed", "True once _UART_free has run.");
}

}  // namespace

void bindUARTModule(nb::handle cls) {
  defOp<&U::open>(cls, "UART_open", {"port"},
                  "Opens the UART port after checking that its pins are free (Idle, DI or DO) and, on status 0, "
                  "starts reading on it (once: a second open sends OPEN_UART only); 0 or a negative code.");
  defOp<&U::close>(cls, "UART_close", {"port"},
                   "Stops reading and closes the port; on status 0 its delivery stops and a blocked read returns. "
                   "0 or a negative code.");
  defOp<&U::write>(cls, "UART_write", {"port", "write_data"},
                   "Sends a text (character codes 0..255) or byte values, at most 50; 0 or a negative code. Sent once.");
  defOp<&U::reset>(cls, "UART_reset", {"port"}, "Returns the port to its default settings; 0 or a negative code.");
  defOp<&U::setBaudRate>(cls, "UART_setBaudRate", {"port", "baud_rate"}, "Bits per second, 0..400000; 0 or a negative code.");
  defOp<&U::setDataBit>(cls, "UART_setDataBit", {"port", "mode"}, "0: 8-bit, 1: 9-bit data; 0 or a negative code.");
  defOp<&U::setParity>(cls, "UART_setParity", {"port", "mode"}, "0 none, 1 reserved, 2 even, 3 odd; 0 or a negative code.");
  defOp<&U::setNumStopBit>(cls, "UART_setNumStopBit", {"port", "mode"},
                           "0: 1 stop bit, 1: 0.5, 2: 2, 3: 1.5; 0 or a negative code.");
  defOp<&U::startReading>(cls, "_UART_startReading", {"port"}, "Asks the device to stream what the port receives (no reply); 0.");
  defOp<&U::stopReading>(cls, "_UART_stopReading", {"port"}, "Asks the device to stop streaming; 0 or a negative code.");
  bindReads(cls);
  bindChecks(cls);
}

}  // namespace zelvo::py
