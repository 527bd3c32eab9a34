#include "zelvo/core/routing.hpp"

#include <algorithm>

namespace zelvo {

const char* frameKindName(FrameKind k) {
  switch (k) {
    case FrameKind::Streaming:
      return "streaming";
    case FrameKind::Broadcast:
      return "broadcast";
    case FrameKind::Ignore:
      return "ignore";
    case FrameKind::Echo:
      break;
  }
  return "echo";
}

FrameKind classifyFrame(int cmd, ByteView data) {
  const auto in = [cmd](const auto& list) { return std::find(list.begin(), list.end(), cmd) != list.end(); };
  if (in(STREAMING_CMD_LIST)) return FrameKind::Streaming;
  if (in(BROADCAST_CMD_LIST))
    return !data.empty() && data[0] == kBroadcastAnswerMark ? FrameKind::Broadcast : FrameKind::Ignore;
  return FrameKind::Echo;
}

std::optional<ReplyKey> motionKey(ByteView data) {
  if (data.size() < kMotionKeyBytes) return std::nullopt;
  const Byte b[4] = {data[2], data[0], data[1], static_cast<Byte>(MOTION)};
  return readBE<std::int32_t>(ByteView(b, 4));
}

ReplyKey replyKeyFor(int cmd, ByteView payload) {
  if (cmd != MOTION) return cmd;
  if (auto k = motionKey(payload)) return *k;
  throw Error(Err::InputDataNotInRangeError, "A MOTION request needs at least 3 payload bytes for its reply key.");
}

std::size_t streamRouteNeeds(int cmd) {
  switch (cmd) {
    case START_AI_STREAMING:
    case AI_START_STREAMING_24BIT:
    case START_AI_STREAMING_VARIABLE:
    case START_CAN:
    case START_UART_READING:
      return 2;
    case AHRS_START:
      return 1;
    default:
      return 0;
  }
}

StreamRoute streamRoute(int cmd, ByteView d) {
  switch (cmd) {
    case START_AI_STREAMING:
      return {StreamKey{cmd, d[0], d[1], 3}, 2};
    case AI_START_STREAMING_24BIT:
    case START_AI_STREAMING_VARIABLE:
      return {StreamKey{cmd, 0, 0, 3}, 2};
    case START_CAN:
      return {StreamKey{cmd, 0, 0, 1}, 2};
    case AHRS_START:
      return {StreamKey{cmd, 0, 0, 1}, 1};
    case START_UART_READING:
      return {StreamKey{cmd, d[0], 0, 2}, 2};
    default:
      return {StreamKey{cmd, 0, 0, 1}, 0};
  }
}

}  // namespace zelvo
