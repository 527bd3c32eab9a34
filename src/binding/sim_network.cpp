// dev.network: the emulated device's network settings and its discovery responder (its counters
// and fault controls).
#include <arpa/inet.h>
#include <nanobind/stl/optional.h>
#include <nanobind/stl/string.h>

#include <cstdio>

#include "binding/bindings.hpp"
#include "binding/sim_group.hpp"
#include "binding/sim_ipv4.hpp"
#include "zelvo/sim/network_firmware.hpp"

namespace zelvo::py {
namespace {

using namespace nb::literals;
using sim::IPv4;
using sim::MAC;

struct NetworkGroup : PeripheralGroup<sim::NetworkFirmware> {
  sim::NetworkFirmware& net() const { return module(); }
  // The device's discovery responder; null on a device that does not answer discovery (USB).
  sim::DiscoveryResponder* responder() const {
    return nb::isinstance<sim::EmulatedDevice>(device) ? nb::cast<sim::EmulatedDevice&>(device).discovery() : nullptr;
  }
  sim::DiscoveryResponder& discovery() const {
    if (!responder()) throw std::invalid_argument(class_name + " does not answer discovery");
    return *responder();
  }
};

MAC macFrom(const std::string& text) {
  MAC m{};
  char end = 0;
  if (std::sscanf(text.c_str(), "%2hhx:%2hhx:%2hhx:%2hhx:%2hhx:%2hhx%c", &m[0], &m[1], &m[2], &m[3], &m[4], &m[5], &end) != 6)
    throw std::invalid_argument("'" + text + "' is not a MAC address (six hexadecimal fields)");
  return m;
}

std::string macText(const MAC& m) {
  char buf[18];
  std::snprintf(buf, sizeof buf, "%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
  return buf;
}

// Sets one of the three addresses, keeping the other two.
template <IPv4 sim::NetworkSettings::*Field>
void setAddress(const NetworkGroup& g, const std::string& text) {
  sim::NetworkSettings s = g.net().settings();
  s.*Field = ipv4From(text);
  if (!g.net().setAddresses(s.ip, s.mask, s.gateway)) throw std::invalid_argument("the device refuses '" + text + "'");
}
template <IPv4 sim::NetworkSettings::*Field>
std::string address(const NetworkGroup& g) {
  return ipv4Text(g.net().settings().*Field);
}

void setMac(const NetworkGroup& g, const std::string& text) {
  if (!g.net().setMac(macFrom(text))) throw std::invalid_argument("the device refuses the MAC address '" + text + "'");
}

std::optional<int> discoveryPort(const NetworkGroup& g) {
  return g.responder() ? std::optional<int>(g.responder()->requestPort()) : std::nullopt;
}
std::optional<int> answerPort(const NetworkGroup& g) {
  return g.responder() ? std::optional<int>(g.responder()->answerPort()) : std::nullopt;
}

void setAnswerMark(const NetworkGroup& g, int mark) {
  if (mark < 0 || mark > 255) throw std::invalid_argument("the answer mark is a byte 0..255");
  g.discovery().setAnswerMark(static_cast<Byte>(mark));
}

void setAnswerLimit(const NetworkGroup& g, std::optional<int> bytes) {
  if (bytes && *bytes < 0) throw std::invalid_argument("an answer cannot be cut to fewer than 0 bytes");
  g.discovery().setAnswerLimit(bytes ? std::optional<std::size_t>(static_cast<std::size_t>(*bytes)) : std::nullopt);
}

}  // namespace

IPv4 ipv4From(const std::string& text) {
  in_addr a{};
  if (inet_pton(AF_INET, text.c_str(), &a) != 1) throw std::invalid_argument("'" + text + "' is not a dotted IPv4 address");
  const std::uint32_t v = ntohl(a.s_addr);
  return {Byte(v >> 24), Byte(v >> 16), Byte(v >> 8), Byte(v)};
}

std::string ipv4Text(const IPv4& a) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", a[0], a[1], a[2], a[3]);
  return buf;
}

void bindNetworkControls(nb::module_& s, nb::handle tcp, nb::handle usb) {
  using G = NetworkGroup;
  using sim::NetworkSettings;
  nb::class_<G>(s, "NetworkControls",
                "The network settings and the discovery responder of an emulated device (dev.network).\n\n"
                "Addresses are dotted texts; setting one changes the emulated state only (and at once the\n"
                "discovery record), never a real interface.")
      .def_prop_rw("ip", &address<&NetworkSettings::ip>, &setAddress<&NetworkSettings::ip>, "The device's IP address.")
      .def_prop_rw("subnet_mask", &address<&NetworkSettings::mask>, &setAddress<&NetworkSettings::mask>,
                   "The subnet mask.")
      .def_prop_rw("gateway", &address<&NetworkSettings::gateway>, &setAddress<&NetworkSettings::gateway>,
                   "The gateway address.")
      .def_prop_rw("mac", [](const G& g) { return macText(g.net().settings().mac); }, &setMac,
                   "The MAC address ('02:5a:...'); give two devices the same one to test duplicates.")
      .def_prop_ro("record", [](const G& g) {
        const Bytes r = g.net().deviceRecord();
        return nb::bytes(reinterpret_cast<const char*>(r.data()), r.size());
      }, "The 106-byte record the device answers discovery with.")
      .def_prop_ro("rings", [](const G& g) { return g.net().rings(); },
                   "Ring requests for this device so far (each copy of a request counts).")
      .def_prop_ro("reboots", [](const G& g) { return g.net().reboots(); }, "Reboots by discovery request so far.")
      .def_prop_ro("discovery_port", &discoveryPort, "Port discovery requests reach the device on (None: no discovery).")
      .def_prop_ro("answer_port", &answerPort, "Port the device sends discovery answers to (None: no discovery).")
      .def_prop_ro("online", [](const G& g) { return g.discovery().online(); },
                   "False while a discovery reboot keeps the device offline.")
      .def("discovery_requests", [](const G& g, int code) { return g.discovery().requestCount(code); }, "code"_a,
           "Discovery requests with this code that reached the device (ignored ones included).")
      .def("ignore_discovery", [](const G& g, int n) { g.discovery().ignoreNext(n); }, "n"_a,
           "The next n discovery requests are lost: neither acted on nor answered (3 copies are sent\n"
           "per operation: ignore_discovery(2) answers only the third).")
      .def_prop_rw("answer_mark", [](const G& g) { return int{g.discovery().answerMark()}; }, &setAnswerMark,
                   "First byte of every discovery answer: 1; a finder ignores answers that start otherwise.")
      .def_prop_rw("answer_limit",
                   [](const G& g) {
                     const auto l = g.discovery().answerLimit();
                     return l ? std::optional<int>(static_cast<int>(*l)) : std::nullopt;
                   },
                   &setAnswerLimit, "Discovery answers are cut to this many bytes after the first (None: whole).")
      .def_prop_rw("reboot_seconds", [](const G& g) { return g.discovery().rebootSeconds(); },
                   [](const G& g, double seconds) { g.discovery().setRebootSeconds(seconds); },
                   "How long a discovery reboot keeps the device offline (1 s).")
      .def("reset_discovery_faults", [](const G& g) { g.discovery().resetFaults(); },
           "Back to honest discovery answers (counters are kept).");
  addGroupProperty<G>(tcp, usb, "network", "network settings", "Network settings and discovery (NetworkControls).");
}

}  // namespace zelvo::py
