#include "zelvo/analog/data_logger.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "zelvo/core/bytes.hpp"
#include "zelvo/core/console.hpp"

namespace zelvo {

// --- CSV text --------------------------------------------------------------------------------------

namespace {

constexpr char kDelimiter = ',';
constexpr char kQuote = '"';
constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kCharsToQuote = ",\"\r\n";
// Decimal exponents written in positional notation.
constexpr int kPositionalExpMin = -4;
constexpr int kPositionalExpMax = 15;
// Room for the texts: a double's shortest scientific form, a 64-bit integer.
constexpr std::size_t kDoubleTextMax = 32;
constexpr std::size_t kIntTextMax = 24;

// Python's repr of a float: the shortest digits that read back as the same value, in positional
// notation for decimal exponents -4..15 (with ".0" when there is no fraction), otherwise as
// d[.ddd]e+XX with a signed exponent of at least two digits.
void appendShortest(std::string& out, double v) {
  if (std::isnan(v)) {
    out += "nan";
    return;
  }
  if (std::isinf(v)) {
    out += v < 0 ? "-inf" : "inf";
    return;
  }
  char buf[kDoubleTextMax];
  const char* end = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific).ptr;
  std::string_view text(buf, static_cast<std::size_t>(end - buf));  // [-]d[.ddd]e(+|-)XX
  if (text.front() == '-') {
    out += '-';
    text.remove_prefix(1);
  }
  const std::size_t e = text.find('e');
  std::string digits(text.substr(0, e));
  if (digits.size() > 1) digits.erase(1, 1);  // the decimal point
  int exp = 0;
  std::from_chars(text.data() + e + 2, text.data() + text.size(), exp);
  if (text[e + 1] == '-') exp = -exp;

  const int n = static_cast<int>(digits.size());
  if (exp < kPositionalExpMin || exp > kPositionalExpMax) {
    out += digits[0];
    if (n > 1) (out += '.').append(digits, 1);
    (out += 'e') += exp < 0 ? '-' : '+';
    if (std::abs(exp) < 10) out += '0';
    out += std::to_string(std::abs(exp));
  } else if (exp < 0) {
    out.append("0.").append(static_cast<std::size_t>(-exp - 1), '0') += digits;
  } else if (exp + 1 < n) {
    out.append(digits, 0, static_cast<std::size_t>(exp + 1)) += '.';
    out.append(digits, static_cast<std::size_t>(exp + 1));
  } else {
    (out += digits).append(static_cast<std::size_t>(exp + 1 - n), '0') += ".0";
  }
}

}  // namespace

void CsvRows::separate() {
  if (fields_++ > 0) text_ += kDelimiter;
}

void CsvRows::number(long long v) {
  separate();
  char buf[kIntTextMax];
  text_.append(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

void CsvRows::number(double v) {
  separate();
  appendShortest(text_, v);
}

void CsvRows::field(std::string_view text) {
  separate();
  if (text.find_first_of(kCharsToQuote) == std::string_view::npos) {
    text_ += text;
    return;
  }
  text_ += kQuote;
  for (char c : text) {
    if (c == kQuote) text_ += kQuote;
    text_ += c;
  }
  text_ += kQuote;
}

std::string CsvRows::takeText() {
  std::string out = std::move(text_);
  *this = CsvRows();
  return out;
}

void CsvRows::endRow() {
  // A row of one empty field would read back as a row without fields.
  if (fields_ > 0 && text_.size() == row_start_) text_.append(2, kQuote);
  text_ += kLineEnd;
  row_start_ = text_.size();
  fields_ = 0;
  ++rows_;
}

// --- the output file -------------------------------------------------------------------------------

LoggerFileError::LoggerFileError(int err, std::string path, const std::string& what)
    : std::runtime_error(what), err_(err), path_(std::move(path)) {}

namespace {

// Bytes gathered before they are written: one write per this much, or per wake-up of the writer.
constexpr std::size_t kWritePiece = std::size_t{1} << 16;
// Permissions of a created file (before the process's umask).
constexpr mode_t kNewFileMode = 0666;

std::string errorName(int err) { return std::error_code(err, std::generic_category()).message(); }

// Writes all of `data`; 0 or the error number.
int writeAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
}

// An output file with a write buffer. Opened by the caller of openFile (so that failures are
// reported there), then written and closed by the writer thread only.
class OutFile {
 public:
  OutFile(std::string path, bool append) : path_(std::move(path)) {
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : 0);
    do fd_ = ::open(path_.c_str(), flags, kNewFileMode);
    while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) throw LoggerFileError(errno, path_, errorName(errno));
  }
  ~OutFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  OutFile(const OutFile&) = delete;
  OutFile& operator=(const OutFile&) = delete;

  const std::string& path() const { return path_; }
  bool failed() const { return failed_; }
  void setFailed() { failed_ = true; }

  // Empties a regular file (other files, such as devices, have nothing to cut).
  void clear() {
    struct stat st {};
    if (::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode) && ::ftruncate(fd_, 0) != 0)
      throw LoggerFileError(errno, path_, errorName(errno));
  }

  // Buffers bytes, writing whenever a piece is full; 0 or the error number.
  int put(std::string_view bytes) {
    if (buf_.size() + bytes.size() <= kWritePiece) {
      buf_ += bytes;
      return 0;
    }
    if (const int err = flush()) return err;
    if (bytes.size() >= kWritePiece) return writeAll(fd_, bytes);
    buf_ = bytes;
    return 0;
  }
  int flush() {
    const int err = writeAll(fd_, buf_);
    buf_.clear();
    return err;
  }
  // Writes what is buffered and closes the file; 0 or the first error number.
  int finish() {
    const int err = failed_ ? 0 : flush();
    const int closed = ::close(fd_);
    fd_ = -1;
    return err != 0 ? err : (closed != 0 && !failed_ ? errno : 0);
  }

 private:
  std::string path_;
  int fd_ = -1;
  std::string buf_;
  bool failed_ = false;
};

