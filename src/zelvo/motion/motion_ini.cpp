#include "zelvo/motion/motion_ini.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "zelvo/core/errors.hpp"

namespace zelvo {
namespace {

constexpr std::string_view kExtension = ".ini";
constexpr std::string_view kSectionPrefix = "Axis_";
constexpr char kQuote = '"';
constexpr mode_t kFileMode = 0644;  // the permissions of a file that vanished since it was opened

std::string lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
  return out;
}

std::string_view strip(std::string_view s) {
  const auto first = s.find_first_not_of(" \t\r\f\v");
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t\r\f\v") - first + 1);
}

[[noreturn]] void badLine(std::size_t number, const std::string& why) {
  throw Error(Err::InputDataNotInRangeError, "INI line " + std::to_string(number) + ": " + why + ".");
}

bool endsWith(std::string_view s, std::string_view tail) {
  return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

// Writes all of `text` to the descriptor; 0 or the errno of the failure.
int writeAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
}

}  // namespace

// --- document ------------------------------------------------------------------------------------

IniDocument IniDocument::parse(std::string_view text) {
  IniDocument doc;
  Options* current = nullptr;
  std::string* last_value = nullptr;  // the option a continuation line extends
  std::size_t number = 0;
  while (!text.empty() || number == 0) {
    const auto end = text.find('\n');
    const std::string_view raw = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    ++number;
    const std::string_view line = strip(raw);
    const bool indented = !raw.empty() && (raw[0] == ' ' || raw[0] == '\t');
    if (line.empty() || line[0] == '#' || line[0] == ';') {
      if (line.empty()) last_value = nullptr;
      if (text.empty()) break;
      continue;
    }
    if (indented && last_value) {
      *last_value += "\n" + std::string(line);
    } else if (line.front() == '[' && line.back() == ']' && line.size() > 2) {
      const std::string name(line.substr(1, line.size() - 2));
      if (doc.section(name)) badLine(number, "section [" + name + "] appears twice");
      current = &doc.addSection(name);
      last_value = nullptr;
    } else {
      if (!current) badLine(number, "an option before the first [section]");
      const auto delim = line.find_first_of("=:");
      if (delim == std::string_view::npos || delim == 0) badLine(number, "expected 'name = value'");
      const std::string name = lower(strip(line.substr(0, delim)));
      for (const auto& [existing, v] : *current)
        if (existing == name) badLine(number, "option '" + name + "' appears twice in its section");
      current->emplace_back(name, std::string(strip(line.substr(delim + 1))));
      last_value = &current->back().second;
    }
    if (text.empty()) break;
  }
  return doc;
}

std::string IniDocument::text() const {
  std::string out;
  for (const auto& [name, options] : sections_) {
    out += "[" + name + "]\n";
    for (const auto& [option, value] : options) out += option + " = " + value + "\n";
    out += "\n";
  }
  return out;
}

IniDocument::Options& IniDocument::addSection(const std::string& name) {
  for (auto& [existing, options] : sections_)
    if (existing == name) {
      options.clear();
      return options;
    }
  sections_.emplace_back(name, Options{});
  return sections_.back().second;
}

const IniDocument::Options* IniDocument::section(std::string_view name) const {
  for (const auto& [existing, options] : sections_)
    if (existing == name) return &options;
  return nullptr;
}

std::optional<std::string> IniDocument::option(std::string_view section_name, std::string_view name) const {
  const Options* options = section(section_name);
  if (!options) return std::nullopt;
  const std::string wanted = lower(name);
  for (const auto& [option, value] : *options)
    if (option == wanted) return value;
  return std::nullopt;
}

// --- the module's file ---------------------------------------------------------------------------

IniFileWriteError::IniFileWriteError(int err, std::string path, const std::string& what)
    : std::system_error(err, std::generic_category(), what + " " + path), path_(std::move(path)) {}

std::string MotionConfigFile::sectionName(std::size_t axis) { return std::string(kSectionPrefix) + std::to_string(axis + 1); }

void MotionConfigFile::open(const std::string& filename) {
  struct stat st {};
  if (::stat(filename.c_str(), &st) != 0) throw Error(Err::IniFileNotFoundError, "No such file or directory: " + filename);
  if (!endsWith(filename, kExtension)) throw Error(Err::IniFileExtensionNameError);
  path_ = filename;
  doc_ = IniDocument();
}

const std::string& MotionConfigFile::requirePath() const {
  if (!path_) throw Error(Err::IniFileNotFoundError, "No configuration file is open (Motion_openCfgFile).");
  return *path_;
}

void MotionConfigFile::save(const std::vector<MotionSettings>& axes) {
  const std::string& path = requirePath();
  IniDocument doc;
  for (std::size_t a = 0; a < axes.size(); ++a) {
    IniDocument::Options& options = doc.addSection(sectionName(a));
    for (std::size_t i = 0; i < kSettingCount; ++i) {
      const auto s = static_cast<Setting>(i);
      options.emplace_back(lower(settingInfo(s).key), settingToText(s, axes[a].value(s)));
    }
  }
  const std::string text = doc.text();

  const auto slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  std::string temp = dir + (slash == std::string::npos ? "/" : "") + ".motion-ini-XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) throw IniFileWriteError(errno, path, "cannot create a temporary file beside");
  int err = writeAll(fd, text);
  // The file keeps the permissions it had (the temporary file is private to its owner).
  struct stat target {};
  const mode_t mode = ::stat(path.c_str(), &target) == 0 ? (target.st_mode & 07777) : kFileMode;
  if (err == 0 && ::fchmod(fd, mode) != 0) err = errno;
  if (err == 0 && ::fsync(fd) != 0) err = errno;
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && ::rename(temp.c_str(), path.c_str()) != 0) err = errno;
  if (err != 0) {
    ::unlink(temp.c_str());
    throw IniFileWriteError(err, path, "cannot write");
  }
  doc_ = std::move(doc);
}

void MotionConfigFile::read() {
  const std::string& path = requirePath();
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Error(Err::IniFileNotFoundError, "Cannot read " + path + ": " + std::strerror(errno));
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) throw Error(Err::IniFileNotFoundError, "Cannot read " + path + ".");
  doc_ = IniDocument::parse(text.str());
}

std::string MotionConfigFile::optionText(std::size_t axis, Setting s) const {
  const std::string section = sectionName(axis);
  if (!doc_.section(section))
    throw Error(Err::InputDataNotInRangeError, "The configuration file has no section [" + section + "].");
  auto value = doc_.option(section, settingInfo(s).key);
  if (!value)
    throw Error(Err::InputDataNotInRangeError, "The configuration file has no option '" + lower(settingInfo(s).key) +
                                                   "' in section [" + section + "].");
  std::erase(*value, kQuote);
  return *value;
}

}  // namespace zelvo
