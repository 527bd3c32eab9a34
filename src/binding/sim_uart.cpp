// dev.uart: the emulated UART ports: their settings, bytes from the far side, what the host wrote,
// and the unthrottled switch for benchmarks.
#include <nanobind/stl/vector.h>

#include "binding/sim_group.hpp"
#include "zelvo/sim/uart_firmware.hpp"

namespace nb = nanobind;
using namespace nb::literals;

namespace zelvo::py {
namespace {

using UartGroup = PeripheralGroup<sim::UARTFirmware>;

sim::UARTFirmware& uartOf(const UartGroup& g) { return g.module(); }

Bytes bytesOf(const nb::bytes& b) {
  const auto* data = static_cast<const Byte*>(b.data());
  return Bytes(data, data + b.size());
}

nb::dict state(const UartGroup& g, int port) {
  const sim::UartPortState s = uartOf(g).state(port);
  nb::dict out;
  out["open"] = s.open;
  out["reading"] = s.reading;
  out["loopback"] = s.loopback;
  out["baud"] = s.baud;
  out["data_size"] = s.data_size;
  out["parity"] = s.parity;
  out["stop_bits"] = s.stop_bits;
  out["pending"] = s.pending;
  out["streamed"] = s.streamed;
  out["transmitted"] = s.transmitted;
  return out;
}

}  // namespace

void bindUartControls(nb::module_& s, nb::handle tcp, nb::handle usb) {
  nb::class_<UartGroup>(s, "UartControls", "The UART controls of an emulated device (dev.uart).")
      .def("state", &state, "port"_a,
           "A UART port's state: {'open', 'reading', 'loopback', 'baud', 'data_size' (0: 8 bits, 1: 9),\n"
           "'parity' (0 none, 1 reserved, 2 even, 3 odd), 'stop_bits' (0: 1, 1: 0.5, 2: 2, 3: 1.5),\n"
           "'pending' (received bytes not sent to the host yet), 'streamed' (sent to the host),\n"
           "'transmitted' (bytes the host wrote)}.")
      .def(
          "inject", [](const UartGroup& g, int port, nb::bytes data) { uartOf(g).inject(port, bytesOf(data)); },
          "port"_a, "data"_a,
          "Bytes from the far side: received after those already on their way, at the line's pace.")
      .def(
          "set_loopback", [](const UartGroup& g, int port, bool on) { uartOf(g).setLoopback(port, on); }, "port"_a,
          "on"_a, "Whether what the host writes comes back (True by default).")
      .def(
          "transmitted",
          [](const UartGroup& g, int port) {
            const Bytes b = uartOf(g).transmitted(port);
            return nb::bytes(reinterpret_cast<const char*>(b.data()), b.size());
          },
          "port"_a, "The latest bytes the host wrote on the port (at most 64 KiB).")
      .def("byte_time", [](const UartGroup& g, int port) { return uartOf(g).byteTime(port); }, "port"_a,
           "Seconds one byte (start, data, parity and stop bits) takes at the port's settings.")
      .def_prop_rw(
          "unthrottled", [](const UartGroup& g) { return uartOf(g).unthrottled(); },
          [](const UartGroup& g, bool on) { uartOf(g).setUnthrottled(on); },
          "False (default): received bytes arrive at the line's pace. True: at once, as fast as the\n"
          "connection takes them (for benchmarks); nothing is lost either way.")
      .def_prop_ro("ports", [](const UartGroup& g) { return uartOf(g).ports(); }, "The UART port numbers.");
  addGroupProperty<UartGroup>(tcp, usb, "uart", "UART", "UART controls (UartControls).");
}

}  // namespace zelvo::py
