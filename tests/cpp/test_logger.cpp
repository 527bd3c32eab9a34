// Data logger core: the writer thread (draining, reopening, failing files, device close). The CSV
// text itself is checked against Python's csv module by the Python tests.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/bench.hpp"
#include "zelvo/analog/data_logger.hpp"

namespace {

using zelvo::CsvRows;
using zelvo::DataLogger;
namespace fs = std::filesystem;

// A directory of its own for each test, removed afterwards.
class LoggerFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "zelvo-logger-XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string path(const char* name) const { return (dir_ / name).string(); }
  static std::string contents(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  // Rows "first", ..., "first + count - 1" and their text.
  static CsvRows numbered(int first, int count) {
    CsvRows rows;
    for (int i = first; i < first + count; ++i) {
      rows.number(static_cast<long long>(i));
      rows.endRow();
    }
    return rows;
  }
  static std::string numberedText(int first, int count) { return numbered(first, count).text(); }

  fs::path dir_;
  zelvo::ETHDevice dev_{"Tavra-A", false};
};

TEST_F(LoggerFiles, WritesRowsQueuedBeforeTheOpenAndEveryRowQueuedBeforeClose) {
  DataLogger log(dev_);
  log.write(numbered(0, 10));
  log.openFile(path("f.csv"), false, false);
  for (int i = 10; i < 20000; i += 10) log.write(numbered(i, 10));
  log.close(false);
  EXPECT_EQ(contents(path("f.csv")), numberedText(0, 20000));
  EXPECT_THROW(log.write(numbered(0, 1)), zelvo::LoggerClosedError);
  EXPECT_THROW(log.openFile(path("g.csv"), false, false), zelvo::LoggerClosedError);
  EXPECT_FALSE(log.openPath());
}

TEST_F(LoggerFiles, ReopeningTheSameFileCutsItOnlyAfterItsRowsAreWritten) {
  for (bool append : {false, true}) {
    DataLogger log(dev_);
    log.openFile(path("f.csv"), false, false);
    log.write(numbered(0, 50000));
    log.openFile(path("f.csv"), append, false);
    log.write(numbered(7, 1));
    log.close(false);
    EXPECT_EQ(contents(path("f.csv")), (append ? numberedText(0, 50000) : "") + "7\r\n") << append;
  }
}

TEST_F(LoggerFiles, AFailingFileIsReportedOnceAndTheWriterCarriesOn) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "needs /dev/full";
  ztest::PrintedLines printed;
  DataLogger log(dev_);
  log.openFile("/dev/full", true, false);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  bool refused = false;
  while (!refused && std::chrono::steady_clock::now() < deadline) {
    try {
      log.write(numbered(0, 100));
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    } catch (const zelvo::LoggerFileError& e) {
      refused = true;
      EXPECT_EQ(e.err(), ENOSPC);
      EXPECT_EQ(e.path(), "/dev/full");
    }
  }
  EXPECT_TRUE(refused);
  EXPECT_EQ(printed.count("OSError: [Errno 28]"), 1);
  log.openFile(path("f.csv"), false, false);
  log.write(numbered(1, 1));
  log.close(false);
  EXPECT_EQ(contents(path("f.csv")), "1\r\n");
}

TEST_F(LoggerFiles, DeviceCloseClosesTheLoggerAndOutlivesIt) {
  {
    DataLogger log(dev_);
    log.openFile(path("f.csv"), false, false);
    log.write(numbered(0, 1000));
    dev_.close(false);
    EXPECT_TRUE(log.closed());
    EXPECT_EQ(contents(path("f.csv")), numberedText(0, 1000));
  }
  zelvo::ETHDevice other("Tavra-A", false);
  { DataLogger gone(other); }
  other.close(false);  // the hook of a logger already destroyed
}

}  // namespace
