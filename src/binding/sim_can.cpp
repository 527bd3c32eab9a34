// dev.can: the emulated CAN controller: frames from the far side and periodic generators, what the
// host wrote, the controller's settings, counters and error counts, and the unthrottled switch.
#include <nanobind/stl/optional.h>
#include <nanobind/stl/vector.h>

#include "binding/sim_group.hpp"
#include "zelvo/sim/can_firmware.hpp"

namespace nb = nanobind;
using namespace nb::literals;

namespace zelvo::py {
namespace {

using CanGroup = PeripheralGroup<sim::CANFirmware>;

sim::CANFirmware& canOf(const CanGroup& g) { return g.module(); }

constexpr std::int64_t kMaxExtendedId = 0x1FFFFFFF;
constexpr std::int64_t kMaxStandardId = 0x7FF;
constexpr std::size_t kDataBytes = 8;

sim::CanWireFrame frameOf(std::int64_t id, const nb::bytes& data, bool extended, bool remote) {
  if (id < 0 || id > (extended ? kMaxExtendedId : kMaxStandardId))
    throw std::invalid_argument("the identifier does not fit its format");
  if (data.size() > kDataBytes) throw std::invalid_argument("a CAN frame holds at most 8 data bytes");
  sim::CanWireFrame f;
  f.id = static_cast<std::uint32_t>(id);
  f.extended = extended;
  f.remote = remote;
  const auto* b = static_cast<const Byte*>(data.data());
  std::copy(b, b + data.size(), f.data.begin());
  return f;
}

nb::tuple frameTuple(const sim::CanWireFrame& f) {
  return nb::make_tuple(f.id, f.extended, f.remote, nb::bytes(reinterpret_cast<const char*>(f.data.data()), f.data.size()));
}

nb::list filterList(const auto& values) {
  nb::list out;
  for (const auto& v : values) out.append(nb::make_tuple(v.id, v.extended));
  return out;
}

nb::dict state(const CanGroup& g) {
  const sim::CanPortState s = canOf(g).state();
  nb::dict out;
  out["open"] = s.open;
  out["started"] = s.started;
  out["speed_mode"] = s.speed_mode;
  out["bitrate"] = sim::kCanBitRates[static_cast<std::size_t>(s.speed_mode)];
  out["filtering"] = s.filtering;
  out["filters"] = filterList(s.filters);
  out["masks"] = filterList(s.masks);
  out["interrupt_enable"] = s.interrupt_enable;
  out["rollover"] = s.rollover;
  out["tx_priority"] = std::vector<int>(s.tx_priority.begin(), s.tx_priority.end());
  out["rx_pending"] = s.rx_pending;
  return out;
}

nb::dict counters(const CanGroup& g) {
  const sim::CanCounters c = canOf(g).counters();
  nb::dict out;
  out["tx_interrupts"] = c.tx_interrupts;
  out["rx_interrupts"] = c.rx_interrupts;
  out["spi_transfers"] = c.spi_transfers;
  out["frames_sent"] = c.frames_sent;
  out["bus_errors"] = c.bus_errors;
  out["overflows"] = c.overflows;
  return out;
}

}  // namespace

void bindCanControls(nb::module_& s, nb::handle tcp, nb::handle usb) {
  nb::class_<CanGroup>(s, "CanControls", "The CAN controls of an emulated device (dev.can).")
      .def("state", &state,
           "The controller: {'open', 'started', 'speed_mode', 'bitrate', 'filtering', 'filters' and 'masks'\n"
           "([(id, extended), ...]), 'interrupt_enable', 'rollover', 'tx_priority', 'rx_pending' (frames\n"
           "received and not streamed yet)}.")
      .def("counters", &counters,
           "{'tx_interrupts', 'rx_interrupts', 'spi_transfers', 'frames_sent', 'bus_errors', 'overflows'}.")
      .def(
          "inject",
          [](const CanGroup& g, std::int64_t id, nb::bytes data, bool extended, bool remote) {
            canOf(g).inject(frameOf(id, data, extended, remote));
          },
          "id"_a, "data"_a = nb::bytes(""), "extended"_a = false, "remote"_a = false,
          "A frame from the far side: on the bus after those already there, received one frame time\n"
          "later (data is zero-padded to 8 bytes).")
      .def(
          "add_generator",
          [](const CanGroup& g, std::int64_t id, nb::bytes data, double period, bool extended, bool remote,
             std::optional<std::uint64_t> count, bool counter) {
            return canOf(g).addGenerator(frameOf(id, data, extended, remote), period, count, counter);
          },
          "id"_a, "data"_a = nb::bytes(""), "period"_a = 0.1, "extended"_a = false, "remote"_a = false,
          "count"_a = nb::none(), "counter"_a = false,
          "Sends a frame every `period` seconds of device time from the far side (`count` times, or\n"
          "without end); with counter=True data bytes 0..3 carry a running number (big-endian). Returns\n"
          "a handle for remove_generator.")
      .def("remove_generator", [](const CanGroup& g, int handle) { canOf(g).removeGenerator(handle); }, "handle"_a)
      .def_prop_ro("generators", [](const CanGroup& g) { return canOf(g).generators(); }, "Handles of the running generators.")
      .def(
          "transmitted",
          [](const CanGroup& g) {
            nb::list out;
            for (const auto& f : canOf(g).transmitted()) out.append(frameTuple(f));
            return out;
          },
          "The latest frames the host wrote, oldest first: [(id, extended, remote, data), ...].")
      .def(
          "set_error_counts", [](const CanGroup& g, int transmit, int receive) { canOf(g).setErrorCounts(transmit, receive); },
          "transmit"_a, "receive"_a, "Sets the transmit and receive error counts (0..255); a rise counts a bus error.")
      .def("frame_time", [](const CanGroup& g, bool extended) { return canOf(g).frameTime(extended); },
           "extended"_a = false, "Seconds one 8-byte frame takes at the present bit rate.")
      .def_prop_rw(
          "unthrottled", [](const CanGroup& g) { return canOf(g).unthrottled(); },
          [](const CanGroup& g, bool on) { canOf(g).setUnthrottled(on); },
          "False (default): frames arrive at the bus's pace and the generators' periods. True: at once, as\n"
          "fast as the connection takes them (for benchmarks); nothing is lost either way.")
      .def_prop_ro("port", [](const CanGroup& g) { return canOf(g).port(); }, "The CAN port number.");
  addGroupProperty<CanGroup>(tcp, usb, "can", "CAN", "CAN controls (CanControls).");
}

}  // namespace zelvo::py
