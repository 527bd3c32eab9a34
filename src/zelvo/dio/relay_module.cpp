#include "zelvo/dio/relay_module.hpp"

#include "zelvo/core/reply.hpp"

namespace zelvo {
namespace {

constexpr int kIndexMask = 255;  // the index travels as one byte: -1 as 255
constexpr std::size_t kFirstCounterIndex = 2;
constexpr std::size_t kCounterBytes = 4;
constexpr int kUnknownProduct = -1;

}  // namespace

RelayModule::RelayModule(Device&, const RelayData& relay) : relay_(relay) {}

bool RelayModule::checkPort(int port) {
  if (port != kPort) throw Error(Err::RelayPortNotAvaliableError);
  return true;
}

bool RelayModule::checkIndex(int index) {
  if (index < kAllCounters || index >= kCounters) throw Error(Err::RelayCounterIndexError);
  return true;
}

Op<int> RelayModule::open(Call& call, int port) {
  checkPort(port);
  co_return call.isBlocking() || relay_.async_open_supported ? 0 : kUnknownProduct;
}

Op<int> RelayModule::close(Call&, int port) {
  checkPort(port);
  co_return 0;
}

Op<std::vector<std::int64_t>> RelayModule::read(Call& call, int port, int index) {
  checkPort(port);
  checkIndex(index);
  const Bytes r = co_await call.echo(RELAY_READ, payloadOf(port, index & kIndexMask));
  const std::size_t count = index == kAllCounters ? kCounters : 1;
  const ByteView b = Reply(r, "Relay_read").span(kFirstCounterIndex, count * kCounterBytes);
  std::vector<std::int64_t> counters;
  for (std::size_t i = 0; i < count; ++i) counters.push_back(readBE<std::uint32_t>(b.subspan(i * kCounterBytes)));
  co_return counters;
}

}  // namespace zelvo
