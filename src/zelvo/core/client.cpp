#include "zelvo/core/client.hpp"

namespace zelvo {

std::vector<Frame> Client::feed(ByteView bytes) {
  std::lock_guard lock(split_m_);
  return splitter_.feed(bytes);
}

std::vector<Frame> Client::splitPacket() {
  std::lock_guard lock(split_m_);
  return splitter_.split();
}

Bytes Client::stream() const {
  std::lock_guard lock(split_m_);
  return splitter_.stream();
}

std::size_t Client::lastIndex() const {
  std::lock_guard lock(split_m_);
  return splitter_.lastIndex();
}

void Client::setStream(Bytes s) {
  std::lock_guard lock(split_m_);
  splitter_.setStream(std::move(s));
}

void Client::setLastIndex(std::size_t i) {
  std::lock_guard lock(split_m_);
  splitter_.setLastIndex(i);
}

void Client::resetStream() {
  std::lock_guard lock(split_m_);
  splitter_.clear();
}

Bytes Client::recvPacket(std::size_t length) {
  Bytes buf(length);
  const ReadResult r = read(buf.data(), buf.size());
  if (r.status == ReadStatus::Failed) throwReadFailure(r);
  if (r.status == ReadStatus::Empty) throw ReadTimeout();
  buf.resize(r.status == ReadStatus::Data ? r.size : 0);  // Closed: end of stream, no bytes
  return buf;
}

std::vector<Frame> Client::recvAndSplitPacket(std::size_t length) {
  const Bytes b = recvPacket(length);
  if (b.empty()) return {};
  return feed(b);
}

}  // namespace zelvo
