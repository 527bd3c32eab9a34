// A bounded FIFO of sample rows (one row = the volts of the enabled channels at one instant),
// filled by a receive thread a packet at a time and drained by readers in bulk. Rows live in
// chunks of contiguous doubles, so a packet costs one append and a read can copy straight into a
// list or an array. When the queue is full the newest rows are dropped and counted.
//
// Every row has its index in the stream (0 for the first row after restartIndex()); dropped rows
// take their indices too, so a drop shows as a jump of the index.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "zelvo/core/wait.hpp"

namespace zelvo {

class SampleQueue {
 public:
  explicit SampleQueue(std::size_t capacity_rows);

  // Appends `rows` rows of `width` values: fill(out) writes rows * width values to out. Returns
  // how many rows were kept (the rest did not fit). Wakes readers waiting for enough rows.
  std::size_t push(int width, std::size_t rows, const std::function<void(double* out)>& fill);

  std::size_t size() const;
  std::size_t capacity() const { return capacity_; }
  std::uint64_t dropped() const;
  // True once since the last call when rows were dropped after the queue had room (the start of
  // an overflow burst); the overflow warning is given once per burst.
  bool takeOverflowStart();

  // Width of the oldest row (0 when empty).
  int frontWidth() const;
  // Stream index of the oldest row (of the next row to arrive when empty).
  std::uint64_t frontIndex() const;
  // How many rows one take could remove now (of the oldest row's width; with `contiguous`, also
  // with consecutive indices).
  std::size_t frontRun(bool contiguous) const;
  // The next row to arrive is row 0 of a new stream (rows still queued keep their indices).
  void restartIndex();
  // Removes up to n rows in order, handing each run of rows to visit(width, values, rows). Stops
  // at the first row whose width differs from the oldest row's (it stays for the next take), so
  // what one take returns is always rectangular; with `contiguous`, also where rows were dropped,
  // so that the rows taken have consecutive indices.
  std::size_t take(std::size_t n, const std::function<void(int width, const double* values, std::size_t rows)>& visit,
                   bool contiguous = false);
  void clear();
  // Ends every wait for rows now, whatever is queued (the link went down, the device closed).
  void wakeReaders();

  // Slot source for WaitFor: ready when at least `count` rows are queued.
  struct AtLeast {
    SampleQueue& q;
    std::size_t count;
    bool takeOrSubscribe(const std::shared_ptr<Slot<Unit>>& s);
    void unsubscribe(const Slot<Unit>* s);
  };
  AtLeast atLeast(std::size_t count) { return AtLeast{*this, count}; }

 private:
  struct Chunk {
    int width;
    std::uint64_t first_index = 0;  // stream index of row 0 of the chunk
    std::size_t head = 0;           // first unread row
    std::size_t rows = 0;           // rows written
    std::vector<double> values;
    std::size_t capacityRows() const { return values.size() / static_cast<std::size_t>(width); }
  };
  mutable std::mutex m_;
  std::deque<Chunk> chunks_;
  std::size_t rows_ = 0;
  const std::size_t capacity_;
  std::uint64_t dropped_ = 0;
  std::uint64_t next_index_ = 0;  // stream index of the next row to arrive
  bool overflowing_ = false;
  bool overflow_started_ = false;
  CountWaiters waiting_;
  // Buffers of drained chunks, reused for new ones: a stream then runs on warm memory instead of
  // faulting in fresh pages for every chunk.
  std::vector<std::vector<double>> spare_;
};

}  // namespace zelvo
