// The commands that answer with a firmware status only: the request goes out by the echo exchange
// and its reply (the echo, then the status byte at `status_index`) is read by the status
// convention (Reply::status): 0 success, a failure as its negative code.
#pragma once

#include <cstddef>

#include "zelvo/core/bytes.hpp"
#include "zelvo/core/command.hpp"
#include "zelvo/core/op.hpp"

namespace zelvo {

class Call;

Op<int> echoStatus(Call& call, int cmd, Bytes payload, std::size_t status_index, const char* operation);
Op<int> echoStatus(Call& call, CommandRule rule, Bytes payload, std::size_t status_index, const char* operation);

}  // namespace zelvo
