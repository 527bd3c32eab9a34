// Device classes as Python classes: the transport bases, their connection life cycle, the pools
// as read-only views, and the request/reply primitives of both families.
#include <nanobind/nanobind.h>
#include <nanobind/stl/optional.h>
#include <nanobind/stl/shared_ptr.h>
#include <nanobind/stl/string.h>

#include "binding/awaitable.hpp"
#include "binding/bindings.hpp"
#include "binding/errors.hpp"
#include "binding/ops.hpp"
#include "binding/pyconv.hpp"
#include "zelvo/core/frame.hpp"
#include "zelvo/core/usb_client.hpp"

namespace zelvo::py {
namespace {

using RawQueue = StreamPool::Queue;

nb::object streamKeyToPy(const StreamKey& k) {
  if (k.arity == 1) return nb::int_(k.code);
  if (k.arity == 2) return nb::make_tuple(k.code, k.a);
  return nb::make_tuple(k.code, k.a, k.b);
}

StreamKey streamKeyFromPy(nb::handle h) {
  if (integerOrNull(h).is_valid()) return StreamKey{Arg<int>::from(h, "key"), 0, 0, 1};
  if (PyTuple_Check(h.ptr())) {
    const auto t = nb::borrow<nb::tuple>(h);
    const std::size_t n = nb::len(t);
    if (n == 2) return StreamKey{Arg<int>::from(t[0], "key"), Arg<int>::from(t[1], "key"), 0, 2};
    if (n == 3)
      return StreamKey{Arg<int>::from(t[0], "key"), Arg<int>::from(t[1], "key"), Arg<int>::from(t[2], "key"), 3};
  }
  wrongType("key", "an int or a tuple of 2 or 3 ints", h);
}

StreamItems takeStream(RawQueue& q, std::int64_t num_samples) {
  const std::size_t available = q.size();
  if (available == 0) return {};
  const bool partial = num_samples > -1 && static_cast<std::size_t>(num_samples) < available;
  return {q.take(partial ? num_samples : static_cast<std::int64_t>(available))};
}

std::shared_ptr<RawQueue> queueArg(nb::handle h) {
  std::shared_ptr<RawQueue> q;
  if (!nb::try_cast(h, q) || !q) wrongType("queue_", "a StreamQueue", h);
  return q;
}

double waitArg(nb::handle h, const char* name) { return Arg<double>::from(h, name); }

// --- the request/reply primitives ------------------------------------------------------------

template <class R>
nb::object awaitOp(const char* name, nb::handle self_obj, std::shared_ptr<Call> call,
                   std::function<Op<R>(Call&)> make) {
  return makeAwaitable<R>(name, self_obj, std::move(call), std::move(make));
}

Op<Bytes> echoOrRaise(Call& call, int cmd, Bytes data) {
  auto r = co_await call.echoOnce(cmd, std::move(data));
  if (!r) call.throwTimeout();
  co_return std::move(*r);
}

Op<Bytes> replyOrRaise(Call& call, ReplyKey key, std::optional<double> timeout) {
  auto r = co_await call.reply(key, timeout);
  if (!r) call.throwTimeout();
  co_return std::move(*r);
}

// Waits until the queue holds n items, the call's time-out passes or the link goes down.
Op<void> waitForItems(Call& call, std::shared_ptr<RawQueue> q, std::size_t n) {
  auto enough = q->atLeast(n);
  co_await WaitFor<Unit, RawQueue::AtLeast>(call.waitMode(), enough, call.deadline(), call.device().connectionError());
}

Op<void> sendOnlyOp(Call& call, int cmd, Bytes data) {
  call.sendOnly(cmd, data);
  co_return;
}

int cmdArg(nb::handle h) { return Arg<int>::from(h, "cmd"); }
Bytes dataArg(nb::handle h) { return Arg<Bytes>::from(h, "data_out"); }

bool verboseArg(nb::handle h) { return Arg<bool>::from(h, "verbose"); }

// The transport bases: built from a model text, and disconnected, with `verbose` checked like
// every other argument.
template <class Cls>
void bindBase(Cls& cls, const char* model, const char* disconnect_doc) {
  using D = typename Cls::Type;
  const std::string init_sig =
      std::string("def __init__(self, model: str = '") + model + "', verbose: bool = True) -> None";
  cls.def(
      "__init__",
      [](D* self, nb::handle model_text, nb::handle verbose) {
        const std::string m = Arg<std::string>::from(model_text, "model");
        const bool v = verboseArg(verbose);
        Unlocked release;
        new (self) D(m, v);
        self->markLive();
      },
      nb::arg("model").none() = model, nb::arg("verbose").none() = true, nb::sig(init_sig.c_str()));
  if (disconnect_doc)
    cls.def(
        "disconnect",
        [](D& d, nb::handle verbose) {
          const bool v = verboseArg(verbose);
          Unlocked release;
          d.disconnect(v);
        },
        nb::arg("verbose").none() = true, nb::sig("def disconnect(self, verbose: bool = True) -> None"),
        disconnect_doc);
}

template <class Cls>
void bindPacket(Cls& cls) {
  cls.def(
         "_preparePacket",
         [](Device&, nb::handle cmd, nb::handle data) { return byteList(buildFrame(cmdArg(cmd), dataArg(data))); },
         nb::arg("cmd").none(), nb::arg("data_out").none() = nb::list(),
         nb::sig("def _preparePacket(self, cmd: int, data_out: list[int] = []) -> list[int]"),
         "The frame of a command: STX, 16-bit length, code, payload, CR LF.")
      .def(
          "_echoPacket",
          [](Device& d, nb::handle cmd, nb::handle data, nb::handle timeout) {
            const int c = cmdArg(cmd);
            Bytes b = dataArg(data);
            const double t = waitArg(timeout, "timeout");
            return runBlockingWith<Bytes>(d, t, [&](Call& call) { return echoOrRaise(call, c, b); });
          },
          nb::arg("cmd").none(), nb::arg("data_out").none(), nb::arg("timeout").none(),
          nb::sig("def _echoPacket(self, cmd: int, data_out: list[int], timeout: float) -> bytes"),
          "Sends once and waits up to `timeout` s for the reply (ReceivePacketTimeoutError).")
      .def(
          "_echoPacketWithRetry",
          [](Device& d, nb::handle cmd, nb::handle data, nb::handle timeout) {
            const int c = cmdArg(cmd);
            Bytes b = dataArg(data);
            return runBlockingWith<Bytes>(d, waitArg(timeout, "timeout"), [&](Call& call) { return call.echo(c, b); });
          },
          nb::arg("cmd").none(), nb::arg("data_out").none(), nb::arg("timeout").none() = PACKET_TIMEOUT,
          nb::sig("def _echoPacketWithRetry(self, cmd: int, data_out: list[int], timeout: float = 5) -> bytes"),
          "The echo exchange: up to three sends, then a last wait; ReceivePacketTimeoutError when no reply.")
      .def(
          "_getReplyFromPool",
          [](Device& d, nb::handle cmd, nb::handle timeout) {
            const ReplyKey key = Arg<std::int64_t>::from(cmd, "cmd");
            const double t = waitArg(timeout, "timeout");
            return runBlockingWith<Bytes>(d, t, [&](Call& call) { return replyOrRaise(call, key, t); });
          },
          nb::arg("cmd").none(), nb::arg("timeout").none(), nb::sig("def _getReplyFromPool(self, cmd: int, timeout: float) -> bytes"),
          "Takes the reply filed under the key, waiting up to `timeout` s (ReceivePacketTimeoutError).")
      .def(
          "_getStreamingFromPool",
          [](Device& d, nb::handle queue, nb::handle num, nb::handle delay) {
            auto q = queueArg(queue);
            const std::int64_t n = Arg<std::int64_t>::from(num, "num_samples");
            const double wait = waitArg(delay, "delay");
            d.requireOpen();
            // Nothing more can arrive without a link: what is queued is returned at once.
            if (n > -1 && q->size() < static_cast<std::size_t>(n) && d.receiving())
              runBlockingWith<void>(d, wait, [&](Call& c) { return waitForItems(c, q, static_cast<std::size_t>(n)); });
            return toPy(takeStream(*q, n));
          },
          nb::arg("queue_").none(), nb::arg("num_samples").none(), nb::arg("delay").none(),
          nb::sig("def _getStreamingFromPool(self, queue_: StreamQueue, num_samples: int, delay: float) -> list"),
          "Takes up to num_samples queued items (-1: all), waiting up to `delay` s for num_samples.")
      .def(
          "_sendPacketWithoutReply",
          [](Device& d, nb::handle cmd, nb::handle data) {
            const int c = cmdArg(cmd);
            const Bytes b = dataArg(data);
            Unlocked release;
            d.sendCommand(buildFrame(c, b));
          },
          nb::arg("cmd").none(), nb::arg("data_out").none(),
          nb::sig("def _sendPacketWithoutReply(self, cmd: int, data_out: list[int]) -> None"),
          "Sends a command without waiting for anything.")
      .def(
          "_broadcastPacket",
          [](Device& d, nb::handle cmd, nb::handle data) {
            const int c = cmdArg(cmd);
            Bytes b = dataArg(data);
            return runBlockingWith<std::set<Bytes>>(d, PACKET_TIMEOUT, [&](Call& call) { return call.broadcast(c, b); });
          },
          nb::arg("cmd").none(), nb::arg("data_out").none(),
          nb::sig("def _broadcastPacket(self, cmd: int, data_out: list[int]) -> set[bytes]"),
          "Broadcasts the request three times and returns the distinct answers collected for 5 s.")
      .def(
          "_echoPacket_async",
          [](nb::handle self, nb::handle cmd, nb::handle data, nb::handle timeout) {
            const int c = cmdArg(cmd);
            Bytes b = dataArg(data);
            const double t = waitArg(timeout, "timeout");
            auto call = Call::awaitable(nb::cast<Device&>(self), t);
            return awaitOp<std::optional<Bytes>>("_echoPacket_async", self, call,
                                                 [c, b](Call& k) { return k.echoOnce(c, b); });
          },
          nb::arg("cmd").none(), nb::arg("data_out").none(), nb::arg("timeout").none() = PACKET_TIMEOUT,
          nb::sig("def _echoPacket_async(self, cmd: int, data_out: list[int], timeout: float = 5) -> "
                  "collections.abc.Coroutine[typing.Any, typing.Any, bytes | None]"),
          "Sends once and waits up to `timeout` s; None when no reply came.")
      .def(
          "_echoPacketWithRetry_async",
          [](nb::handle self, nb::handle cmd, nb::handle data, nb::handle retries, nb::handle timeout) {
            const int c = cmdArg(cmd);
            Bytes b = dataArg(data);
            const int n = Arg<int>::from(retries, "num_retries");
            auto call = Call::awaitable(nb::cast<Device&>(self), waitArg(timeout, "timeout"));
            call->setNumRetries(n);
            return awaitOp<Bytes>("_echoPacketWithRetry_async", self, call, [c, b](Call& k) { return k.echo(c, b); });
          },
          nb::arg("cmd").none(), nb::arg("data_out").none(), nb::arg("num_retries").none() = NUM_RETRIES,
          nb::arg("timeout").none() = PACKET_TIMEOUT,
          nb::sig("def _echoPacketWithRetry_async(self, cmd: int, data_out: list[int], num_retries: int = 3, "
                  "timeout: float = 5) -> collections.abc.Coroutine[typing.Any, typing.Any, bytes]"),
          "The echo exchange; TimeoutError when no reply comes.")
      .def(
          "_getReplyFromPool_async",
          [](nb::handle self, nb::handle cmd) {
            const ReplyKey key = Arg<std::int64_t>::from(cmd, "cmd");
            auto call = Call::awaitable(nb::cast<Device&>(self));
            return awaitOp<Bytes>("_getReplyFromPool_async", self, call,
                                  [key](Call& k) { return replyOrRaise(k, key, std::nullopt); });
          },
          nb::arg("cmd").none(),
          nb::sig("def _getReplyFromPool_async(self, cmd: int) -> "
                  "collections.abc.Coroutine[typing.Any, typing.Any, bytes]"),
          "Takes the reply filed under the key, waiting without limit (bound it with asyncio.wait_for).")
      .def(
          "_getStreamingFromPool_async",
          [](nb::handle self, nb::handle queue, nb::handle num, nb::handle delay) {
            auto q = queueArg(queue);
            const std::int64_t n = Arg<std::int64_t>::from(num, "num_samples");
            waitArg(delay, "delay");
            auto call = Call::awaitable(nb::cast<Device&>(self));
            return awaitOp<StreamItems>("_getStreamingFromPool_async", self, call,
                                        [q, n](Call&) -> Op<StreamItems> { co_return takeStream(*q, n); });
          },
          nb::arg("queue_").none(), nb::arg("num_samples").none(), nb::arg("delay").none(),
          nb::sig("def _getStreamingFromPool_async(self, queue_: StreamQueue, num_samples: int, delay: float) -> "
                  "collections.abc.Coroutine[typing.Any, typing.Any, list]"),
          "Takes up to num_samples queued items (-1: all) without waiting.")
      .def(
          "_sendPacketWithoutReply_async",
          [](nb::handle self, nb::handle cmd, nb::handle data) {
            const int c = cmdArg(cmd);
            Bytes b = dataArg(data);
            auto call = Call::awaitable(nb::cast<Device&>(self));
            return awaitOp<void>("_sendPacketWithoutReply_async", self, call,
                                 [c, b](Call& k) { return sendOnlyOp(k, c, b); });
          },
          nb::arg("cmd").none(), nb::arg("data_out").none(),
          nb::sig("def _sendPacketWithoutReply_async(self, cmd: int, data_out: list[int]) -> "
                  "collections.abc.Coroutine[typing.Any, typing.Any, None]"),
          "Sends a command without waiting for anything.")
      .def(
          "_broadcastPacket_async",
          [](nb::handle self, nb::handle cmd, nb::handle data) {
            const int c = cmdArg(cmd);
            Bytes b = dataArg(data);
            auto call = Call::awaitable(nb::cast<Device&>(self));
            return awaitOp<std::set<Bytes>>("_broadcastPacket_async", self, call,
                                            [c, b](Call& k) { return k.broadcast(c, b); });
          },
          nb::arg("cmd").none(), nb::arg("data_out").none(),
          nb::sig("def _broadcastPacket_async(self, cmd: int, data_out: list[int]) -> "
                  "collections.abc.Coroutine[typing.Any, typing.Any, set[bytes]]"),
          "Broadcasts the request three times and returns the distinct answers collected for 5 s.")
      .def_static(
          "_getAllUSBDevices",
          [] {
            std::vector<std::pair<std::string, std::string>> all;
            {
              Unlocked release;
              all = listUsbDevices();
            }
            nb::list out;
            for (auto& [serial, product] : all) {
              nb::list row;
              row.append(nb::str(serial.c_str()));
              row.append(nb::str(product.c_str()));
              out.append(row);
            }
            return out;
          },
          nb::sig("def _getAllUSBDevices() -> list[list[str]]"),
          "[serial number, product name] of every attached USB device of the family.");
}

std::string className(nb::handle self) { return nb::cast<std::string>(nb::handle(self.type()).attr("__name__")); }

nb::dict echoView(Device& d) {
  nb::dict out;
  for (auto& [k, v] : d.replies().snapshot()) out[nb::int_(k)] = toPy(v);
  return out;
}

nb::dict bcstView(Device& d) {
  nb::dict out;
  for (auto& [code, set] : d.broadcasts().snapshot()) out[nb::int_(code)] = toPy(set);
  return out;
}

// A read-only mapping over a device's stream queues; looking a key up creates its queue.
struct StreamPoolView {
  nb::object owner;  // keeps the device alive
  Device* dev;
};

}  // namespace

void bindDevices(nb::module_& m) {
  m.attr("PACKET_TIMEOUT") = PACKET_TIMEOUT;
  m.attr("RETRY_TIMEOUT") = RETRY_TIMEOUT;
  m.attr("NUM_RETRIES") = NUM_RETRIES;
  m.attr("NUM_BCST_RETRIES") = NUM_BCST_RETRIES;
  m.attr("ECHO_DELAY") = ECHO_DELAY;
  m.attr("QUEUE_SIZE_MAX") = QUEUE_SIZE_MAX;
  m.attr("QUEUE_TIMEOUT") = QUEUE_TIMEOUT;
  m.attr("MOTION") = MOTION;
  {
    nb::list s, b;
    for (int c : STREAMING_CMD_LIST) s.append(c);
    for (int c : BROADCAST_CMD_LIST) b.append(c);
    m.attr("STREAMING_CMD_LIST") = s;
    m.attr("BROADCAST_CMD_LIST") = b;
  }

  nb::class_<RawQueue>(m, "StreamQueue", "A FIFO queue of streamed payloads (bytes), filled by a receive thread.")
      .def("qsize", &RawQueue::size, "Number of queued items.")
      .def("empty", [](const RawQueue& q) { return q.size() == 0; })
      .def("__len__", &RawQueue::size)
      .def(
          "get_nowait",
          [](RawQueue& q) {
            auto items = q.take(1);
            if (items.empty()) throw nb::python_error((PyErr_SetNone(nb::module_::import_("queue").attr("Empty").ptr()), nb::python_error()));
            return toPy(items[0]);
          },
          "Takes the oldest item; queue.Empty when there is none.")
      .def_prop_ro("dropped", &RawQueue::dropped, "Items dropped because the queue was full.")
      .def_prop_ro("maxsize", &RawQueue::capacity)
      .def("__repr__", [](const RawQueue& q) {
        return "<StreamQueue " + std::to_string(q.size()) + " items, " + std::to_string(q.dropped()) + " dropped>";
      });

  nb::class_<StreamPoolView>(m, "StreamPool", "Read-only view of a device's stream queues by key.")
      .def("__getitem__",
           [](StreamPoolView& v, nb::handle key) { return v.dev->streams().queue(streamKeyFromPy(key)); })
      .def("__contains__",
           [](StreamPoolView& v, nb::handle key) {
             const StreamKey k = streamKeyFromPy(key);
             for (auto& [kk, q] : v.dev->streams().snapshot())
               if (kk == k) return true;
             return false;
           })
      .def("__len__", [](StreamPoolView& v) { return v.dev->streams().snapshot().size(); })
      .def("keys",
           [](StreamPoolView& v) {
             nb::list out;
             for (auto& [k, q] : v.dev->streams().snapshot()) out.append(streamKeyToPy(k));
             return out;
           })
      .def("items",
           [](StreamPoolView& v) {
             nb::list out;
             for (auto& [k, q] : v.dev->streams().snapshot()) out.append(nb::make_tuple(streamKeyToPy(k), q));
             return out;
           })
      .def("__iter__", [](StreamPoolView& v) {
        nb::list out;
        for (auto& [k, q] : v.dev->streams().snapshot()) out.append(streamKeyToPy(k));
        return nb::iter(out);
      });

  auto device =
      nb::class_<Device>(m, "Device", "A device handle: transport clients, receive threads and reply pools.")
          .def(
              "close",
              [](Device& d, nb::handle verbose) {
                const bool v = verboseArg(verbose);
                {
                  Unlocked release;
                  d.close(v);
                }
                if (auto failure = d.takeCloseFailure()) std::rethrow_exception(failure);
              },
              nb::arg("verbose").none() = true, nb::sig("def close(self, verbose: bool = True) -> None"),
              "Disconnects, ends the receive threads and frees the device; a second close does nothing.\n"
              "OSError when the data logger could not write every row to its file (after closing).")
          .def("__enter__", [](nb::handle self) { return nb::borrow(self); },
               nb::sig("def __enter__(self) -> typing.Self"), "with dev: ... closes the device at the end.")
          .def(
              "__exit__",
              [](nb::handle self, nb::handle, nb::handle, nb::handle) {
                self.attr("close")();
                return false;
              },
              nb::arg("exc_type").none(), nb::arg("exc_value").none(), nb::arg("traceback").none(),
              nb::sig("def __exit__(self, exc_type: object, exc_value: object, traceback: object) -> bool"),
              "Closes the device (with the usual printed lines).")
          .def(
              "__aenter__",
              [](nb::handle self) { return nb::module_::import_("asyncio").attr("sleep")(0, self); },
              nb::sig("def __aenter__(self) -> collections.abc.Coroutine[typing.Any, typing.Any, typing.Self]"),
              "async with dev: ... closes the device at the end.")
          .def(
              "__aexit__",
              [](nb::handle self, nb::handle, nb::handle, nb::handle) {
                self.attr("close")();
                return nb::module_::import_("asyncio").attr("sleep")(0, false);
              },
              nb::arg("exc_type").none(), nb::arg("exc_value").none(), nb::arg("traceback").none(),
              nb::sig("def __aexit__(self, exc_type: object, exc_value: object, traceback: object) -> "
                      "collections.abc.Coroutine[typing.Any, typing.Any, bool]"),
              "Closes the device (with the usual printed lines).")
          .def_prop_ro("killed", &Device::killed, "True once the device is closed.")
          .def("_getDeviceName", [](Device& d) { return d.model(); }, "The model text of the device.")
          .def_static(
              "_checkCommandType",
              [](nb::handle cmd, nb::handle data) {
                return std::string(frameKindName(Device::checkCommandType(cmdArg(cmd), Arg<Bytes>::from(data, "data"))));
              },
              nb::arg("cmd").none(), nb::arg("data").none(), nb::sig("def _checkCommandType(cmd: int, data: bytes) -> str"),
              "'streaming', 'broadcast', 'ignore' or 'echo'.")
          .def(
              "_putToDataPool",
              [](Device& d, nb::handle cmd, nb::handle data) {
                const int c = cmdArg(cmd);
                Bytes b = Arg<Bytes>::from(data, "data");
                Unlocked release;
                d.putToDataPool(c, std::move(b));
              },
              nb::arg("cmd").none(), nb::arg("data").none(), nb::sig("def _putToDataPool(self, cmd: int, data: bytes) -> None"),
              "Files one received (code, payload) pair as the receive thread does.")
          .def_prop_ro("data_pool_echo", &echoView, "Copy of the unclaimed replies: {key: payload}.")
          .def_prop_ro("data_pool_bcst", &bcstView, "Copy of the collected broadcast answers: {code: {payload}}.")
          .def_prop_ro(
              "_exchange_stats",
              [](Device& d) {
                const ReplyPool::Stats s = d.replies().stats();
                nb::dict out;
                out["late_replies"] = s.late;
                out["mismatched_replies"] = s.mismatched;
                out["unsolicited_replies"] = s.unsolicited;
                out["unsolicited_dropped"] = s.dropped;
                out["lost_sends"] = s.lost_sends;
                out["send_lifetime"] = d.replies().sendLifetime();
                out["raw_stream_bytes"] = d.streams().bytes();
                out["raw_stream_byte_limit"] = d.streams().byteLimit();
                return out;
              },
              "How the exchange layer has been doing: replies discarded as late (their request had ended),\n"
              "whose echo matched no request, unsolicited (kept or dropped), sends never answered, how long a\n"
              "send may still be answered (s), and the bytes held in raw stream queues against their bound.")
          .def_prop_ro(
              "data_pool_strm",
              [](nb::handle self) { return StreamPoolView{nb::borrow(self), &nb::cast<Device&>(self)}; },
              "The stream queues by key (a queue is created when first looked up).")
          .def("__repr__", [](nb::handle self) {
            Device& d = nb::cast<Device&>(self);
            return "<" + className(self) + " '" + d.model() + "' " + (d.killed() ? "closed" : d.linkState()) + ">";
          });
  bindPacket(device);

  auto usb = nb::class_<USBDevice, Device>(m, "USBDevice", "A device on USB.");
  bindBase(usb, "USBDevice", "Stops reading and releases the USB device.");
  usb.def(
          "connect",
          [](USBDevice& d, nb::handle serial, nb::handle verbose) {
            const std::string s = Arg<std::string>::from(serial, "serial_num");
            const bool v = verboseArg(verbose);
            Unlocked release;
            d.connect(s, v);
          },
          nb::arg("serial_num").none() = "default", nb::arg("verbose").none() = true,
          nb::sig("def connect(self, serial_num: str = 'default', verbose: bool = True) -> None"),
          "Opens the device with this serial number ('default': the first one found).")
      .def_prop_ro("connect_status_cmd", &USBDevice::connected, "True while connected.")
      .def_prop_ro("serial_num", &USBDevice::serialNum, "Serial number of the connected device (None before).")
      .def_prop_ro("client_cmd", &USBDevice::client, "The USB client (None while disconnected).");

  auto network = nb::class_<NetworkDevice, Device>(m, "NetworkDevice", "A device on TCP.");
  bindBase(network, "NetworkDevice", "Stops reading and closes the connection.");
  network.def(
          "connect",
          [](NetworkDevice& d, nb::handle ip, nb::handle port, nb::handle verbose) {
            const std::string host = Arg<std::string>::from(ip, "ip_addr");
            const int p = Arg<int>::from(port, "port");
            const bool v = verboseArg(verbose);
            Unlocked release;
            d.connect(host, p, v);
          },
          nb::arg("ip_addr").none() = "192.168.1.110", nb::arg("port").none() = TCP_CMD_PORT,
          nb::arg("verbose").none() = true,
          nb::sig("def connect(self, ip_addr: str = '192.168.1.110', port: int = 7, verbose: bool = True) -> None"),
          "Connects the command channel (NetworkConnectionError when it cannot).")
      .def_prop_ro("connect_status_cmd", &NetworkDevice::connected, "True while connected.")
      .def_prop_ro("ip_addr", &NetworkDevice::ipAddr, "Address of the connected device (None before).")
      .def_prop_ro("client_cmd", &NetworkDevice::client, "The command channel's TCP client.");

  auto eth = nb::class_<ETHDevice, NetworkDevice>(m, "ETHDevice", "A device on Ethernet.");
  bindBase(eth, "ETHDevice", nullptr);

  auto wifi = nb::class_<WifiDevice, NetworkDevice>(m, "WifiDevice", "A device on Wi-Fi: a command and a data channel.");
  bindBase(wifi, "WifiDevice", "Closes both channels.");
  wifi.def(
          "connect",
          [](WifiDevice& d, nb::handle ip, nb::handle port1, nb::handle port2, nb::handle verbose) {
            const std::string host = Arg<std::string>::from(ip, "ip");
            const int p1 = Arg<int>::from(port1, "port1");
            const int p2 = Arg<int>::from(port2, "port2");
            const bool v = verboseArg(verbose);
            Unlocked release;
            d.connect(host, p1, p2, v);
          },
          nb::arg("ip").none() = "192.168.5.79", nb::arg("port1").none() = TCP_CMD_PORT, nb::arg("port2").none() = TCP_DATA_PORT,
          nb::arg("verbose").none() = true,
          nb::sig("def connect(self, ip: str = '192.168.5.79', port1: int = 7, port2: int = 1336, "
                  "verbose: bool = True) -> None"),
          "Connects the command and the data channel.")
      .def_prop_ro("connect_status_data", &WifiDevice::dataConnected, "True while the data channel is connected.")
      .def_prop_ro("client_data", &WifiDevice::dataClient, "The data channel's TCP client.");

  auto broadcast = nb::class_<BroadcastDevice, Device>(m, "BroadcastDevice", "The discovery handle: a UDP socket for answers.");
  bindBase(broadcast, "BroadcastDevice", "Closes the answer socket.");
  broadcast.def(
          "connect",
          [](BroadcastDevice& d, nb::handle verbose, nb::handle host, nb::handle port) {
            const bool v = verboseArg(verbose);
            const std::string h = Arg<std::string>::from(host, "host");
            const int p = Arg<int>::from(port, "port");
            Unlocked release;
            d.connect(v, h, p);
          },
          nb::arg("verbose").none() = true, nb::arg("host").none() = "", nb::arg("port").none() = UDP_RECV_PORT,
          nb::sig("def connect(self, verbose: bool = True, host: str = '', port: int = 6667) -> None"),
          "Binds the answer socket (all interfaces, port 6667 unless given).")
      .def_prop_ro("connect_status_udp", &BroadcastDevice::connected, "True while bound.")
      .def_prop_ro("client_udp", &BroadcastDevice::client, "The UDP client.");
}

}  // namespace zelvo::py
