// Python view of the device emulator: the submodule `_core.sim` with the classes Emulator,
// EmulatedDevice and EmulatedUsbDevice. pyzelvo/sim.py builds the public API on top of it.
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

#include <atomic>
#include <stdexcept>

#include "binding/bindings.hpp"
#include "binding/errors.hpp"
#include "binding/property.hpp"
#include "binding/sim_group.hpp"
#include "zelvo/sim/ai_firmware.hpp"
#include "zelvo/sim/dio_firmware.hpp"
#include "zelvo/sim/emulator.hpp"
#include "zelvo/sim/usb_device.hpp"

namespace nb = nanobind;
using namespace nb::literals;

namespace zelvo::py {
namespace {

using sim::EmulatedDevice;
using sim::Emulator;
using Release = nb::call_guard<Unlocked>;

// Payload bytes of a motion reply that make its key.
constexpr std::size_t kKeyBytes = 3;

std::string describe(const EmulatedDevice& d) {
  const auto& p = d.product();
  std::string s = p.class_name + " (" + p.model + ") serial " + d.firmware().serialNumber() + " on " + d.host() +
                  ":" + std::to_string(d.port());
  if (const auto data = d.dataPort()) s += ", data " + d.host() + ":" + std::to_string(*data);
  return s;
}

std::string describe(const sim::UsbEmulatedDevice& d) {
  const auto& p = d.product();
  return p.class_name + " (" + p.model + ") serial " + d.firmware().serialNumber() + " on USB" +
         (d.plugged() ? "" : ", unplugged");
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

// What every emulated device offers, whatever its transport: identity, firmware state, faults.
template <class D>
void bindCommon(nb::class_<D>& cls) {
  cls.def_prop_ro("class_name", [](const D& d) { return d.product().class_name; },
                   "Product class name, e.g. 'TavraA'.")
      .def_prop_ro("model", [](const D& d) { return d.product().model; }, "Model text, e.g. 'Tavra-A'.")
      .def_prop_ro("running", &D::running, "False once the device (or its emulator) is stopped.")
      .def_prop_ro("firmware_version", [](const D& d) { return d.firmware().version(); })
      .def_prop_rw(
          "serial_number", [](const D& d) { return d.firmware().serialNumber(); },
          [](D& d, std::string serial) {
            if (!d.firmware().setSerialNumber(std::move(serial)))
              throw std::invalid_argument("a serial number is exactly 8 printable ASCII characters");
          },
          "The 8-character serial number the device reports.")
      .def_prop_rw(
          "alias",
          [](const D& d) {
            // The driver may have stored any bytes; show them as the driver would read them.
            const std::string raw = d.firmware().alias();
            return nb::steal<nb::str>(PyUnicode_DecodeUTF8(raw.data(), static_cast<Py_ssize_t>(raw.size()), "replace"));
          },
          [](D& d, std::string alias) {
            if (!d.firmware().setAlias(std::move(alias)))
              throw std::invalid_argument("an alias is at most 32 bytes of UTF-8");
          },
          "The device alias (at most 32 bytes of UTF-8; the model text by default).")
      .def_prop_ro("reboot_count", [](const D& d) { return d.system().rebootCount(); },
                   "How many REBOOT commands the device has answered.")
      .def(
          "pin_modes",
          [](const D& d, int port) {
            std::vector<int> out;
            for (auto m : d.firmware().pinModes(port)) out.push_back(static_cast<int>(m));
            return out;
          },
          "port"_a, "Pin-mode numbers of a device port, one per pin ([] for a port the device lacks).")
      .def(
          "set_pin_mode",
          [](D& d, int port, int pin, int mode) {
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
          [](D& d, int cmd, int n) { d.faults().ignoreNext(cmd, n); }, "cmd"_a, "n"_a,
          "Leave the next `n` requests with command code `cmd` unanswered (they are still counted).")
      .def(
          "delay_replies",
          [](D& d, double seconds, double jitter) {
            d.faults().delayReplies(std::chrono::duration<double>(seconds), std::chrono::duration<double>(jitter));
          },
          "seconds"_a, "jitter"_a = 0.0,
          "Send every reply `seconds` after its request arrives, plus a random part of up to `jitter`\n"
          "seconds; replies still leave in request order (0, 0 for no delay).")
      .def(
          "edit_replies",
          [](D& d, int code, nb::bytes prefix, int nth, std::optional<std::pair<std::size_t, int>> set_byte,
             std::optional<std::size_t> truncate_to, nb::bytes append) {
            sim::ReplyEdit e;
            e.code = code;
            e.prefix = toBytes(prefix);
            e.nth = nth;
            if (set_byte) {
              if (set_byte->second < 0 || set_byte->second > 255) throw std::invalid_argument("a byte is 0..255");
              e.set_byte = std::make_pair(set_byte->first, static_cast<Byte>(set_byte->second));
            }
            e.truncate_to = truncate_to;
            e.append = toBytes(append);
            d.faults().editReplies(std::move(e));
          },
          "code"_a, nb::kw_only(), "prefix"_a = nb::bytes(""), "nth"_a = 0, "set_byte"_a = nb::none(),
          "truncate_to"_a = nb::none(), "append"_a = nb::bytes(""),
          "Change the replies to requests with this code (and payload prefix): set_byte=(index, value)\n"
          "sets a byte (a status), truncate_to cuts the reply short, append adds bytes at its end. With\n"
          "nth=n only the n-th matching request from now on is affected, with 0 every one. The device\n"
          "still carries the request out; reset_faults() removes every edit.")
      .def(
          "force_status",
          [](D& d, int code, int status, std::size_t at, int nth, nb::bytes prefix) {
            if (status < 0 || status > 255) throw std::invalid_argument("a status is 0..255");
            sim::ReplyEdit e;
            e.code = code;
            e.prefix = toBytes(prefix);
            e.nth = nth;
            e.set_byte = std::make_pair(at, static_cast<Byte>(status));
            d.faults().editReplies(std::move(e));
          },
          "code"_a, "status"_a, "at"_a, "nth"_a = 1, "prefix"_a = nb::bytes(""),
          "The n-th request with this code (and payload prefix) from now on is answered with `status` at\n"
          "reply byte `at` (the status position of the command's reply), whatever the device did.")
      .def(
          "send_stream",
          [](D& d, int code, nb::bytes payload, int count) {
            for (int i = 0; i < count; ++i) d.sendStream(sim::Reply{code, toBytes(payload)});
          },
          "code"_a, "payload"_a, "count"_a = 1,
          "Send `count` stream packets: on the data channel of a Wi-Fi device, on the command channel of\n"
          "other network devices, on the IN endpoint of a USB device.")
      .def(
          "send_reply",
          [](D& d, int code, nb::bytes payload, int count, bool distinct_keys) {
            static std::atomic<std::uint32_t> next_key{0};  // keys go on from call to call
            Bytes bytes = toBytes(payload);
            for (int i = 0; i < count; ++i) {
              if (distinct_keys) {  // bytes 0..2 (the motion reply key) count up
                const std::uint32_t key = next_key++;
                for (std::size_t b = 0; b < kKeyBytes && b < bytes.size(); ++b)
                  bytes[b] = static_cast<Byte>(key >> (8 * (kKeyBytes - 1 - b)));
              }
              d.sendUnsolicited(sim::Reply{code, bytes});
            }
          },
          "code"_a, "payload"_a, "count"_a = 1, "distinct_keys"_a = false,
          "Send `count` replies nobody asked for, on the command channel. With distinct_keys the first\n"
          "three payload bytes count up from copy to copy (and call to call, modulo 2**24), so each\n"
          "motion reply has a key of its own.")
      .def(
          "split_replies", [](D& d, int pieces) { d.faults().splitReplies(pieces); }, "pieces"_a,
          "Send each reply frame in `pieces` separate writes about a millisecond apart (1 for whole frames).")
      .def(
          "prepend_garbage", [](D& d, nb::bytes garbage) { d.faults().prependGarbage(toBytes(garbage)); },
          "garbage"_a, "Send these bytes in front of every reply frame (b'' for none).")
      .def(
          "request_count", [](const D& d, int cmd) { return d.faults().requestCount(cmd); }, "cmd"_a,
          "How many requests with command code `cmd` arrived (ignored ones included).")
      .def_prop_ro("request_counts", [](const D& d) { return d.faults().requestCounts(); },
                   "Command code -> number of requests that arrived.")
      .def("reset_request_counts", [](D& d) { d.faults().resetRequestCounts(); })
      .def("reset_faults", [](D& d) { d.faults().reset(); },
           "Forget every injected fault (request counts are kept).")
      .def(
          "eeprom_page", [](const D& d, int page) { return toPyBytes(d.system().eepromPage(page)); },
          "page"_a, "The 64 bytes of an EEPROM page (b'' outside 0..255).")
      .def("stop", &D::stop, Release(), "Stop serving this device (idempotent).");
}

void bindDevice(nb::module_& s) {
  nb::class_<EmulatedDevice> cls(s, "EmulatedDevice",
                                 "One emulated device: its firmware state, its TCP listener(s) and its fault controls.\n\n"
                                 "Created by Emulator.add(). Connect a product object to `address` (and, for Wi-Fi\n"
                                 "products, `data_port`) to talk to it.");
  bindCommon(cls);
  cls.def_prop_ro("host", &EmulatedDevice::host, "Loopback address the device listens on.")
      .def_prop_ro("port", &EmulatedDevice::port, "TCP port of the command channel.")
      .def_prop_ro("data_port", &EmulatedDevice::dataPort, "TCP port of the Wi-Fi data channel; None for other products.")
      .def_prop_ro("address", [](const EmulatedDevice& d) { return std::make_pair(d.host(), d.port()); },
                   "(host, port) of the command channel.")
      .def_prop_ro("usb", [](const EmulatedDevice&) { return false; }, "False: the device is served over TCP.")
      .def_prop_ro("connection_count", &EmulatedDevice::connectionCount, "Open client connections, both channels.")
      .def("drop_connection", &EmulatedDevice::dropConnections, Release(),
           "Close every client connection now; the device keeps listening for new ones.");
  cls.def("__repr__", [](const EmulatedDevice& d) {
    return "<EmulatedDevice " + describe(d) + (d.running() ? "" : ", stopped") + ">";
  });
}

void bindUsbDevice(nb::module_& s) {
  using sim::UsbEmulatedDevice;
  nb::class_<UsbEmulatedDevice> cls(
      s, "EmulatedUsbDevice",
      "One emulated USB device: its firmware state, its place on the USB shim's bus and its fault\n"
      "controls.\n\n"
      "Created by Emulator.add(..., usb=True). A product object reaches it with\n"
      "connect(serial_number) once the process loads the shim as libusb (ZELVO_LIBUSB =\n"
      "pyzelvo.sim.usb_library_path()).");
  bindCommon(cls);
  cls.def_prop_ro("usb", [](const UsbEmulatedDevice&) { return true; }, "True: the device is on the USB shim.")
      .def_prop_ro("plugged", &UsbEmulatedDevice::plugged, "Whether the device is on the bus.")
      .def_prop_ro("connection_count", &UsbEmulatedDevice::connectionCount, "Handles the host has open on the device.")
      .def("unplug", &UsbEmulatedDevice::unplug, Release(),
           "Pull the device out: it leaves the device list, transfers in progress and later ones fail with\n"
           "LIBUSB_ERROR_NO_DEVICE. Idempotent.")
      .def("plug", &UsbEmulatedDevice::plug, Release(),
           "Plug the device in again: a fresh enumeration (with the current serial number); nothing of\n"
           "the earlier connection carries over. Nothing happens when it is plugged.")
      .def("drop_connection", &UsbEmulatedDevice::dropConnections, Release(),
           "Unplug and plug in again: open handles fail with LIBUSB_ERROR_NO_DEVICE; the device can be\n"
           "opened anew.")
      .def_prop_ro(
          "out_transfers",
          [](const UsbEmulatedDevice& d) {
            nb::list out;
            for (const auto& t : d.usb().outTransfers()) out.append(toPyBytes(t));
            return out;
          },
          "The latest OUT transfers the host wrote (at most 256, oldest first), padding included.")
      .def(
          "fail_in_transfers", [](UsbEmulatedDevice& d, int n) { d.usb().failInTransfers(n); }, "n"_a, Release(),
          "Make the next `n` reads of the IN endpoint fail at once with an I/O error (replaces what is\n"
          "left; 0 ends it). RuntimeError while unplugged.")
      .def_prop_ro("in_failures_left", [](const UsbEmulatedDevice& d) { return d.usb().inFailuresLeft(); },
                   "Reads of the IN endpoint still to fail.")
      .def("__repr__", [](const UsbEmulatedDevice& d) {
        return "<EmulatedUsbDevice " + describe(d) + (d.running() ? "" : ", stopped") + ">";
      });
  s.def(
      "add_usb",
      [](const std::string& class_name, const std::string& serial, const std::string& firmware_version) {
        sim::UsbDeviceOptions o;
        o.serial = serial;
        o.firmware_version = firmware_version;
        return sim::addUsbDevice(class_name, o);
      },
      "class_name"_a, "serial"_a = "", "firmware_version"_a = "1.0.0", Release(),
      "Plug an emulated USB device of a product class into the shim's bus; see pyzelvo.sim.Emulator.add.");
  s.def("usb_library_path", &sim::usbLibraryPath, Release(),
        "Path of the USB shim library the emulator plugs its USB devices into.");
  s.def("serve_usb", &sim::serveUsb, "socket_path"_a, Release(),
        "Offer the USB devices of this process to other processes on a UNIX socket; see\n"
        "pyzelvo.sim.Emulator.serve_usb.");
  s.def("stop_serving_usb", &sim::stopServingUsb, Release(), "End serve_usb: attached processes see the devices go.");
  s.def("usb_products", &sim::usbProducts, "Class names of the products that can be emulated on USB.");
  s.def("describe", [](const UsbEmulatedDevice& d) { return describe(d); }, "dev"_a);
}

// --- controls grouped by peripheral -------------------------------------------------------------
// dev.dio and dev.ai hold the controls of one peripheral. A group keeps its device alive and looks
// the peripheral up at each call, so a control of a peripheral the product lacks raises
// ValueError when used. Each control is also bound on the device under its flat name from before
// the grouping (set_input, ai_set_waveform, ...).

struct Group {
  nb::object device;  // keeps the emulated device alive
  sim::Firmware* fw;
  std::string class_name;
};
struct DioGroup : Group {};
struct AiGroup : Group {};
struct ClockGroup : Group {};

template <class G, class D>
G groupOf(nb::handle self) {
  D& d = nb::cast<D&>(self);
  return G{{nb::borrow(self), &d.firmware(), d.product().class_name}};
}

// A control F(const Group&, args...) as a method of a device class: F on the device's group.
template <auto F>
struct OnDevice;
template <class R, class G, class... A, R (*F)(const G&, A...)>
struct OnDevice<F> {
  template <class D>
  static R call(nb::handle self, A... a) {
    return F(groupOf<G, D>(self), std::forward<A>(a)...);
  }
};

// Control F on device class D (the F of the device's group).
template <class D, auto F, class... Extra>
nb::object onDevice(const Extra&... extra) {
  return nb::cpp_function(&OnDevice<F>::template call<D>, nb::is_method(), extra...);
}

// Binds control F on its group class as `name` and on both device classes as `alias`.
template <auto F, class... Extra>
void control(nb::handle group, nb::handle tcp, nb::handle usb, const char* name, const char* alias,
             const Extra&... extra) {
  nb::setattr(group, name, nb::cpp_function(F, nb::scope(group), nb::name(name), nb::is_method(), extra...));
  nb::setattr(tcp, alias, onDevice<EmulatedDevice, F>(nb::scope(tcp), nb::name(alias), extra...));
  nb::setattr(usb, alias, onDevice<sim::UsbEmulatedDevice, F>(nb::scope(usb), nb::name(alias), extra...));
}

// The same for a property: read-only, or read-write with a setter. (Accessors get no scope and
// name: those would make nanobind chain the getter and the setter as overloads of one function.)
template <auto Get, auto Set = nullptr>
void controlProperty(nb::handle group, nb::handle tcp, nb::handle usb, const char* name, const char* alias,
                     const char* doc) {
  nb::object set_group = nb::none(), set_tcp = nb::none(), set_usb = nb::none();
  if constexpr (Set != nullptr) {
    set_group = nb::cpp_function(Set, nb::is_method());
    set_tcp = onDevice<EmulatedDevice, Set>();
    set_usb = onDevice<sim::UsbEmulatedDevice, Set>();
  }
  setProperty(group, name, nb::cpp_function(Get, nb::is_method()), set_group, doc);
  setProperty(tcp, alias, onDevice<EmulatedDevice, Get>(), set_tcp, doc);
  setProperty(usb, alias, onDevice<sim::UsbEmulatedDevice, Get>(), set_usb, doc);
}

// --- digital I/O: levels applied to input pins, and what the outputs drive ------------------------

sim::DioFirmware& dioOf(const DioGroup& g) {
  auto* dio = g.fw->findModule<sim::DioFirmware>();
  if (!dio) throw std::invalid_argument(g.class_name + " has no digital I/O");
  return *dio;
}

nb::tuple wordsTuple(const sim::DioWords& w) { return nb::make_tuple(w.enabled, w.direction, w.state); }

void dioSetInput(const DioGroup& g, int port, int pin, int level) {
  if (level != 0 && level != 1) throw std::invalid_argument("level is 0 or 1");
  dioOf(g).setInput(port, pin, level == 1);
}
void dioSetInputs(const DioGroup& g, int port, int levels) {
  if (levels < 0 || levels > 0xFFFF) throw std::invalid_argument("levels is a 16-bit word");
  dioOf(g).setInputs(port, static_cast<std::uint16_t>(levels));
}
std::uint16_t dioInputs(const DioGroup& g, int port) { return dioOf(g).inputs(port); }
std::uint16_t dioOutputs(const DioGroup& g, int port) { return dioOf(g).outputs(port); }
nb::tuple dioWords(const DioGroup& g, int port) { return wordsTuple(dioOf(g).words(port)); }
nb::tuple dioStartup(const DioGroup& g, int port) { return wordsTuple(dioOf(g).startup(port)); }

void bindDioControls(nb::module_& s, nb::handle tcp, nb::handle usb) {
  nb::handle g = nb::class_<DioGroup>(s, "DioControls", "The digital I/O controls of an emulated device (dev.dio).");
  control<&dioSetInput>(g, tcp, usb, "set_input", "set_input", "port"_a, "pin"_a, "level"_a,
                        "Applies a level (0 or 1) to one DIO pin from outside; inputs read it when sampled.");
  control<&dioSetInputs>(g, tcp, usb, "set_inputs", "set_inputs", "port"_a, "levels"_a,
                         "Applies the levels of every pin of a DIO port from outside (bit n: pin n).");
  control<&dioInputs>(g, tcp, usb, "inputs", "inputs", "port"_a,
                      "The levels applied to a DIO port from outside (bit n: pin n).");
  control<&dioOutputs>(g, tcp, usb, "outputs", "outputs", "port"_a,
                       "The levels a DIO port drives: bit n is 1 when pin n is an enabled output driven high.");
  control<&dioWords>(g, tcp, usb, "words", "dio_words", "port"_a,
                     "(enabled, direction, state) words of a DIO port (bit n: pin n; direction 1 = output).");
  control<&dioStartup>(g, tcp, usb, "startup", "dio_startup", "port"_a,
                       "The stored start-up (enabled, direction, state) words of a DIO port.");
}

// --- analog input: the waveform each channel measures, the AI state the host has set, the raw
// values of the next reads, and the unthrottled switch for benchmarks ------------------------------

sim::AiFirmware& aiOf(const AiGroup& g) {
  auto* ai = g.fw->findModule<sim::AiFirmware>();
  if (!ai) throw std::invalid_argument(g.class_name + " has no analog inputs");
  return *ai;
}

nb::dict waveformDict(const sim::Waveform& w) {
  nb::dict out;
  out["kind"] = sim::waveKindName(w.kind);
  out["amplitude"] = w.amplitude;
  out["frequency"] = w.frequency;
  out["offset"] = w.offset;
  out["seed"] = w.seed;
  return out;
}

nb::dict aiStateDict(const sim::AiPortStatus& st) {
  nb::dict out;
  out["open"] = st.open;
  out["mode"] = st.mode;
  out["rate"] = st.rate;
  out["num_samples"] = st.num_samples;
  out["channels"] = st.channels;
  out["chip_selects"] = st.chip_selects;
  out["trigger_mask"] = st.trigger_mask;
  out["streaming"] = st.streaming;
  out["samples_streamed"] = st.samples_streamed;
  out["packets_sent"] = st.packets_sent;
  return out;
}

void aiSetWaveform(const AiGroup& g, int channel, const std::string& kind, double amplitude, double frequency,
                   double offset, int port, int cs, std::uint64_t seed) {
  const auto k = sim::waveKindFromName(kind);
  if (!k) throw std::invalid_argument("waveform kind must be sine, square, triangle, constant or noise, not '" + kind + "'");
  aiOf(g).setWaveform(port, cs, channel, sim::Waveform{*k, amplitude, frequency, offset, seed});
}
nb::dict aiWaveform(const AiGroup& g, int channel, int port, int cs) {
  return waveformDict(aiOf(g).waveform(port, cs, channel));
}
nb::dict aiState(const AiGroup& g, int port) { return aiStateDict(aiOf(g).status(port)); }
std::vector<std::int64_t> aiNextRead(const AiGroup& g, int port, int cs) { return aiOf(g).nextRead(port, cs); }
void aiSetRate(const AiGroup& g, double rate, int port) { aiOf(g).setRate(port, rate); }
std::vector<std::vector<std::int64_t>> aiStreamSamples(const AiGroup& g, std::uint64_t count, int port, int cs,
                                                       std::uint64_t start) {
  return aiOf(g).streamSamples(port, cs, start, static_cast<std::size_t>(count));
}
std::vector<int> aiPorts(const AiGroup& g) { return aiOf(g).ports(); }
bool aiUnthrottled(const AiGroup& g) { return aiOf(g).unthrottled(); }
void aiSetUnthrottled(const AiGroup& g, bool on) { aiOf(g).setUnthrottled(on); }

void bindAiControls(nb::module_& s, nb::handle tcp, nb::handle usb) {
  nb::handle g = nb::class_<AiGroup>(s, "AiControls", "The analog-input controls of an emulated device (dev.ai).");
  control<&aiSetWaveform>(
      g, tcp, usb, "set_waveform", "ai_set_waveform", "channel"_a, "kind"_a = "sine", "amplitude"_a = 1.0,
      "frequency"_a = 10.0, "offset"_a = 0.0, nb::kw_only(), "port"_a = 0, "cs"_a = 0, "seed"_a = 0,
      "Sets the signal an analog input channel measures, from the next sample on (running streams too).\n\n"
      "kind: 'sine' (offset + amplitude sin 2 pi f t), 'square', 'triangle' (both +-amplitude around\n"
      "offset at `frequency` Hz), 'constant' (offset alone) or 'noise' (offset + amplitude u, u uniform\n"
      "in [-1, 1), reproducible from `seed`). Values are volts. Koru: `cs` picks the chip select (0..2).\n"
      "Raises ValueError for a port, chip select, channel or kind the device lacks, a non-finite number\n"
      "or a negative frequency.");
  control<&aiWaveform>(g, tcp, usb, "waveform", "ai_waveform", "channel"_a, nb::kw_only(), "port"_a = 0, "cs"_a = 0,
                       "The waveform of a channel: {'kind', 'amplitude', 'frequency', 'offset', 'seed'}.");
  control<&aiState>(g, tcp, usb, "state", "ai_state", "port"_a = 0,
                    "What the host has set on an AI port and how its stream goes: {'open', 'mode' (0 on demand,\n"
                    "1 N samples, 2 continuous), 'rate' (Hz), 'num_samples', 'channels' (enabled count),\n"
                    "'chip_selects' (enabled; [0] except on Koru), 'trigger_mask', 'streaming',\n"
                    "'samples_streamed' (per chip select) and 'packets_sent' (all chip selects) of the current or\n"
                    "last stream}.");
  control<&aiNextRead>(g, tcp, usb, "next_read", "ai_next_read", "port"_a = 0, nb::kw_only(), "cs"_a = 0,
                       "The raw values the next on-demand read of the port (and chip select) returns: signed counts,\n"
                       "or on Tavra-I / Tavra-IA 24-bit offset codes. On-demand read k of a chip select (counted from 0\n"
                       "since the device started or CLEAR_DATA) samples the waveforms at k / rate seconds.");
  control<&aiSetRate>(g, tcp, usb, "set_rate", "ai_set_rate", "rate"_a, nb::kw_only(), "port"_a = 0,
                      "Sets the port's sampling rate as the host's AI_setSamplingRate would, without the model's\n"
                      "limit (benchmarks pace streams faster than the hardware); applies from the next stream.");
  control<&aiStreamSamples>(
      g, tcp, usb, "stream_samples", "ai_stream_samples", "count"_a, nb::kw_only(), "port"_a = 0, "cs"_a = 0,
      "start"_a = 0,
      "Raw counts of stream samples start..start+count-1 (sample n is the waveforms at n / rate s),\n"
      "one list of channel values per sample, with the port's present rate and enabled channels.");
  controlProperty<&aiPorts>(g, tcp, usb, "ports", "ai_ports", "The analog input port numbers of the device.");
  controlProperty<&aiUnthrottled, &aiSetUnthrottled>(
      g, tcp, usb, "unthrottled", "ai_unthrottled",
      "False (default): streams go out at their sampling rate. True: as fast as the connection\n"
      "takes them (for benchmarks), same values, still nothing lost: the stream waits while the\n"
      "reader is behind, and while nobody is connected to receive it.");
}

// --- the device's time ----------------------------------------------------------------------------

double clockNow(const ClockGroup& g) { return g.fw->time().now(); }
double clockScale(const ClockGroup& g) { return g.fw->time().scale(); }
void clockSetScale(const ClockGroup& g, double scale) { g.fw->time().setScale(scale); }
void clockAdvance(const ClockGroup& g, double seconds) { g.fw->time().advance(seconds); }

void bindClockControls(nb::module_& s) {
  nb::class_<ClockGroup>(s, "ClockControls",
                         "The emulated device's time (dev.clock): what it models over time (its real-time clock,\n"
                         "generators, counters, drives, paced streams) runs on it.")
      .def_prop_ro("now", &clockNow, "Seconds of device time since the device started.")
      .def_prop_rw("scale", &clockScale, &clockSetScale,
                   "How fast device time runs against the host's (1: real time; 10: ten times faster).")
      .def("advance", &clockAdvance, "seconds"_a, "Moves device time forward at once.");
}

// The groups as attributes of both device classes.
template <class D>
void bindGroups(nb::handle cls) {
  setProperty(cls, "dio", nb::cpp_function([](nb::handle self) { return groupOf<DioGroup, D>(self); }, nb::is_method()),
              nb::none(), "Digital I/O controls (DioControls).");
  setProperty(cls, "ai", nb::cpp_function([](nb::handle self) { return groupOf<AiGroup, D>(self); }, nb::is_method()),
              nb::none(), "Analog-input controls (AiControls).");
  setProperty(cls, "clock",
              nb::cpp_function([](nb::handle self) { return groupOf<ClockGroup, D>(self); }, nb::is_method()),
              nb::none(), "The device's time (ClockControls).");
}

void bindEmulator(nb::module_& s) {
  nb::class_<Emulator>(s, "Emulator", "A set of emulated devices; close() stops them all.")
      .def(nb::init<>())
      .def(
          "add",
          [](Emulator& e, const std::string& class_name, const std::string& host, bool wifi_pair, int port,
             int data_port, const std::string& serial, const std::string& firmware_version, int discovery_port,
             int answer_port) {
            sim::DeviceOptions o;
            o.host = host;
            o.wifi_pair = wifi_pair;
            o.port = port;
            o.data_port = data_port;
            o.serial = serial;
            o.firmware_version = firmware_version;
            o.discovery_port = discovery_port;
            o.answer_port = answer_port;
            return e.add(class_name, o);
          },
          "class_name"_a, "host"_a = "127.0.0.1", "wifi_pair"_a = false, "port"_a = 0, "data_port"_a = 0,
          "serial"_a = "", "firmware_version"_a = "1.0.0", "discovery_port"_a = 0,
          "answer_port"_a = sim::kDiscoveryAnswerPort, Release(),
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
  bindUsbDevice(s);
  const nb::handle tcp = s.attr("EmulatedDevice"), usb = s.attr("EmulatedUsbDevice");
  bindDioControls(s, tcp, usb);
  bindAiControls(s, tcp, usb);
  bindClockControls(s);
  bindTimerControls(s, tcp, usb);
  bindAoControls(s, tcp, usb);
  bindThermalControls(s, tcp, usb);
  bindAhrsControls(s, tcp, usb);
  bindWifiControls(s, tcp, usb);
  bindBusControls(s, tcp, usb);
  bindGroups<EmulatedDevice>(tcp);
  bindGroups<sim::UsbEmulatedDevice>(usb);
  bindNetworkControls(s, tcp, usb);
  bindSntpControls(s, tcp, usb);
  bindSdCardControls(s, tcp, usb);
  bindMotionControls(s, tcp, usb);
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
