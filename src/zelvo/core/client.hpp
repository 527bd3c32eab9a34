// Transport clients: move raw bytes between the host and one device, and cut what arrives into
// frames with the shared splitter.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "zelvo/core/bytes.hpp"
#include "zelvo/core/frame.hpp"

namespace zelvo {

// Transport constants.
inline constexpr int USB_VID = 0x0483;
inline constexpr int USB_PID = 0x5750;
inline constexpr int USB_EP_IN = 0x81;
inline constexpr int USB_EP_OUT = 0x01;
inline constexpr std::size_t USB_PKT_SIZE = 64;
inline constexpr int TCP_CMD_PORT = 7;
inline constexpr int TCP_DATA_PORT = 1336;
inline constexpr std::size_t TCP_PKT_LENGTH_MAX = 1536;
inline constexpr std::size_t TCP_DATA_LENGTH_MAX = 9606;
inline constexpr int UDP_SEND_PORT = 61557;
inline constexpr int UDP_RECV_PORT = 6667;
inline constexpr std::size_t UDP_PKT_LENGTH_MAX = 512;
inline constexpr double CONNECTION_TIMEOUT = 5;

enum class ReadStatus { Data, Empty, Closed, Failed };

struct ReadResult {
  ReadStatus status = ReadStatus::Empty;
  std::size_t size = 0;  // bytes read (Data)
  std::string error;     // Failed: what went wrong
};

// A read that gave up after the transport's own time-out (the binding maps it to TimeoutError).
struct ReadTimeout : std::exception {
  const char* what() const noexcept override { return "read timed out"; }
};

class Client {
 public:
  virtual ~Client() = default;
  Client() = default;
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  // One read into buf (Data), or why there is nothing: Empty (a time-out with no bytes), Closed
  // (end of stream, or interrupted), Failed.
  virtual ReadResult read(Byte* buf, std::size_t capacity) = 0;
  // Writes one whole frame; concurrent senders never interleave.
  virtual void send(ByteView frame) = 0;
  // Makes a read blocked in another thread return promptly (Closed).
  virtual void interrupt() = 0;
  // Whether the client can send and receive.
  virtual bool isOpen() const = 0;

  // Frame splitting over the bytes received so far.
  std::vector<Frame> feed(ByteView bytes);
  std::vector<Frame> splitPacket();
  Bytes stream() const;
  std::size_t lastIndex() const;
  void setStream(Bytes s);
  void setLastIndex(std::size_t i);
  void resetStream();

  // One read of up to `length` bytes, as bytes (empty at end of stream); failures raise.
  Bytes recvPacket(std::size_t length);
  // recvPacket, then the frames now complete; nothing read leaves the stream untouched.
  std::vector<Frame> recvAndSplitPacket(std::size_t length);

 protected:
  // Raises the transport's error for a failed read.
  [[noreturn]] virtual void throwReadFailure(const ReadResult& r) = 0;

 private:
  mutable std::mutex split_m_;
  FrameSplitter splitter_;
};

}  // namespace zelvo