// Queued rows: their CSV text and how many there are.
struct Batch {
  std::string text;
  std::size_t rows;
};

}  // namespace

// --- the logger ------------------------------------------------------------------------------------

struct DataLogger::Shared {
  std::mutex m;
  std::condition_variable wake;      // the writer: rows with a file to take them, or a request
  std::condition_variable released;  // openFile: the writer has closed the previous file
  std::deque<Batch> queue;
  std::unique_ptr<OutFile> file;  // installed by openFile; written and closed by the writer
  bool release_file = false;      // openFile asks the writer to close the current file
  bool stopping = false;
  std::optional<std::string> filename;
  // Writing the current file failed: the error, the rows that did not reach the file, and whether
  // a call has raised it yet.
  struct Failure {
    int err;
    std::string path;
    std::size_t lost_rows = 0;
    bool reported = false;
  };
  std::optional<Failure> failure;
  std::mutex life;                         // one openFile or close at a time
  std::thread writer;

  void run();
  void writeBatches(OutFile& f, std::deque<Batch>& batches);
  void finishFile(std::unique_ptr<OutFile> f);
  void fail(OutFile& f, int err, std::size_t lost_rows);
  void releaseCurrentFile();
  void close(bool verbose);
  // Writes what is queued, closes the file, ends the writer; false when that was done already.
  bool stop(bool verbose);
  void throwIfClosed() const {
    if (stopping) throw LoggerClosedError();
  }
  // The failure as the error a call raises (the lock held); marks it reported.
  LoggerFileError report();
};

void DataLogger::Shared::run() {
  std::unique_lock lock(m);
  for (;;) {
    wake.wait(lock, [this] { return stopping || (file && (release_file || !queue.empty())); });
    if (file && !queue.empty()) {
      std::deque<Batch> batches;
      batches.swap(queue);
      OutFile& f = *file;
      lock.unlock();
      writeBatches(f, batches);
      lock.lock();
      continue;
    }
    // Everything queued for the current file is written (or no file was ever opened).
    if (!file) break;
    std::unique_ptr<OutFile> done = std::move(file);
    lock.unlock();
    finishFile(std::move(done));
    lock.lock();
    release_file = false;
    released.notify_all();
    if (stopping) break;
  }
}

void DataLogger::Shared::writeBatches(OutFile& f, std::deque<Batch>& batches) {
  std::size_t rows = 0;
  for (const Batch& b : batches) rows += b.rows;
  // Rows count as written once they are flushed; a failure loses every row not flushed yet.
  int err = 0;
  if (!f.failed()) {
    for (const Batch& b : batches)
      if ((err = f.put(b.text)) != 0) break;
    if (err == 0) err = f.flush();
    if (err == 0) return;
  }
  fail(f, err, rows);
}

void DataLogger::Shared::finishFile(std::unique_ptr<OutFile> f) {
  if (const int err = f->finish()) fail(*f, err, 0);
}

