// Framing of the bridge's messages (bridge_wire.hpp).
#include "zelvo/usbsim/bridge_wire.hpp"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace zelvo::usbsim::wire {
namespace {

void putU16(std::vector<unsigned char>& out, std::uint16_t v) {
  out.push_back(static_cast<unsigned char>(v & 0xFF));
  out.push_back(static_cast<unsigned char>(v >> 8));
}
void putU32(unsigned char* at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(v >> (8 * i));
}
std::uint32_t getU32(const unsigned char* at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | at[i];
  return v;
}

// Bounds-checked reads of an identity payload.
struct Reader {
  const std::vector<unsigned char>& bytes;
  std::size_t at = 0;
  bool u16(std::uint16_t& v) {
    if (bytes.size() - at < 2) return false;
    v = static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
    at += 2;
    return true;
  }
  bool text(std::string& s) {
    std::uint16_t n = 0;
    if (!u16(n) || bytes.size() - at < n) return false;
    s.assign(reinterpret_cast<const char*>(bytes.data() + at), n);
    at += n;
    return true;
  }
};

}  // namespace

bool readFull(int fd, void* data, std::size_t n) {
  auto* p = static_cast<unsigned char*>(data);
  while (n > 0) {
    const ssize_t got = ::recv(fd, p, n, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    p += got;
    n -= static_cast<std::size_t>(got);
  }
  return true;
}

bool writeFull(int fd, const void* data, std::size_t n) {
  const auto* p = static_cast<const unsigned char*>(data);
  while (n > 0) {
    const ssize_t sent = ::send(fd, p, n, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    p += sent;
    n -= static_cast<std::size_t>(sent);
  }
  return true;
}

bool readMessage(int fd, Header& header, std::vector<unsigned char>& payload) {
  unsigned char raw[kHeaderSize];
  if (!readFull(fd, raw, sizeof raw)) return false;
  header.type = static_cast<Msg>(raw[0]);
  header.device = getU32(raw + 1);
  header.length = getU32(raw + 5);
  if (header.length > kMaxPayload) return false;
  payload.resize(header.length);
  return header.length == 0 || readFull(fd, payload.data(), header.length);
}

bool writeMessage(int fd, Msg type, std::uint32_t device, const unsigned char* data, std::size_t n) {
  if (n > kMaxPayload) return false;
  std::vector<unsigned char> out(kHeaderSize + n);
  out[0] = static_cast<unsigned char>(type);
  putU32(out.data() + 1, device);
  putU32(out.data() + 5, static_cast<std::uint32_t>(n));
  if (n > 0) std::memcpy(out.data() + kHeaderSize, data, n);
  return writeFull(fd, out.data(), out.size());
}

std::vector<unsigned char> encodeIdentity(const Identity& id) {
  std::vector<unsigned char> out;
  putU16(out, id.vendor_id);
  putU16(out, id.product_id);
  putU16(out, id.device_release);
  for (const std::string* s : {&id.manufacturer, &id.product, &id.serial_number}) {
    const std::size_t n = std::min<std::size_t>(s->size(), 0xFFFF);
    putU16(out, static_cast<std::uint16_t>(n));
    out.insert(out.end(), s->begin(), s->begin() + static_cast<std::ptrdiff_t>(n));
  }
  return out;
}

bool decodeIdentity(const std::vector<unsigned char>& payload, Identity& id) {
  Reader r{payload};
  return r.u16(id.vendor_id) && r.u16(id.product_id) && r.u16(id.device_release) && r.text(id.manufacturer) &&
         r.text(id.product) && r.text(id.serial_number);
}

}  // namespace zelvo::usbsim::wire
