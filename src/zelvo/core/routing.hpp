// How received frames are classified and where they are filed: the streaming and broadcast code
// lists, the motion reply key and the stream-key table.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "zelvo/core/bytes.hpp"
#include "zelvo/core/pools.hpp"

namespace zelvo {

// Streaming codes.
inline constexpr int START_CAN = 49;
inline constexpr int START_UART_READING = 129;
inline constexpr int START_AI_STREAMING = 183;
inline constexpr int START_AI_STREAMING_VARIABLE = 190;
inline constexpr int START_AO_STREAMING = 8265;
inline constexpr int START_MOTION_MONITORING = 211;
inline constexpr int AHRS_START = 9217;
inline constexpr int AI_START_STREAMING_24BIT = 8205;
inline constexpr std::array<int, 8> STREAMING_CMD_LIST = {
    START_CAN,         START_UART_READING,      START_AI_STREAMING, START_AI_STREAMING_VARIABLE,
    START_AO_STREAMING, START_MOTION_MONITORING, AHRS_START,         AI_START_STREAMING_24BIT};

// Broadcast codes (answers whose first byte is 1 are kept).
inline constexpr int GET_DEVICE_INFO = 252;
inline constexpr int CHECK_MAC_AND_SET_IP = 253;
inline constexpr int NETCOM_CHECK_MAC_RINGING = 2582;
inline constexpr int CHECK_MAC_AND_REBOOT = 254;
inline constexpr std::array<int, 4> BROADCAST_CMD_LIST = {GET_DEVICE_INFO, CHECK_MAC_AND_SET_IP,
                                                          NETCOM_CHECK_MAC_RINGING, CHECK_MAC_AND_REBOOT};
inline constexpr Byte kBroadcastAnswerMark = 1;

// Motion commands share one code; their replies are told apart by a key made of payload bytes.
inline constexpr int MOTION = 208;
inline constexpr std::size_t kMotionKeyBytes = 3;

enum class FrameKind { Streaming, Broadcast, Ignore, Echo };
const char* frameKindName(FrameKind k);  // "streaming", "broadcast", "ignore", "echo"

FrameKind classifyFrame(int cmd, ByteView data);

// Big-endian signed 32-bit value of (data[2], data[0], data[1], MOTION); nullopt when data has
// fewer than three bytes.
std::optional<ReplyKey> motionKey(ByteView data);

// The key a request's reply is filed under. Throws InputDataNotInRangeError for a MOTION request
// too short to carry its key.
ReplyKey replyKeyFor(int cmd, ByteView request_payload);

// Where a streamed payload goes: its queue key and the offset the stored part starts at.
struct StreamRoute {
  StreamKey key;
  std::size_t skip;  // bytes of the payload before the stored part; the payload must be this long
};
StreamRoute streamRoute(int cmd, ByteView data);
// Payload bytes the stream route of `cmd` needs to read its key.
std::size_t streamRouteNeeds(int cmd);

}  // namespace zelvo