// The first failure of a file is printed at once and raised by the next call; the file is not
// written any more, and the rows still queued for it count as lost.
void DataLogger::Shared::fail(OutFile& f, int err, std::size_t lost_rows) {
  const bool first = !f.failed();
  f.setFailed();
  {
    std::lock_guard lock(m);
    if (!failure) failure.emplace(Failure{err, f.path()});
    failure->lost_rows += lost_rows;
  }
  if (first)
    console::print(console::genericErrorText("OSError", "[Errno " + std::to_string(err) + "] " + errorName(err) +
                                                            ": '" + f.path() + "' (the data logger stops writing it)"));
}

LoggerFileError DataLogger::Shared::report() {
  failure->reported = true;
  return LoggerFileError(failure->err, failure->path,
                         errorName(failure->err) + " (" + std::to_string(failure->lost_rows) +
                             " rows did not reach the file)");
}

// Waits until the writer has written what was queued for the current file and closed it.
void DataLogger::Shared::releaseCurrentFile() {
  std::unique_lock lock(m);
  if (!file) return;
  release_file = true;
  wake.notify_one();
  released.wait(lock, [this] { return !file; });
}

// Without the interpreter lock: the writer may need it to report a failure before it ends.
void DataLogger::Shared::close(bool verbose) {
  bool now = false;
  console::withoutInterpreterLock([&] { now = stop(verbose); });
  std::lock_guard lock(m);
  if (failure && (now || !failure->reported)) throw report();
}

bool DataLogger::Shared::stop(bool verbose) {
  std::lock_guard life_lock(life);
  {
    std::lock_guard lock(m);
    if (stopping && !writer.joinable()) return false;
    stopping = true;
  }
  wake.notify_one();
  if (writer.joinable()) writer.join();
  std::size_t discarded = 0;
  {
    std::lock_guard lock(m);
    for (const Batch& b : queue) discarded += b.rows;
    queue.clear();
  }
  if (discarded > 0 && verbose)
    console::print("Data logger closed without a file: " + std::to_string(discarded) + " rows were not written.");
  return true;
}

DataLogger::DataLogger(Device& dev) : s_(std::make_shared<Shared>()) {
  // The hook holds the state, not this object: it stays valid whatever the order of teardown. It
  // runs inside the device's close(), so it does not raise: the device raises it once closed.
  dev.addCloseHook([s = s_, &dev] {
    console::withoutInterpreterLock([&] { s->stop(true); });
    std::lock_guard lock(s->m);
    if (s->failure && !s->failure->reported) dev.noteCloseFailure(std::make_exception_ptr(s->report()));
  });
  s_->writer = std::thread([s = s_.get()] { s->run(); });
}

DataLogger::~DataLogger() { s_->stop(false); }

void DataLogger::openFile(const std::string& path, bool append, bool verbose) {
  // The interpreter lock is let go for the whole call: the writer may need it to report a failure
  // while this call waits for it.
  console::withoutInterpreterLock([&] {
    std::lock_guard life_lock(s_->life);
    {
      std::lock_guard lock(s_->m);
      s_->throwIfClosed();
      if (s_->failure && !s_->failure->reported) throw s_->report();
    }
    auto f = std::make_unique<OutFile>(path, append);
    // The previous file (perhaps under the same name) is written out before this one is cut.
    s_->releaseCurrentFile();
    {
      // Writing out the previous file failed just now: that comes first.
      std::lock_guard lock(s_->m);
      if (s_->failure && !s_->failure->reported) throw s_->report();
    }
    if (!append) f->clear();
    {
      std::lock_guard lock(s_->m);
      s_->file = std::move(f);
      s_->filename = path;
      s_->failure.reset();
    }
    s_->wake.notify_one();
  });
  if (verbose) {
    const std::string shown = decodeText(ByteView(reinterpret_cast<const Byte*>(path.data()), path.size()));
    console::print("Opened file name: (" + shown + ")");
  }
}

void DataLogger::write(CsvRows&& rows) {
  if (rows.rows() == 0) return;
  {
    std::lock_guard lock(s_->m);
    s_->throwIfClosed();
    if (s_->failure) throw s_->report();
    const std::size_t count = rows.rows();
    s_->queue.push_back(Batch{rows.takeText(), count});
  }
  s_->wake.notify_one();
}

void DataLogger::close(bool verbose) { s_->close(verbose); }

std::optional<std::string> DataLogger::openPath() const {
  std::lock_guard lock(s_->m);
  if (!s_->file || s_->stopping) return std::nullopt;
  return s_->file->path();
}

std::optional<std::string> DataLogger::filename() const {
  std::lock_guard lock(s_->m);
  return s_->filename;
}

bool DataLogger::closed() const {
  std::lock_guard lock(s_->m);
  return s_->stopping;
}

}  // namespace zelvo
