// The receive thread of a channel against scripted clients: a failure of a client that was
// replaced while the failure was being reported must not park the thread on the new client.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>

#include "support/waits.hpp"
#include "zelvo/core/channel.hpp"
#include "zelvo/core/console.hpp"

namespace {

using namespace std::chrono_literals;
using zelvo::Byte;
using zelvo::ByteView;
using zelvo::Channel;
using zelvo::ReadResult;
using zelvo::ReadStatus;

// A client whose first read fails (when `fails`), and whose other reads block until interrupted.
class ScriptedClient final : public zelvo::Client {
 public:
  explicit ScriptedClient(bool fails) : fail_next_(fails) {}

  ReadResult read(Byte*, std::size_t) override {
    ++reads;
    std::unique_lock lock(m_);
    if (std::exchange(fail_next_, false)) return ReadResult{ReadStatus::Failed, 0, "gone"};
    cv_.wait(lock, [this] { return interrupted_; });
    interrupted_ = false;
    return ReadResult{ReadStatus::Closed, 0, {}};
  }
  void send(ByteView) override {}
  void interrupt() override {
    {
      std::lock_guard lock(m_);
      interrupted_ = true;
    }
    cv_.notify_all();
  }
  bool isOpen() const override { return true; }

  std::atomic<int> reads{0};

 protected:
  [[noreturn]] void throwReadFailure(const ReadResult&) override { throw std::runtime_error("read failed"); }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool fail_next_;
  bool interrupted_ = false;
};

TEST(Channel, AFailureReportedWhileTheClientIsReplacedDoesNotParkTheNewOne) {
  auto old_client = std::make_shared<ScriptedClient>(true);
  auto new_client = std::make_shared<ScriptedClient>(false);
  Channel* channel = nullptr;
  // The report of the old client's failure is where a reconnect can slip in: the thread prints
  // without its lock. Here the reconnect happens exactly then.
  zelvo::console::setPrinter([&](const std::string&) {
    channel->close();
    channel->open(new_client);
  });
  Channel ch(64, [](zelvo::Frame&&) {}, [](const ReadResult&) { return Channel::ReadProblem{"gone", true}; });
  channel = &ch;
  ch.open(old_client);
  EXPECT_TRUE(ztest::eventually([&] { return new_client->reads.load() > 0; }));
  zelvo::console::setPrinter(nullptr);
  ch.close();
}

}  // namespace
