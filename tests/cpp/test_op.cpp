// What an operation may await (checked at compile time) and what awaiting an empty operation does.
#include <gtest/gtest.h>

#include <coroutine>

#include "support/waits.hpp"
#include "zelvo/core/op.hpp"

namespace {

using zelvo::Op;

template <class Promise, class Awaited>
concept Awaits = requires(Promise& p, Awaited a) { p.await_transform(std::move(a)); };

using IntPromise = zelvo::detail::OpPromise<int>;
using VoidPromise = zelvo::detail::OpPromise<void>;

static_assert(Awaits<IntPromise, Op<int>> && Awaits<VoidPromise, Op<std::string>>);
static_assert(Awaits<IntPromise, Op<void>&>);
static_assert(Awaits<IntPromise, zelvo::WaitFor<zelvo::Unit, zelvo::NeverSource>>);
// Awaitables that could suspend a blocking operation are refused.
static_assert(!Awaits<IntPromise, std::suspend_always>);
static_assert(!Awaits<VoidPromise, std::suspend_never>);

Op<int> awaitEmpty() {
  Op<int> empty;
  co_return co_await std::move(empty) + 1;
}

TEST(EmptyOp, RaisesALibraryErrorInTheBlockingFamily) {
  EXPECT_THROW(awaitEmpty().runBlocking(), zelvo::Error);
  EXPECT_THROW(Op<int>{}.runBlocking(), zelvo::Error);
}

TEST(EmptyOp, RaisesALibraryErrorInTheAwaitableFamily) {
  auto outcome = ztest::startAwaitable(awaitEmpty(), 0).get();
  EXPECT_FALSE(outcome.value.has_value());
  EXPECT_THROW(ztest::rethrow(outcome), zelvo::Error);
}

}  // namespace
