// Transport clients as Python classes: Client (frame splitting), USBClient, NetworkClient,
// TCPClient and UDPClient.
#include <nanobind/nanobind.h>
#include <nanobind/stl/optional.h>
#include <nanobind/stl/shared_ptr.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/vector.h>

#include "binding/bindings.hpp"
#include "binding/errors.hpp"
#include "binding/pyconv.hpp"
#include "zelvo/core/broadcast_guard.hpp"
#include "zelvo/core/net_client.hpp"
#include "zelvo/core/usb_client.hpp"

namespace zelvo::py {
namespace {

nb::list framesToPy(const std::vector<Frame>& frames) {
  nb::list out;
  for (const auto& f : frames) out.append(nb::make_tuple(f.code, toPy(f.payload)));
  return out;
}

Bytes bytesArg(nb::handle h, const char* name) {
  if (PyBytes_Check(h.ptr()) || PyByteArray_Check(h.ptr()) || PyList_Check(h.ptr()) || PyTuple_Check(h.ptr()))
    return Arg<Bytes>::from(h, name);
  wrongType(name, "bytes or a list of ints", h);
}

std::size_t lengthArg(nb::handle h) {
  const std::int64_t n = Arg<std::int64_t>::from(h, "length");
  if (n < 0) throw Error(Err::InputDataNotInRangeError, "length must not be negative.");
  return static_cast<std::size_t>(n);
}

}  // namespace

void bindClients(nb::module_& m) {
  m.attr("USB_VID") = USB_VID;
  m.attr("USB_PID") = USB_PID;
  m.attr("USB_EP_IN") = USB_EP_IN;
  m.attr("USB_EP_OUT") = USB_EP_OUT;
  m.attr("USB_PKT_SIZE") = USB_PKT_SIZE;
  m.attr("TCP_CMD_PORT") = TCP_CMD_PORT;
  m.attr("TCP_DATA_PORT") = TCP_DATA_PORT;
  m.attr("TCP_PKT_LENGTH_MAX") = TCP_PKT_LENGTH_MAX;
  m.attr("TCP_DATA_LENGTH_MAX") = TCP_DATA_LENGTH_MAX;
  m.attr("UDP_SEND_PORT") = UDP_SEND_PORT;
  m.attr("UDP_RECV_PORT") = UDP_RECV_PORT;
  m.attr("UDP_PKT_LENGTH_MAX") = UDP_PKT_LENGTH_MAX;
  m.def("_broadcast_refusals", &broadcastRefusals,
        "Discovery requests refused so far because ZELVO_BROADCAST_LOOPBACK_ONLY is set.");
  m.attr("CONNECTION_TIMEOUT") = CONNECTION_TIMEOUT;
  m.attr("CMD_STX") = CMD_STX;
  m.attr("CMD_CR") = CMD_CR;
  m.attr("CMD_LF") = CMD_LF;
  m.attr("CMD_INDEX") = CMD_INDEX;
  m.attr("CMD_STX_2") = CMD_STX_2;
  m.attr("CMD_CR_2") = CMD_CR_2;
  m.attr("CMD_LF_2") = CMD_LF_2;
  m.attr("CMD_INDEX_2") = CMD_INDEX_2;

  nb::class_<Client>(m, "Client", "Base of the transport clients: the received byte stream and its frame splitter.")
      .def("_splitPacket", [](Client& c) { return framesToPy(c.splitPacket()); },
           "Cuts the complete frames out of `stream`: a list of (command code, payload bytes).")
      .def_prop_rw(
          "stream", [](const Client& c) { return toPy(c.stream()); },
          [](Client& c, nb::handle v) { c.setStream(bytesArg(v, "stream")); },
          "Received bytes not yet consumed by the splitter.")
      .def_prop_rw(
          "last_index", [](const Client& c) { return c.lastIndex(); },
          [](Client& c, nb::handle v) {
            const std::int64_t i = Arg<std::int64_t>::from(v, "last_index");
            if (i < 0) throw Error(Err::InputDataNotInRangeError, "last_index must not be negative.");
            c.setLastIndex(static_cast<std::size_t>(i));
          },
          "Where the next search for a frame terminator starts in `stream`.")
      .def(
          "recvPacket",
          [](Client& c, nb::handle length) {
            const std::size_t n = lengthArg(length);
            Bytes b;
            {
              Unlocked release;
              b = c.recvPacket(n);
            }
            return toPy(b);
          },
          nb::arg("length").none(), nb::sig("def recvPacket(self, length: int) -> bytes"),
          "One read of up to `length` bytes (empty at the end of the stream).")
      .def(
          "recvAndSplitPacket",
          [](Client& c, nb::handle length) {
            const std::size_t n = lengthArg(length);
            std::vector<Frame> frames;
            {
              Unlocked release;
              frames = c.recvAndSplitPacket(n);
            }
            return framesToPy(frames);
          },
          nb::arg("length").none(), nb::sig("def recvAndSplitPacket(self, length: int) -> list[tuple[int, bytes]]"),
          "recvPacket, then the frames now complete.")
      .def(
          "sendPacket",
          [](Client& c, nb::handle data) {
            const Bytes b = bytesArg(data, "int_list");
            Unlocked release;
            c.send(b);
          },
          nb::arg("int_list").none(), nb::sig("def sendPacket(self, int_list: list[int]) -> None"),
          "Writes the byte values (USB: padded with zeros to 64 bytes).")
      .def("__repr__", [](const Client& c) {
        return "<" + std::string(nb::type_name(nb::type<Client>()).c_str()) + " stream=" +
               std::to_string(c.stream().size()) + " bytes>";
      });

  nb::class_<UsbClient, Client>(m, "USBClient", "A USB device of the family, opened by serial number.")
      .def(
          "__init__",
          [](UsbClient* self, nb::handle serial) {
            const std::string serial_num = Arg<std::string>::from(serial, "serial_num");
            Unlocked release;
            new (self) UsbClient(serial_num);
          },
          nb::arg("serial_num").none() = "default")
      .def("takeSerialNumber", &UsbClient::takeSerialNumber, nb::call_guard<Unlocked>(),
           "The device's USB serial-number string.")
      .def("takeProductName", &UsbClient::takeProductName, nb::call_guard<Unlocked>(),
           "The device's USB product string.")
      .def_prop_ro_static("ep_in", [](nb::handle) { return USB_EP_IN; })
      .def_prop_ro_static("ep_out", [](nb::handle) { return USB_EP_OUT; });

  nb::class_<NetworkClient, Client>(m, "NetworkClient", "A socket transport.")
      .def_prop_ro("socket", &NetworkClient::socketFd, "The open socket's descriptor, or 0 when none is open.")
      .def(
          "setTimeout",
          [](NetworkClient& c, nb::handle t) {
            c.setTimeout(t.is_none() ? std::nullopt : std::optional<double>(Arg<double>::from(t, "timeout")));
          },
          nb::arg("timeout").none(), nb::sig("def setTimeout(self, timeout: float | None) -> None"),
          "Read time-out in seconds (None: reads block).")
      .def("disconnect", &NetworkClient::disconnect, nb::call_guard<Unlocked>(),
           "Shuts the socket down and closes it.");

  nb::class_<TcpClient, NetworkClient>(m, "TCPClient", "A TCP connection to a device.")
      .def(nb::init<>())
      .def(
          "connect",
          [](TcpClient& c, nb::handle ip, nb::handle port) {
            const std::string host = Arg<std::string>::from(ip, "ip_addr");
            const int p = Arg<int>::from(port, "port");
            Unlocked release;
            c.connect(host, p);
          },
          nb::arg("ip_addr").none(), nb::arg("port").none(), nb::sig("def connect(self, ip_addr: str, port: int) -> None"),
          "Connects within CONNECTION_TIMEOUT seconds (NetworkConnectionError otherwise).");

  nb::class_<UdpClient, NetworkClient>(m, "UDPClient", "The datagram socket of device discovery.")
      .def(nb::init<>())
      .def(
          "bind",
          [](UdpClient& c, nb::handle ip, nb::handle port) {
            const std::string host = Arg<std::string>::from(ip, "ip_addr");
            const int p = Arg<int>::from(port, "port");
            c.bind(host, p);
          },
          nb::arg("ip_addr").none(), nb::arg("port").none(), nb::sig("def bind(self, ip_addr: str, port: int) -> None"),
          "Binds the answer socket ('' = all interfaces).")
      .def(
          "sendBcstPacket",
          [](UdpClient& c, nb::handle packet) {
            const Bytes b = bytesArg(packet, "packet");
            Unlocked release;
            c.sendBcstPacket(b);
          },
          nb::arg("packet").none(), nb::sig("def sendBcstPacket(self, packet: list[int]) -> None"),
          "Sends the frame to the broadcast target once from every source address (each from a socket of\n"
          "its own; a failure on one does not keep the others from being sent).")
      .def_rw("bcst_address", &UdpClient::bcst_address, "Broadcast destination address.")
      .def_rw("bcst_port", &UdpClient::bcst_port, "Broadcast destination port.")
      .def_rw("bcst_sources", &UdpClient::bcst_sources,
              "Source addresses to send from (empty: the IPv4 addresses of the interfaces that are up).");
}

}  // namespace zelvo::py
