// Data logger: rows of values written to a CSV file by a writer thread.
//
// Callers only queue rows (already turned into CSV text, so the writer never needs the values
// themselves); one writer thread per logger takes everything queued at each wake-up and writes it
// in large pieces. The thread is parked on a condition variable until a file is open; rows queued
// before the first file is opened are written to it. A further open closes the current file once
// the rows queued for it are written. Closing the logger writes everything queued, closes the file
// and ends the thread; the device's close does that too.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "zelvo/core/device.hpp"

namespace zelvo {

// CSV text of whole rows in the default dialect of the usual CSV writers: fields separated by a
// comma; a field holding a comma, a double quote, CR or LF enclosed in double quotes with its
// double quotes doubled; a row whose only field is empty written as "" (so that it is not read as
// a row without fields); every row ended by CR LF.
class CsvRows {
 public:
  // Adds a field (UTF-8 text) to the current row.
  void field(std::string_view text);
  // Adds a number as a field: an integer in decimal; a real number as its shortest round-trip text
  // the way Python writes floats (0.1, 1e-05, 1e+16, 123.0, inf, nan).
  void number(long long v);
  void number(double v);
  // Ends the current row (a row without fields is an empty line).
  void endRow();
  std::size_t rows() const { return rows_; }
  // The text of the rows ended so far.
  const std::string& text() const { return text_; }
  // Hands the text over (the rows are left empty).
  std::string takeText();

 private:
  void separate();

  std::string text_;
  std::size_t row_start_ = 0;  // where the current row begins in text_
  std::size_t fields_ = 0;     // fields in the current row
  std::size_t rows_ = 0;
};

// A file operation of the logger failed: the error number and the file's path.
class LoggerFileError : public std::runtime_error {
 public:
  LoggerFileError(int err, std::string path, const std::string& what);
  int err() const noexcept { return err_; }
  const std::string& path() const noexcept { return path_; }

 private:
  int err_;
  std::string path_;
};

// The logger is closed: nothing more can be opened or written.
class LoggerClosedError : public std::logic_error {
 public:
  LoggerClosedError() : std::logic_error("I/O operation on a closed data logger.") {}
};

class DataLogger {
 public:
  // The time-out (seconds) of the writer's wait, kept for reference: the writer waits for rows
  // without a time-out and ends only when the logger is closed.
  static constexpr int QUEUE_TIMEOUT_S = 999999;

  // Starts the writer thread (parked until a file is open) and closes the logger at device close.
  explicit DataLogger(Device& dev);
  ~DataLogger();
  DataLogger(const DataLogger&) = delete;
  DataLogger& operator=(const DataLogger&) = delete;

  // Opens `path` for writing (its contents replaced, or appended to when `append`), created when
  // missing. A file already open is first closed once the rows queued for it are written; should
  // the new file fail to open, the current one stays open. Prints "Opened file name: (path)" when
  // verbose. Throws LoggerFileError when the file cannot be opened, or (once, without opening)
  // when writing the current file failed and no call has said so yet; LoggerClosedError after
  // close().
  void openFile(const std::string& path, bool append, bool verbose);

  // Queues whole rows for the writer and returns at once. Throws LoggerClosedError after close(),
  // and LoggerFileError once writing to the open file has failed (until another file is opened),
  // telling how many rows did not reach the file.
  void write(CsvRows&& rows);

  // Writes everything queued to the open file, closes it and ends the writer thread. Rows queued
  // while no file was ever opened are discarded, which is reported when verbose. Throws
  // LoggerFileError when writing the file failed, with the number of rows that did not reach it.
  // A second call does nothing.
  void close(bool verbose);

  // The path of the file open now (none before the first open and after close()).
  std::optional<std::string> openPath() const;
  // The path given to the last successful openFile (none before).
  std::optional<std::string> filename() const;
  bool closed() const;

 private:
  struct Shared;
  std::shared_ptr<Shared> s_;
};

}  // namespace zelvo
