#include "zelvo/analog/sample_queue.hpp"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace zelvo {
namespace {

// Rows per chunk: big enough that chunk bookkeeping is negligible, small enough that a drained
// queue gives its memory back soon.
constexpr std::size_t kChunkRows = 4096;
// Drained chunk buffers kept for reuse.
constexpr std::size_t kSpareChunks = 4;

}  // namespace

SampleQueue::SampleQueue(std::size_t capacity_rows) : capacity_(capacity_rows) {}

std::size_t SampleQueue::push(int width, std::size_t rows, const std::function<void(double*)>& fill) {
  if (width <= 0 || rows == 0) return 0;
  const auto w = static_cast<std::size_t>(width);
  CountWaiters::Wakeups wake;
  std::size_t kept;
  {
    std::lock_guard lock(m_);
    kept = std::min(rows, capacity_ - std::min(capacity_, rows_));
    if (kept < rows) {
      dropped_ += rows - kept;
      if (!overflowing_) overflow_started_ = true;
      overflowing_ = true;
    } else {
      overflowing_ = false;
    }
    if (kept > 0) {
      // The producer writes the packet's rows into a scratch run, then they are copied into
      // chunks; a packet is a few hundred rows at most, so the scratch stays in cache.
      thread_local std::vector<double> scratch;
      scratch.resize(rows * w);
      fill(scratch.data());
      std::size_t done = 0;
      while (done < kept) {
        // A chunk holds rows of one width with consecutive indices.
        if (chunks_.empty() || chunks_.back().width != width ||
            chunks_.back().rows == chunks_.back().capacityRows() ||
            chunks_.back().first_index + chunks_.back().rows != next_index_ + done) {
          Chunk c;
          c.width = width;
          c.first_index = next_index_ + done;
          const std::size_t size = std::max(kChunkRows, kept - done) * w;
          if (!spare_.empty() && spare_.back().size() >= size) {
            c.values = std::move(spare_.back());
            spare_.pop_back();
          } else {
            c.values.resize(size);
          }
          chunks_.push_back(std::move(c));
        }
        Chunk& c = chunks_.back();
        const std::size_t n = std::min(kept - done, c.capacityRows() - c.rows);
        std::copy_n(scratch.data() + done * w, n * w, c.values.data() + c.rows * w);
        c.rows += n;
        done += n;
      }
      rows_ += kept;
      waiting_.collectReady(rows_, wake);
    }
    next_index_ += rows;  // the dropped rows take their indices too
  }
  CountWaiters::resume(wake);
  return kept;
}

std::size_t SampleQueue::size() const {
  std::lock_guard lock(m_);
  return rows_;
}

std::uint64_t SampleQueue::dropped() const {
  std::lock_guard lock(m_);
  return dropped_;
}

bool SampleQueue::takeOverflowStart() {
  std::lock_guard lock(m_);
  return std::exchange(overflow_started_, false);
}

int SampleQueue::frontWidth() const {
  std::lock_guard lock(m_);
  return chunks_.empty() ? 0 : chunks_.front().width;
}

std::uint64_t SampleQueue::frontIndex() const {
  std::lock_guard lock(m_);
  for (const Chunk& c : chunks_)
    if (c.head < c.rows) return c.first_index + c.head;
  return next_index_;
}

std::size_t SampleQueue::frontRun(bool contiguous) const {
  std::lock_guard lock(m_);
  std::size_t run = 0;
  if (chunks_.empty()) return 0;
  const int width = chunks_.front().width;
  std::uint64_t expected = chunks_.front().first_index + chunks_.front().head;
  for (const Chunk& c : chunks_) {
    if (c.width != width || (contiguous && c.head < c.rows && c.first_index + c.head != expected)) break;
    run += c.rows - c.head;
    expected = c.first_index + c.rows;
  }
  return run;
}

void SampleQueue::restartIndex() {
  std::lock_guard lock(m_);
  next_index_ = 0;
}

std::size_t SampleQueue::take(std::size_t n, const std::function<void(int, const double*, std::size_t)>& visit,
                              bool contiguous) {
  std::lock_guard lock(m_);
  std::size_t taken = 0;
  const int first_width = chunks_.empty() ? 0 : chunks_.front().width;
  std::uint64_t expected = chunks_.empty() ? 0 : chunks_.front().first_index + chunks_.front().head;
  while (taken < n && !chunks_.empty()) {
    Chunk& c = chunks_.front();
    if (c.width != first_width) break;
    if (contiguous && c.head < c.rows && c.first_index + c.head != expected) break;
    const std::size_t k = std::min(n - taken, c.rows - c.head);
    if (k > 0) visit(c.width, c.values.data() + c.head * static_cast<std::size_t>(c.width), k);
    c.head += k;
    taken += k;
    expected += k;
    if (c.head < c.rows) break;
    if (c.rows == c.capacityRows() || chunks_.size() > 1) {
      if (spare_.size() < kSpareChunks) spare_.push_back(std::move(c.values));
      chunks_.pop_front();
    } else {
      c.head = c.rows = 0;  // the producer's current chunk: reuse it from the start
      c.first_index = next_index_;
      break;
    }
  }
  rows_ -= taken;
  return taken;
}

void SampleQueue::clear() {
  std::lock_guard lock(m_);
  chunks_.clear();
  spare_.clear();
  rows_ = 0;
}

void SampleQueue::wakeReaders() {
  CountWaiters::Wakeups wake;
  {
    std::lock_guard lock(m_);
    waiting_.collectReady(SIZE_MAX, wake);
  }
  CountWaiters::resume(wake);
}

bool SampleQueue::AtLeast::takeOrSubscribe(const std::shared_ptr<Slot<Unit>>& s) {
  std::lock_guard lock(q.m_);
  return q.waiting_.takeOrSubscribe(s, q.rows_, count);
}

void SampleQueue::AtLeast::unsubscribe(const Slot<Unit>* s) {
  std::lock_guard lock(q.m_);
  q.waiting_.unsubscribe(s);
}

}  // namespace zelvo
