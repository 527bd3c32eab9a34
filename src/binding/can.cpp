// The CAN module's operations, checks and state, and the CANFrame value class.
#include <nanobind/stl/string.h>
#include <nanobind/stl/vector.h>

#include "binding/pyconv.hpp"
#include "binding/bus_values.hpp"
#include "binding/modules.hpp"
#include "binding/ops.hpp"
#include "zelvo/bus/can_module.hpp"

namespace zelvo::py {

// Frames taken by CAN_read: exactly one comes back as the frame itself, others as a list.
template <>
struct Result<CanFrames> {
  static constexpr const char* pyName = "CANFrame | list[CANFrame]";
  static nb::object to(const CanFrames& f) {
    if (f.frames.size() == 1) return nb::cast(f.frames.front());
    nb::list out;
    for (const auto& frame : f.frames) out.append(nb::cast(frame));
    return out;
  }
};

// Frames with the time they were received (seconds since the epoch): [(timestamp, frame), ...].
template <>
struct Result<std::vector<ReceivedFrame>> {
  static constexpr const char* pyName = "list[tuple[float, CANFrame]]";
  static nb::object to(const std::vector<ReceivedFrame>& frames) {
    nb::list out;
    for (const auto& r : frames) out.append(nb::make_tuple(r.timestamp, nb::cast(r.frame)));
    return out;
  }
};

void bindCanFrame(nb::module_& m) {
  nb::class_<CANFrame>(m, "CANFrame",
                       "One CAN frame: identifier, extended and remote flags, eight data bytes, and its 12-byte wire\n"
                       "form (frame_in_list: the identifier word's 4 bytes, then the data). A plain value: nothing is\n"
                       "checked; after changing a field, setID() recomputes id_in_list and frame_in_list.")
      .def(nb::init<std::int64_t, bool, bool, std::vector<std::int64_t>>(), nb::arg("id_"), nb::arg("extended_id") = false,
           nb::arg("remote") = false, nb::arg("data") = std::vector<std::int64_t>{})
      .def_rw("id", &CANFrame::id)
      .def_rw("extended_id", &CANFrame::extended_id)
      .def_rw("remote", &CANFrame::remote)
      .def_rw("data", &CANFrame::data, "Exactly eight values after construction (zero-padded, cut).")
      .def_rw("id_in_list", &CANFrame::id_in_list)
      .def_rw("frame_in_list", &CANFrame::frame_in_list)
      .def_static("regularizeData", &CANFrame::regularizeData, nb::arg("data"),
                  "The data followed by eight zeros, cut to its first eight elements.")
      .def("setID", &CANFrame::setID, "Recomputes id_in_list and frame_in_list.")
      .def_static(
          "fromU8List", [](const std::vector<std::int64_t>& row) { return CANFrame::fromU8List(row); }, nb::arg("u8_list"),
          "A frame from a received row: the identifier word in the first 4 elements, the data after.")
      .def("__str__", &CANFrame::text)
      .def("__repr__", &CANFrame::text)
      .def("__eq__", [](const CANFrame& a, nb::handle b) {
        return nb::isinstance<CANFrame>(b) && a == nb::cast<const CANFrame&>(b);
      })
      .def("__ne__", [](const CANFrame& a, nb::handle b) {
        return !nb::isinstance<CANFrame>(b) || !(a == nb::cast<const CANFrame&>(b));
      });
}

namespace {

using C = CANModule;
const nb::object kRequired;

void bindFrames(nb::handle cls) {
  OpSignature<5> write;
  write.names = {"port", "id_", "data", "remote", "extended_id"};
  write.defaults = {kRequired, kRequired, kRequired, nb::bool_(false), nb::bool_(false)};
  defOpWith<&C::write>(cls, "CAN_write", write,
                       "Sends a frame: the identifier (0..0x7FF standard, 0..0x1FFFFFFF extended), up to eight data "
                       "bytes (a remote frame sends eight zeros, whatever data holds); 0 or a negative code. Sent once.");
  OpSignature<3> read;
  read.names = {"port", "num_frames", "delay"};
  read.defaults = {kRequired, kRequired, nb::float_(kCanReadDelay)};
  read.timeout = false;
  defOpWith<&C::read>(cls, "CAN_read", read,
                      "num_frames received frames (-1: all queued): a list of CANFrame, the frame itself when exactly "
                      "one is taken. The blocking form waits, without a time limit, until they are there or the "
                      "module closes, is freed or the device closes (then it returns what is queued); the awaitable "
                      "form takes what is queued now.");
  OpSignature<4> receive;
  receive.names = {"port", "at_least", "at_most", "wait"};
  receive.defaults = {kRequired, nb::int_(1), nb::int_(static_cast<std::int64_t>(QUEUE_SIZE_MAX)), nb::none()};
  receive.timeout = false;
  defOpWith<&C::receive>(cls, "_CAN_receive", receive,
                         "Received frames with their arrival times [(seconds since the epoch, CANFrame), ...]: waits "
                         "at most `wait` seconds (None: no limit) until at_least are queued or nothing more can come, "
                         "then takes up to at_most. Both forms wait.");
  defCheck<&C::available>(cls, "_CAN_available", {}, "Received frames queued.");
  defCheck<&C::droppedFrames>(cls, "_CAN_droppedFrames", {}, "Received frames dropped because the queue was full.");
}

void bindSettings(nb::handle cls) {
  defOp<&C::setSpeed>(cls, "CAN_setSpeed", {"port", "speed_mode"},
                      "Bit rate: 0 125 k, 1 250 k, 2 500 k, 3 1 M bit/s; 0 or a negative code.");
  defOp<&C::setRXFilteringOn>(cls, "CAN_setRXFilteringOn", {"port", "on_off"},
                              "Receive filtering on (1, True) or off (0, False); 0 or a negative code.");
  OpSignature<5> fm;
  fm.names = {"port", "index", "id_", "remote", "extended_id"};
  fm.defaults = {kRequired, kRequired, kRequired, nb::bool_(false), nb::bool_(false)};
  defOpWith<&C::setRXFilterOrMask>(cls, "CAN_setRXFilterOrMask", fm,
                                   "Sets receive filter 0..5 or mask 6..7 (index) to an identifier; 0 or a negative code.");
  defOp<&C::setTXPriority>(cls, "_CAN_setTXPriority", {"port", "tx_mode", "priority_mode"},
                           "Priority 0..3 of transmit buffer 0..2; 0 or a negative code.");
  defOp<&C::setEnableInterrupt>(cls, "_CAN_setEnableInterrupt", {"port", "status"},
                                "Sets the interrupt-enable byte; 0 or a negative code.");
  defOp<&C::setRXRollover>(cls, "_CAN_setRXRollover", {"port", "status"}, "Sets the receive rollover byte; 0 or a negative code.");
  defOp<&C::getErrors>(cls, "_CAN_getErrors", {"port"}, "[transmit error count, receive error count].");
  defOp<&C::getInterrupts>(cls, "_CAN_getInterrupts", {"port"}, "[interrupt enable, interrupt state, error state].");
  defOp<&C::getCounters>(cls, "_CAN_getCounters", {"port"},
                         "Six counters: transmit interrupts, receive interrupts, SPI transfers, frames sent, bus "
                         "errors, overflows.");
}

void bindChecks(nb::handle cls) {
  defCheck<&C::getPort>(cls, "CAN_getPort", {}, "The CAN port numbers.");
  defCheck<&C::checkPort>(cls, "_checkCANPort", {"port"}, "True, or CANPortNotAvaliableError when the map has no such port.");
  defCheck<&C::checkSpeed>(cls, "_checkCANSpeed", {"mode"}, "True, or CANSpeedNotVaildError unless 0..3.");
  defCheck<&C::checkTXIndex>(cls, "_checkCANTXIndex", {"mode"}, "True, or CANTXNotVaildError unless 0..2.");
  defCheck<&C::checkTXPriority>(cls, "_checkCANTXPriority", {"mode"}, "True, or CANTXPriorityNotVaildError unless 0..3.");
  defCheck<&C::checkDataRangeAndLength>(cls, "_checkCANDataRangeAndLength", {"data"},
                                        "True, or CANDataLengthNotVaildError beyond 8 bytes / InputDataNotInRangeError.");
  defCheck<&C::pinMapPorts>(cls, "_CAN_getPinMapPort", {"port"}, "The device ports that carry the CAN port's pins.");
  defOp<&C::checkPinState>(cls, "_checkCANPinState", {"port", "modes"},
                           "True when every pin of the CAN port is in one of the modes, else CANPortNotAvaliableError.");
  defCheck<&C::free>(cls, "_CAN_free", {}, "Ends delivery for good and wakes blocked reads (the product's close runs it).");
  defState<&C::isOpen>(cls, "can_open_flag", "True while the module is open.");
  defState<&C::killed>(cls, "can_killed", "True once _CAN_free has run.");
}

}  // namespace

void bindCANModule(nb::handle cls) {
  defOp<&C::open>(cls, "CAN_open", {"port"},
                  "Opens the CAN controller after checking that its pins are free (Idle, DI or DO); on status 0 "
                  "received frames are delivered. 0 or a negative code.");
  defOp<&C::close>(cls, "CAN_close", {"port"},
                   "CAN_stop, then closes the controller; on status 0 delivery stops and a blocked read returns. 0 "
                   "or a negative code (CAN_stop's when it fails).");
  defOp<&C::start>(cls, "CAN_start", {"port"}, "Asks the device to stream received frames (no reply); 0.");
  defOp<&C::stop>(cls, "CAN_stop", {"port"}, "Asks the device to stop streaming; 0 or a negative code.");
  bindFrames(cls);
  bindSettings(cls);
  bindChecks(cls);
}

}  // namespace zelvo::py
