// The analog input modules' operations, checks and state.
#include <nanobind/ndarray.h>
#include <nanobind/stl/shared_ptr.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/vector.h>

#include "binding/modules.hpp"
#include "binding/ops.hpp"
#include "zelvo/analog/ai_module.hpp"

namespace zelvo::py {

// Streamed samples as a list of rows (lists of volts).
template <>
struct Result<SampleRows> {
  static constexpr const char* pyName = "list[list[float]]";
  static nb::object to(const SampleRows& s) {
    // Millions of fresh lists would set off the cycle collector again and again, for nothing:
    // rows hold floats only.
    const int collecting = PyGC_Disable();
    nb::list out = nb::steal<nb::list>(PyList_New(static_cast<Py_ssize_t>(s.rows)));
    for (std::size_t r = 0; r < s.rows; ++r) {
      PyObject* row = PyList_New(static_cast<Py_ssize_t>(s.width));
      for (std::size_t c = 0; c < s.width; ++c)
        PyList_SET_ITEM(row, static_cast<Py_ssize_t>(c), PyFloat_FromDouble(s.values[r * s.width + c]));
      PyList_SET_ITEM(out.ptr(), static_cast<Py_ssize_t>(r), row);
    }
    if (collecting) PyGC_Enable();
    return out;
  }
};

namespace {

// The same samples as a numpy array (rows x channels, float64).
struct SampleArray {
  SampleRows rows;
};

}  // namespace

template <>
struct Result<SampleArray> {
  static constexpr const char* pyName = "numpy.typing.NDArray[numpy.float64]";
  // The array takes over the values read from the queues: no further copy.
  static nb::object to(SampleArray&& a) {
    auto* values = new std::vector<double>(std::move(a.rows.values));
    nb::capsule owner(values, [](void* p) noexcept { delete static_cast<std::vector<double>*>(p); });
    const std::size_t shape[2] = {a.rows.rows, a.rows.width};
    return nb::cast(nb::ndarray<nb::numpy, double, nb::ndim<2>>(values->data(), 2, shape, owner));
  }
  static nb::object to(const SampleArray& a) { return to(SampleArray{a.rows}); }
};

// A block with its time base: pyzelvo.StreamBlock(data, first_index, rate, t0).
template <>
struct Result<SampleBlock> {
  static constexpr const char* pyName = "pyzelvo.StreamBlock";
  static nb::object to(SampleBlock&& b) {
    const std::uint64_t first = b.rows.first_index;
    nb::object data = Result<SampleArray>::to(SampleArray{std::move(b.rows)});
    // StreamBlock is a Python class: its constructor is Python code.
    return parkingAtExit([&] {
      return nb::module_::import_("pyzelvo._blocks").attr("StreamBlock")(data, first, b.rate, b.t0);
    });
  }
  static nb::object to(const SampleBlock& b) { return to(SampleBlock(b)); }
};

namespace {

using AI = AIModule;

AIModule& ai(Device& d) { return moduleOf<AIModule>(d); }

// The array form of the streaming read: the same read, handed over as one array.
Op<SampleArray> readStreamingArray(Device& d, Call& c, int port, std::int64_t num_samples, double delay) {
  // (A named result: GCC 12 mishandles a co_await inside an aggregate initialiser.)
  SampleRows rows = co_await ai(d).readStreaming(c, port, num_samples, delay);
  co_return SampleArray{std::move(rows)};
}

void requireNumpy() {
  try {
    nb::module_::import_("numpy");
  } catch (nb::python_error&) {
    PyErr_Clear();
    throw nb::import_error("the array and block reads need numpy, which is not installed: pip install numpy");
  }
}

const nb::object kRequired;

// Operations and state shared by the 16-bit and the 24-bit streaming module.
void bindStreamingCommon(nb::handle cls) {
  defOp<&AI::open>(cls, "AI_open", {"port"}, "Opens the analog inputs of the port; 0 or a negative error code.");
  defOp<&AI::close>(cls, "AI_close", {"port"}, "Closes the analog inputs; no new samples are converted after it.");
  defOp<&AI::openStreaming>(cls, "AI_openStreaming", {"port"}, "Prepares streaming on the port.");
  defOp<&AI::startStreaming>(cls, "AI_startStreaming", {"port"}, "Starts streaming (no reply is awaited).");
  defOp<&AI::closeStreaming>(cls, "AI_closeStreaming", {"port"}, "Stops streaming.");
  defOp<&AI::setMode>(cls, "AI_setMode", {"port", "mode"}, "0 on demand, 1 N samples, 2 continuous.");
  defOp<&AI::setNumSamples>(cls, "AI_setNumSamples", {"port", "num_samples"}, "Samples of an N-samples acquisition.");
  defOp<&AI::setSamplingRate>(cls, "AI_setSamplingRate", {"port", "sampling_rate"}, "Sampling rate in Hz.");
  defOp<&AI::readOnDemand>(cls, "AI_readOnDemand", {"port"}, "One sample of every enabled channel, in volts.");

  OpSignature<3> read;
  read.names = {"port", "num_samples", "delay"};
  read.defaults = {kRequired, kRequired, nb::float_(kReadStreamingDelay)};
  read.timeout = false;
  defOpWith<&AI::readStreaming>(cls, "AI_readStreaming", read,
                            "Up to num_samples streamed samples (rows of volts, chip selects side by side), waiting "
                            "at most `delay` seconds for them.");
  // The array form: the same read as one numpy array (rows x channels, float64). numpy is checked
  // before the read, so that no samples are taken from the queues for a result that cannot be made.
  OpSignature<3> array = read;
  array.precheck = requireNumpy;
  defOpWith<&readStreamingArray>(cls, "AI_readStreamingArray", array,
                                 "AI_readStreaming as a numpy array (rows x channels, float64), filled straight from "
                                 "the queues.");
  defOpWith<&AI::readStreamingBlock>(
      cls, "AI_readStreamingBlock", array,
      "Up to num_samples consecutive streamed samples with their time base: a StreamBlock with `data`\n"
      "(numpy rows x channels, float64), `first_index` (the index of its first row in the stream since\n"
      "AI_startStreaming, dropped samples counted: a drop shows as a jump between blocks), `rate` (the\n"
      "sampling rate set for the port) and `t0` (time.monotonic() when the stream was started).");
  defCheck<&AI::droppedSamples>(
      cls, "AI_getDroppedSamples", {"port"},
      "Samples of the port dropped so far because its signal queue was full (the application read too slowly).");

  // Checks and bookkeeping.
  defCheck<&AI::checkPort>(cls, "_checkAIPort", {"port"}, "AIPortNotAvaliableError unless the port has analog inputs.");
  defCheck<&AI::checkMode>(cls, "_checkAIMode", {"mode"}, "AIModeNotAvaliableError unless mode is 0, 1 or 2.");
  defCheck<&AI::checkChannel>(cls, "_checkAIChannel", {"channel"}, "AIChannelNotAvaliableError unless 1 to 8.");
  defCheck<&AI::checkChipSelect>(cls, "_checkAIChipSelect", {"chip_select"}, "AICSNotAvaliableError unless 0, 1 or 2.");
  defCheck<&AI::checkTriggerMode>(cls, "_checkAITriggerMode", {"mode"}, "AITriggerModeNotAvaliableError unless 0 to 6.");
  defCheck<&AI::checkSamplingRate>(cls, "_ckeckAISamplingRate", {"port", "sampling_rate"},
                                   "AIRateNotVaildError when the rate is above the model's limit.");
  defCheck<&AI::triggerModeToMask>(cls, "_convertAITriggerModeToMask", {"mode"},
                                   "The trigger sources of a mode as a 3-bit mask.");
  defCheck<&AI::changePortToIndex>(cls, "_AI_changePortToIndex", {"port", "chip_select"},
                                   "Position of (port, chip select) in the queue lists (None: it has none).");
  defCheck<&AI::pinMapPorts>(cls, "_AI_getPinMapPort", {}, "The device pin-map ports that carry analog inputs.");
  defCheck<&AI::free>(cls, "_AI_free", {}, "Ends stream conversion for good (the product's close runs it).");

  // State.
  defState<&AI::numChannels>(cls, "ai_num_channels", "Channels per sample.");
  defState<&AI::streamCmd>(cls, "ai_strm_cmd", "Code of the stream packets.");
  defState<&AI::mode>(cls, "ai_mode", "Last mode set by AI_setMode.");
  defState<&AI::isOpen>(cls, "ai_open_flag", "True while the module is open.");
  defState<&AI::killed>(cls, "ai_killed", "True once _AI_free has run.");
  defState<AI>(cls, "chip_select_p0", [](const AI& a) { return a.chipSelects(0); }, "Enabled chip selects of port 0.");
  defState<AI>(cls, "chip_select_p1", [](const AI& a) { return a.chipSelects(1); }, "Enabled chip selects of port 1.");
  defState<AI>(cls, "chip_select_p3", [](const AI& a) { return a.chipSelects(3); }, "Enabled chip selects of port 3.");
  defState<Device>(
      cls, "ai_data_queue_list",
      [](Device& d) {
        nb::list out;
        for (const auto& k : ai(d).dataQueueKeys()) out.append(d.streams().queue(k));
        return out;
      },
      "The raw stream queues the module reads (packets wait there while the module is closed).");
  defState<AI>(
      cls, "ai_signal_queue_list",
      [](const AI& a) {
        nb::list out;
        for (const auto& q : a.signalQueues()) out.append(q);
        return out;
      },
      "The queues of converted samples, one per (port, chip select).");
}

}  // namespace

void bindAIModule(nb::handle cls) {
  bindStreamingCommon(cls);
  defState<&AI::echoCmd>(cls, "ai_echo_cmd", "Code of the on-demand read.");
  defOp<&AI::enableChannel>(cls, "AI_enableChannel", {"port", "channel"}, "Enables channels 0 to channel - 1.");
  OpSignature<2> cs;
  cs.names = {"slot", "chip_select"};
  nb::list zero;
  zero.append(0);
  cs.defaults = {kRequired, zero};
  defOpWith<&AI::enableCS>(cls, "AI_enableCS", cs, "Enables the chip selects of a slot (the modular controller).");
  defOp<&AI::setTriggerMode>(cls, "AI_setTriggerMode", {"port", "mode"}, "Which sources may start streaming (0 to 6).");
  defOp<&AI::getDataRTC>(cls, "_AI_getDataRTC", {"port"}, "One read of the clock-triggered on-demand mode.");
  defOp<&AI::getCounter>(cls, "_AI_getCounter", {"port"}, "Nine 32-bit counters of the acquisition.");
  defOp<&AI::clearBufferStatus>(cls, "_AI_clearBufferStatus", {"port"}, "Resets the device's AI buffer.");
  defOp<&AI::readBufferStatus>(cls, "_AI_readBufferStatus", {"port"}, "Four 32-bit words of buffer status.");
  defOp<&AI::checkAIPinState>(cls, "_checkAIPinState", {"port", "allow_state"},
                              "True when every analog pin is in one of the allowed modes, else AIPortNotAvaliableError.");
}

// The 24-bit streaming model has the streaming members only.
void bindAI24BitStreamingModule(nb::handle cls) { bindStreamingCommon(cls); }

void bindAI24BitModule(nb::handle cls) {
  using A = AI24BitModule;
  defOp<&A::open>(cls, "AI_open", {"port"}, "Returns 0 (the 24-bit inputs need no opening).");
  defOp<&A::close>(cls, "AI_close", {"port"}, "Returns 0.");
  defOp<&A::readOnDemand>(cls, "AI_readOnDemand", {"port"}, "Eight values of the port on the model's full scale.");
  defCheck<&A::checkPort>(cls, "_checkAIPort", {"port"}, "AIPortNotAvaliableError unless the port has analog inputs.");
}

void bindSignalQueue(nb::module_& m) {
  nb::class_<SampleQueue>(m, "SignalQueue", "Converted samples of one (port, chip select), oldest first.")
      .def("qsize", &SampleQueue::size, "Queued samples.")
      .def("empty", [](const SampleQueue& q) { return q.size() == 0; })
      .def("__len__", &SampleQueue::size)
      .def_prop_ro("dropped", &SampleQueue::dropped, "Samples dropped because the queue was full.")
      .def_prop_ro("maxsize", &SampleQueue::capacity)
      .def("__repr__", [](const SampleQueue& q) {
        return "<SignalQueue " + std::to_string(q.size()) + " samples, " + std::to_string(q.dropped()) + " dropped>";
      });
}

}  // namespace zelvo::py
