#include "zelvo/sim/sd_card_firmware.hpp"

#include <algorithm>

#include "zelvo/sim/payload_route.hpp"

namespace zelvo::sim {
namespace {

constexpr Byte kOutOfOrder = status::kNotEnabled;
constexpr Byte kStorage = status::kEeprom;  // the storage group's status: no card, no file, full
constexpr std::uint64_t kBytesPerMB = 1u << 20;
// SD_OPEN_FILE: mode, name length, name; SD_WRITE_FILE: length, data.
constexpr std::size_t kModeAt = 0, kNameLengthAt = 1, kNameAt = 2;
constexpr std::size_t kDataLengthAt = 0, kDataAt = 1;

}  // namespace

void SDCardFirmware::install(Firmware& fw) {
  fw_ = &fw;
  auto route = [&fw](int code, std::size_t need, auto body) { routePayload(fw, code, need, std::move(body)); };
  using namespace sdcmd;
  constexpr std::size_t kNothing = 0, kOpenFile = kNameAt, kWrite = kDataAt, kRead = 1;
  //    code             bytes needed  reply payload of the request payload
  route(SD_OPEN,         kNothing,     [this](ByteView) { return Bytes{open()}; });
  route(SD_CLOSE,        kNothing,     [this](ByteView) { return Bytes{close()}; });
  route(SD_GET_CAPACITY, kNothing,     [this](ByteView) { return toBE(mounted_ ? capacity_mb_ : std::uint32_t{0}); });
  route(SD_OPEN_FILE,    kOpenFile,    [this](ByteView p) { return Bytes{openNamed(p)}; });
  route(SD_WRITE_FILE,   kWrite,       [this](ByteView p) { return Bytes{write(p)}; });
  route(SD_READ_FILE,    kRead,        [this](ByteView p) { return read(p); });
  route(SD_CLOSE_FILE,   kNothing,     [this](ByteView) { return Bytes{closeFile()}; });
}

Byte SDCardFirmware::open() {
  if (!inserted_) return kStorage;
  mounted_ = true;
  return status::kOk;
}

Byte SDCardFirmware::close() {
  if (!mounted_) return kOutOfOrder;
  open_.reset();
  mounted_ = false;
  return status::kOk;
}

Byte SDCardFirmware::openNamed(ByteView p) {
  const std::size_t length = p[kNameLengthAt];
  if (length == 0 || p.size() < kNameAt + length) return status::kParser;
  const Byte mode = p[kModeAt];
  if (mode != static_cast<Byte>(SdFileMode::Write) && mode != static_cast<Byte>(SdFileMode::Read)) return status::kParser;
  if (!mounted_ || open_) return kOutOfOrder;
  std::string name(p.begin() + kNameAt, p.begin() + static_cast<std::ptrdiff_t>(kNameAt + length));
  if (mode == static_cast<Byte>(SdFileMode::Read)) {
    if (!files_.contains(name)) return kStorage;
  } else {
    files_[name].clear();
  }
  open_ = SdOpenFile{std::move(name), static_cast<SdFileMode>(mode), 0};
  return status::kOk;
}

Byte SDCardFirmware::write(ByteView p) {
  const std::size_t length = p[kDataLengthAt];
  if (p.size() < kDataAt + length) return status::kParser;
  if (!mounted_ || !open_ || open_->mode != SdFileMode::Write) return kOutOfOrder;
  if (usedBytes() + length > std::uint64_t{capacity_mb_} * kBytesPerMB) return kStorage;
  Bytes& file = files_[open_->name];
  file.insert(file.end(), p.begin() + kDataAt, p.begin() + static_cast<std::ptrdiff_t>(kDataAt + length));
  open_->position = file.size();
  return status::kOk;
}

Bytes SDCardFirmware::read(ByteView p) {
  if (p[0] == 0) return {status::kParser};  // the count travels as n + 1
  if (!mounted_ || !open_ || open_->mode != SdFileMode::Read) return {kOutOfOrder};
  const Bytes& file = files_[open_->name];
  const std::size_t from = std::min(open_->position, file.size());
  const std::size_t n = std::min<std::size_t>(p[0] - 1u, file.size() - from);
  Bytes out{status::kOk};
  out.insert(out.end(), file.begin() + static_cast<std::ptrdiff_t>(from),
             file.begin() + static_cast<std::ptrdiff_t>(from + n));
  open_->position = from + n;
  return out;
}

Byte SDCardFirmware::closeFile() {
  if (!mounted_ || !open_) return kOutOfOrder;
  open_.reset();
  return status::kOk;
}

std::uint64_t SDCardFirmware::usedBytes() const {
  std::uint64_t n = 0;
  for (const auto& [name, contents] : files_) n += contents.size();
  return n;
}

bool SDCardFirmware::inserted() const {
  std::lock_guard lock(fw_->mutex());
  return inserted_;
}

void SDCardFirmware::setInserted(bool on) {
  std::lock_guard lock(fw_->mutex());
  inserted_ = on;
  if (!on) {
    mounted_ = false;
    open_.reset();
  }
}

std::uint32_t SDCardFirmware::capacityMB() const {
  std::lock_guard lock(fw_->mutex());
  return capacity_mb_;
}

void SDCardFirmware::setCapacityMB(std::uint32_t mb) {
  std::lock_guard lock(fw_->mutex());
  capacity_mb_ = mb;
}

bool SDCardFirmware::mounted() const {
  std::lock_guard lock(fw_->mutex());
  return mounted_;
}

std::map<std::string, Bytes> SDCardFirmware::files() const {
  std::lock_guard lock(fw_->mutex());
  return files_;
}

void SDCardFirmware::putFile(const std::string& name, Bytes contents) {
  std::lock_guard lock(fw_->mutex());
  files_[name] = std::move(contents);
}

std::optional<SdOpenFile> SDCardFirmware::openFile() const {
  std::lock_guard lock(fw_->mutex());
  return open_;
}

}  // namespace zelvo::sim
