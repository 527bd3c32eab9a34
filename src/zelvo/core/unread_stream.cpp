#include "zelvo/core/unread_stream.hpp"

#include "zelvo/core/console.hpp"

namespace zelvo {

UnreadStream::UnreadStream(Device& dev, StreamKey key, Err warning) : dev_(dev), key_(key), warning_(warning) {
  dev_.setStreamSink(key_, [this](ByteView stored) { onPacket(stored); });
}

UnreadStream::~UnreadStream() { dev_.clearStreamSink(key_); }

std::uint64_t UnreadStream::dropped() const { return dev_.streams().queue(key_)->dropped(); }

void UnreadStream::onPacket(ByteView stored) {
  const bool kept = dev_.streams().queue(key_)->push(Bytes(stored.begin(), stored.end()));
  // A burst ends with the first packet that fits again.
  if (!kept && !dropping_.exchange(true)) console::warn(warning_);
  if (kept) dropping_ = false;
}

}  // namespace zelvo
