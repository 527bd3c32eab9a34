#include "zelvo/core/channel.hpp"

#include <algorithm>
#include <vector>

#include "zelvo/core/console.hpp"

namespace zelvo {
namespace {

// Back-off after a failed read: doubles from the first to the last value.
constexpr auto kFirstBackoff = std::chrono::milliseconds(10);
constexpr auto kMaxBackoff = std::chrono::milliseconds(1000);
// At most this many reports per window; the rest are counted and summarised.
constexpr int kReportsPerWindow = 5;
constexpr auto kReportWindow = std::chrono::seconds(10);

}  // namespace

Channel::Channel(std::size_t read_size, Route route, Diagnose diagnose, Lost lost)
    : read_size_(read_size), route_(std::move(route)), diagnose_(std::move(diagnose)), lost_(std::move(lost)) {
  thread_ = std::thread([this] { run(); });
}

Channel::~Channel() {
  close();
  kill();
}

void Channel::open(std::shared_ptr<Client> client) {
  {
    std::lock_guard lock(m_);
    client_ = std::move(client);
    open_ = true;
    parked_on_failure_ = false;
    ++generation_;
  }
  cv_.notify_all();
}

std::shared_ptr<Client> Channel::close() {
  std::unique_lock lock(m_);
  if (!open_) return nullptr;
  open_ = false;
  ++generation_;
  if (client_) client_->interrupt();
  cv_.notify_all();
  cv_.wait(lock, [this] { return !reading_; });
  return std::exchange(client_, nullptr);
}

void Channel::kill() {
  {
    std::lock_guard lock(m_);
    killed_ = true;
    if (client_) client_->interrupt();
  }
  cv_.notify_all();
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

bool Channel::isOpen() const {
  std::lock_guard lock(m_);
  return open_;
}

std::shared_ptr<Client> Channel::client() const {
  std::lock_guard lock(m_);
  return client_;
}

void Channel::report(const std::string& text) {
  const auto now = std::chrono::steady_clock::now();
  int suppressed = 0;
  {
    std::lock_guard lock(m_);
    if (now - report_window_ > kReportWindow) {
      report_window_ = now;
      reports_in_window_ = 0;
      std::swap(suppressed, suppressed_);
    }
    if (reports_in_window_ >= kReportsPerWindow) {
      ++suppressed_;
      return;
    }
    ++reports_in_window_;
  }
  if (suppressed > 0) console::print("(" + std::to_string(suppressed) + " similar messages suppressed)");
  console::print(text);
}

void Channel::run() {
  std::vector<Byte> buf(read_size_);
  auto backoff = kFirstBackoff;
  for (;;) {
    std::shared_ptr<Client> client;
    std::uint64_t gen;
    {
      std::unique_lock lock(m_);
      cv_.wait(lock, [this] { return killed_ || (open_ && !parked_on_failure_); });
      if (killed_) return;
      client = client_;
      gen = generation_;
      reading_ = true;
    }
    const ReadResult r = client->read(buf.data(), buf.size());
    if (r.status == ReadStatus::Data) {
      backoff = kFirstBackoff;
      for (auto& f : client->feed(ByteView(buf.data(), r.size))) route_(std::move(f));
    }
    std::unique_lock lock(m_);
    reading_ = false;
    cv_.notify_all();
    if (r.status == ReadStatus::Data || r.status == ReadStatus::Empty) continue;
    if (!open_ || killed_ || gen != generation_) continue;  // closed on purpose: park quietly
    const ReadProblem problem = diagnose_(r);
    if (!problem.report.empty()) {
      lock.unlock();
      report(problem.report);
      lock.lock();
      // While the report went out the channel may have been closed and reopened on a new
      // client: the failure was the old client's, so the new one must not be parked.
      if (!open_ || killed_ || gen != generation_) continue;
    }
    if (problem.park) {
      parked_on_failure_ = true;
      if (lost_) {
        lock.unlock();
        lost_();
        lock.lock();
      }
    } else {
      cv_.wait_for(lock, backoff, [&] { return killed_ || gen != generation_; });
      backoff = std::min(backoff * 2, std::chrono::duration_cast<std::chrono::milliseconds>(kMaxBackoff));
    }
  }
}

}  // namespace zelvo
