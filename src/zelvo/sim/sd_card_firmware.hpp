// The SD card peripheral's firmware side: a card with an in-memory file system (names to contents,
// nothing on the host's disk), its capacity, and the one file the device can have open, with its
// mode and position.
//
// Model of the device:
// - SD_OPEN mounts the card (status 40 when no card is inserted, a control); SD_CLOSE unmounts it
//   and closes the open file. SD_GET_CAPACITY reports the size in megabytes (0 while unmounted).
// - SD_OPEN_FILE [mode, length, name]: mode 0 creates the file or empties it, mode 1 opens an
//   existing one to read (status 40 when it does not exist); any other mode, an empty name or a
//   length the payload does not hold is answered 80. One file at a time.
// - SD_WRITE_FILE [length, data] appends (status 40 when the card is full); SD_READ_FILE [n + 1]
//   answers [0, up to n bytes from the position] and moves the position on ([0] at the end of the
//   file). SD_CLOSE_FILE closes the file.
// - Calls out of order (no card mounted, no file open, a file open already, a write to a file
//   opened to read or a read of one opened to write) are answered status 10.
//
// Replies: [status]; SD_READ_FILE [status, data...]; SD_GET_CAPACITY [u32] (no status).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "zelvo/sim/firmware.hpp"

namespace zelvo::sim {

// Command codes, under the names the library gives them.
namespace sdcmd {
inline constexpr int SD_OPEN = 2240;
inline constexpr int SD_CLOSE = 2241;
inline constexpr int SD_GET_CAPACITY = 2242;
inline constexpr int SD_OPEN_FILE = 2244;
inline constexpr int SD_WRITE_FILE = 2245;
inline constexpr int SD_READ_FILE = 2246;
inline constexpr int SD_CLOSE_FILE = 2247;
}  // namespace sdcmd

enum class SdFileMode : Byte { Write = 0, Read = 1 };

struct SdOpenFile {
  std::string name;
  SdFileMode mode = SdFileMode::Write;
  std::size_t position = 0;
};

class SDCardFirmware final : public FirmwareModule {
 public:
  static constexpr std::uint32_t kDefaultCapacityMB = 16384;

  void install(Firmware& fw) override;

  // Views and controls for tests and the Python API; safe from any thread.
  bool inserted() const;
  void setInserted(bool on);  // pulling the card out unmounts it
  std::uint32_t capacityMB() const;
  void setCapacityMB(std::uint32_t mb);
  bool mounted() const;
  std::map<std::string, Bytes> files() const;
  void putFile(const std::string& name, Bytes contents);
  std::optional<SdOpenFile> openFile() const;

 private:
  Byte open();
  Byte close();
  Byte openNamed(ByteView p);
  Byte write(ByteView p);
  Bytes read(ByteView p);
  Byte closeFile();
  std::uint64_t usedBytes() const;

  Firmware* fw_ = nullptr;
  bool inserted_ = true;
  bool mounted_ = false;
  std::uint32_t capacity_mb_ = kDefaultCapacityMB;
  std::map<std::string, Bytes> files_;
  std::optional<SdOpenFile> open_;
};

}  // namespace zelvo::sim
