// SD card module: one file on the device's SD card, written and read through the connection. The
// order of use is _SD_open (mount), SD_openFile in mode 0 (write) or 1 (read), SD_writeFile or
// SD_readFile any number of times, SD_closeFile, _SD_close; the host keeps no state between calls,
// and whatever the firmware makes of a call out of order comes back as its status (reply byte 0: 0
// or a negative firmware code). Names, modes, lengths and data are checked before anything is
// sent: every length travels in one byte.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "zelvo/core/call.hpp"

namespace zelvo {

// Command codes: core/command_table.def.

inline constexpr std::size_t kSDMaxLength = 255;   // characters of a file name or of one write
inline constexpr int kSDMaxRead = 254;             // bytes one read asks for (sent as count + 1)

// What SD_writeFile takes: a text, or a list of one-character texts.
using SDWriteData = std::variant<std::string, std::vector<std::string>>;
// What SD_readFile gives: one one-character text per byte read, or the negative firmware code
// when the device reports a failure.
using SDReadResult = std::variant<std::vector<std::string>, int>;

class SDCardModule {
 public:
  explicit SDCardModule(Device& dev);

  Op<int> open(Call& call);   // _SD_open: mounts the card
  Op<int> close(Call& call);  // _SD_close
  // Card size in megabytes: a reply of exactly four bytes.
  Op<std::uint32_t> getStorage(Call& call);
  // mode 0 writes, 1 reads; file names of at most 255 characters with codes 0..255.
  Op<int> openFile(Call& call, std::string filename, int mode);
  // At most 255 characters with codes 0..255.
  Op<int> writeFile(Call& call, SDWriteData write_data);
  // Up to byte_to_read (0..254) bytes from the file position.
  Op<SDReadResult> readFile(Call& call, int byte_to_read);
  Op<int> closeFile(Call& call);
};

}  // namespace zelvo
