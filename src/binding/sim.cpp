// Python view of the device emulator: the submodule `_core.sim` with the classes Emulator and
// EmulatedDevice. pyzelvo/sim.py builds the public API on top of it.
//
// The emulator's threads never touch Python; calls that wait for them (add, stop, close,
// drop_connection) release the GIL.
#include <nanobind/nanobind.h>
#include <nanobind/stl/map.h>
#include <nanobind/stl/optional.h>
#include <nanobind/stl/pair.h>
#include <nanobind/stl/shared_ptr.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/vector.h>

#include <stdexcept>

#include "binding/bindings.hpp"
#include "binding/errors.hpp"
#include "zelvo/sim/dio_firmware.hpp"
#include "zelvo/sim/emulator.hpp"

namespace nb = nanobind;
using namespace nb::literals;

namespace zelvo::py {
namespace {

using sim::EmulatedDevice;
using sim::Emulator;
using Release = nb::call_guard<Unlocked>;

std::string describe(const EmulatedDevice& d) {
  const auto& p = d.product();
  std::string s = p.class_name + " (" + p.model + ") serial " + d.firmware().serialNumber() + " on " + d.host() +
                  ":" + std::to_string(d.port());
  if (const auto data = d.dataPort()) s += ", data " + d.host() + ":" + std::to_string(*data);
  return s;
}

// A bind failure becomes OSError(errno, text), which Python turns into PermissionError,
// OSError with errno EADDRINUSE, and so on.
void translateListenError(const std::exception_ptr& p, void*) {
  try {
    std::rethrow_exception(p);
  } catch (const sim::ListenError& e) {
    PyObject* args = Py_BuildValue("(is)", e.code().value(), e.what());
    PyErr_SetObject(PyExc_OSError, args);
    Py_XDECREF(args);
  }
}

Bytes toBytes(const nb::bytes& b) {
  const auto* data = static_cast<const Byte*>(b.data());
  return Bytes(data, data + b.size());
}

nb::bytes toPyBytes(const Bytes& b) { return nb::bytes(reinterpret_cast<const char*>(b.data()), b.size()); }

void bindDevice(nb::module_& s) {
  nb::class_<EmulatedDevice>(s, "EmulatedDevice",
                             "One emulated device: its firmware state, its TCP listener(s) and its fault controls.\n\n"
                             "Created by Emulator.add(). Connect a product object to `address` (and, for Wi-Fi\n"
                             "products, `data_port`) to talk to it.")
      .def_prop_ro("class_name", [](const EmulatedDevice& d) { return d.product().class_name; },
                   "Product class name, e.g. 'TavraA'.")
      .def_prop_ro("model", [](const EmulatedDevice& d) { return d.product().model; }, "Model text, e.g. 'Tavra-A'.")
      .def_prop_ro("host", &EmulatedDevice::host, "Loopback address the device listens on.")
      .def_prop_ro("port", &EmulatedDevice::port, "TCP port of the command channel.")
      .def_prop_ro("data_port", &EmulatedDevice::dataPort, "TCP port of the Wi-Fi data channel; None for other products.")
      .def_prop_ro("address", [](const EmulatedDevice& d) { return std::make_pair(d.host(), d.port()); },
                   "(host, port) of the command channel.")
      .def_prop_ro("running", &EmulatedDevice::running, "False once the device (or its emulator) is stopped.")
      .def_prop_ro("firmware_version", [](const EmulatedDevice& d) { return d.firmware().version(); })
      .def_prop_rw(
          "serial_number", [](const EmulatedDevice& d) { return d.firmware().serialNumber(); },
          [](EmulatedDevice& d, std::string serial) {
            if (!d.firmware().setSerialNumber(std::move(serial)))
              throw std::invalid_argument("a serial number is exactly 8 printable ASCII characters");
          },
          "The 8-character serial number the device reports.")
      .def_prop_rw(
          "alias",
          [](const EmulatedDevice& d) {
            // The driver may have stored any bytes; show them as the driver would read them.
            const std::string raw = d.firmware().alias();
            return nb::steal<nb::str>(PyUnicode_DecodeUTF8(raw.data(), static_cast<Py_ssize_t>(raw.size()), "replace"));
          },
          [](EmulatedDevice& d, std::string alias) {
            if (!d.firmware().setAlias(std::move(alias)))
              throw std::invalid_argument("an alias is at most 32 bytes of UTF-8");
          },
          "The device alias (at most 32 bytes of UTF-8; the model text by default).")
      .def_prop_ro("reboot_count", [](const EmulatedDevice& d) { return d.system().rebootCount(); },
                   "How many REBOOT commands the device has answered.")
      .def_prop_ro("connection_count", &EmulatedDevice::connectionCount, "Open client connections, both channels.")
      .def(
          "pin_modes",
          [](const EmulatedDevice& d, int port) {
            std::vector<int> out;
            for (auto m : d.firmware().pinModes(port)) out.push_back(static_cast<int>(m));
            return out;
          },
          "port"_a, "Pin-mode numbers of a device port, one per pin ([] for a port the device lacks).")
      .def(
          "set_pin_mode",
          [](EmulatedDevice& d, int port, int pin, int mode) {
            if (mode < 0 || mode >= sim::kPinModeCount) throw std::invalid_argument("pin mode must be 0..9");
            try {
              d.firmware().setPinMode(port, pin, static_cast<sim::PinMode>(mode));
            } catch (const std::out_of_range& e) {
              throw std::invalid_argument(e.what());
            }
          },
          "port"_a, "pin"_a, "mode"_a, "Sets one pin's mode number (0 Disabled, 1 Idle, 2 DI, ... 9 ADC).")
      .def(
          "ignore_first",
          [](EmulatedDevice& d, int cmd, int n) { d.faults().ignoreNext(cmd, n); }, "cmd"_a, "n"_a,
          "Leave the next `n` requests with command code `cmd` unanswered (they are still counted).")
      .def(
          "delay_replies",
          [](EmulatedDevice& d, double seconds) { d.faults().delayReplies(std::chrono::duration<double>(seconds)); },
          "seconds"_a, "Send every reply `seconds` after its request arrives (0 for no delay).")
      .def(
          "split_replies", [](EmulatedDevice& d, int pieces) { d.faults().splitReplies(pieces); }, "pieces"_a,
          "Send each reply frame in `pieces` separate writes about a millisecond apart (1 for whole frames).")
      .def(
          "prepend_garbage", [](EmulatedDevice& d, nb::bytes garbage) { d.faults().prependGarbage(toBytes(garbage)); },
          "garbage"_a, "Send these bytes in front of every reply frame (b'' for none).")
      .def("drop_connection", &EmulatedDevice::dropConnections, Release(),
           "Close every client connection now; the device keeps listening for new ones.")
      .def(
          "request_count", [](const EmulatedDevice& d, int cmd) { return d.faults().requestCount(cmd); }, "cmd"_a,
          "How many requests with command code `cmd` arrived (ignored ones included).")
      .def_prop_ro("request_counts", [](const EmulatedDevice& d) { return d.faults().requestCounts(); },
                   "Command code -> number of requests that arrived.")
      .def("reset_request_counts", [](EmulatedDevice& d) { d.faults().resetRequestCounts(); })
      .def("reset_faults", [](EmulatedDevice& d) { d.faults().reset(); },
           "Forget every injected fault (request counts are kept).")
      .def(
          "send_stream",
          [](EmulatedDevice& d, int code, nb::bytes payload) { d.sendStream(sim::Reply{code, toBytes(payload)}); },
          "code"_a, "payload"_a,
          "Send one stream packet on the data channel (Wi-Fi) or the command channel (other products).")
      .def(
          "eeprom_page", [](const EmulatedDevice& d, int page) { return toPyBytes(d.system().eepromPage(page)); },
          "page"_a, "The 64 bytes of an EEPROM page (b'' outside 0..255).")
      .def("stop", &EmulatedDevice::stop, Release(), "Stop serving this device (idempotent).")
      .def("__repr__", [](const EmulatedDevice& d) {
        return "<EmulatedDevice " + describe(d) + (d.running() ? "" : ", stopped") + ">";
      });
}

// The digital I/O controls: levels applied to input pins, and what the outputs drive.
sim::DioFirmware& dioOf(EmulatedDevice& d) {
  auto* dio = d.firmware().findModule<sim::DioFirmware>();
  if (!dio) throw std::invalid_argument(d.product().class_name + " has no digital I/O");
  return *dio;
}

nb::tuple wordsTuple(const sim::DioWords& w) { return nb::make_tuple(w.enabled, w.direction, w.state); }

void bindDioControls(nb::handle cls) {
  auto method = [&](const char* name, auto fn, const char* doc, auto... args) {
    nb::setattr(cls, name, nb::cpp_function(fn, nb::scope(cls), nb::name(name), nb::is_method(), nb::arg(args)..., doc));
  };
  method(
      "set_input",
      [](EmulatedDevice& d, int port, int pin, int level) {
        if (level != 0 && level != 1) throw std::invalid_argument("level is 0 or 1");
        dioOf(d).setInput(port, pin, level == 1);
      },
      "Applies a level (0 or 1) to one DIO pin from outside; inputs read it when sampled.", "port", "pin", "level");
  method(
      "set_inputs",
      [](EmulatedDevice& d, int port, int levels) {
        if (levels < 0 || levels > 0xFFFF) throw std::invalid_argument("levels is a 16-bit word");
        dioOf(d).setInputs(port, static_cast<std::uint16_t>(levels));
      },
      "Applies the levels of every pin of a DIO port from outside (bit n: pin n).", "port", "levels");
  method(
      "inputs", [](EmulatedDevice& d, int port) { return dioOf(d).inputs(port); },
      "The levels applied to a DIO port from outside (bit n: pin n).", "port");
  method(
      "outputs", [](EmulatedDevice& d, int port) { return dioOf(d).outputs(port); },
      "The levels a DIO port drives: bit n is 1 when pin n is an enabled output driven high.", "port");
  method(
      "dio_words", [](EmulatedDevice& d, int port) { return wordsTuple(dioOf(d).words(port)); },
      "(enabled, direction, state) words of a DIO port (bit n: pin n; direction 1 = output).", "port");
  method(
      "dio_startup", [](EmulatedDevice& d, int port) { return wordsTuple(dioOf(d).startup(port)); },
      "The stored start-up (enabled, direction, state) words of a DIO port.", "port");
}

void bindEmulator(nb::module_& s) {
  nb::class_<Emulator>(s, "Emulator", "A set of emulated devices; close() stops them all.")
      .def(nb::init<>())
      .def(
          "add",
          [](Emulator& e, const std::string& class_name, const std::string& host, bool wifi_pair, int port,
             int data_port, const std::string& serial, const std::string& firmware_version) {
            sim::DeviceOptions o;
            o.host = host;
            o.wifi_pair = wifi_pair;
            o.port = port;
            o.data_port = data_port;
            o.serial = serial;
            o.firmware_version = firmware_version;
            return e.add(class_name, o);
          },
          "class_name"_a, "host"_a = "127.0.0.1", "wifi_pair"_a = false, "port"_a = 0, "data_port"_a = 0,
          "serial"_a = "", "firmware_version"_a = "1.0.0", Release(),
          "Start an emulated device of a product class; see pyzelvo.sim.Emulator.add.")
      .def_prop_ro("devices", &Emulator::devices)
      .def_prop_ro("closed", &Emulator::closed)
      .def("close", &Emulator::close, Release(), "Stop every device (idempotent).");
}

}  // namespace

void bindSim(nb::module_& m) {
  nb::module_ s = m.def_submodule("sim", "Device emulator (C++ side of pyzelvo.sim)");
  nb::register_exception_translator(translateListenError);
  bindDevice(s);
  bindDioControls(s.attr("EmulatedDevice"));
  bindEmulator(s);
  s.def("products", &sim::emulatedProducts, "Class names of the products the emulator can serve.");
  s.def(
      "wifi_products",
      [] {
        std::vector<std::string> out;
        for (const auto& name : sim::emulatedProducts())
          if (product(name).base == DeviceBase::Wifi) out.push_back(name);
        return out;
      },
      "Class names of the Wi-Fi products (those with a data channel).");
  s.def("describe", [](const EmulatedDevice& d) { return describe(d); }, "dev"_a,
        "One line naming the device and where it listens.");
}

}  // namespace zelvo::py
