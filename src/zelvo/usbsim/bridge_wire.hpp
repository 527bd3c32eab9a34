// Inside the shim: the messages between an emulator process that serves its bus on a UNIX socket
// (bridge_server.cpp) and a process whose shim mirrors that bus (bridge_client.cpp).
//
// A message is a 9-byte header (type, device id as u32 little-endian, payload length as u32
// little-endian) and its payload. The server announces every device of its bus (Plug, with the
// identity), then Synced; later Plug and Unplug follow its bus, and each Sync of the client is
// answered by a Synced once every change of the bus before it was announced (so an enumeration in
// the client sees the serving bus as it is at that moment). IN data goes as In messages, one
// per completed read of the device's IN endpoint (a multiple of 64 bytes, or ending in a short
// packet, so the packets come out the same); InFail stands for a read that failed. The client
// sends each OUT transfer as an Out message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zelvo::usbsim::wire {

// The environment variable naming the socket: the server's path, the client's target.
inline constexpr const char* kSocketVariable = "ZELVO_USB_EMULATOR";

enum class Msg : std::uint8_t { Plug = 1, Unplug = 2, In = 3, InFail = 4, Out = 5, Synced = 6, Sync = 7 };

inline constexpr std::size_t kHeaderSize = 9;
// Larger payloads are refused (the connection ends): no transfer of this bus comes near it.
inline constexpr std::uint32_t kMaxPayload = 1u << 20;
// What the server reads from an IN endpoint at a time: a whole number of 64-byte packets.
inline constexpr int kInChunk = 16 * 1024;

struct Header {
  Msg type{};
  std::uint32_t device = 0;
  std::uint32_t length = 0;
};

struct Identity {
  std::uint16_t vendor_id = 0, product_id = 0, device_release = 0;
  std::string manufacturer, product, serial_number;
};

// Whole-buffer socket reads and writes: false once the peer is gone (or on any other error).
bool readFull(int fd, void* data, std::size_t n);
bool writeFull(int fd, const void* data, std::size_t n);

// False at the end of the stream or on a malformed header.
bool readMessage(int fd, Header& header, std::vector<unsigned char>& payload);
// One message in one write; the caller keeps writers apart.
bool writeMessage(int fd, Msg type, std::uint32_t device, const unsigned char* data, std::size_t n);

std::vector<unsigned char> encodeIdentity(const Identity& id);
// False when the payload is not a whole identity.
bool decodeIdentity(const std::vector<unsigned char>& payload, Identity& id);

}  // namespace zelvo::usbsim::wire
