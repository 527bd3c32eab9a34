#include "zelvo/core/status_exchange.hpp"

#include "zelvo/core/call.hpp"
#include "zelvo/core/reply.hpp"

namespace zelvo {

Op<int> echoStatus(Call& call, int cmd, Bytes payload, std::size_t status_index, const char* operation) {
  const Bytes r = co_await call.echo(cmd, std::move(payload));
  co_return Reply(r, operation).status(status_index);
}

Op<int> echoStatus(Call& call, CommandRule rule, Bytes payload, std::size_t status_index, const char* operation) {
  const Bytes r = co_await call.echo(rule, std::move(payload));
  co_return Reply(r, operation).status(status_index);
}

}  // namespace zelvo
