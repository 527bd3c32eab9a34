// Commands handed straight to an emulated firmware, in order, with the reply each must get.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>

#include "zelvo/sim/firmware.hpp"

namespace ztest {

struct Step {
  const char* what;
  int code;
  zelvo::Bytes payload;
  zelvo::Bytes reply;
};

// The payload of the firmware's first reply (empty when it answers nothing).
inline zelvo::Bytes handle(zelvo::sim::Firmware& fw, int code, zelvo::Bytes payload) {
  const auto replies = fw.handle(zelvo::sim::Request{code, std::move(payload)});
  return replies.empty() ? zelvo::Bytes{} : replies.front().payload;
}

inline void runSteps(zelvo::sim::Firmware& fw, std::initializer_list<Step> steps) {
  for (const auto& s : steps) EXPECT_EQ(handle(fw, s.code, s.payload), s.reply) << s.what;
}

}  // namespace ztest
