// Motion configuration files: an INI text with one section per axis ("Axis_1", ...) and one
// option per setting of the axis record, written with readable values ("TRUE", "Active Low",
// "20.0"). Option names are written in lower case and matched without regard to case; section
// names are matched exactly. A value may be enclosed in double quotes.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "zelvo/motion/motion_settings.hpp"

namespace zelvo {

// A parsed INI document: sections in file order, each with its options (lower-case names) in
// file order.
class IniDocument {
 public:
  using Options = std::vector<std::pair<std::string, std::string>>;

  // Reads the standard INI form: "[section]" lines, "name = value" or "name: value" lines,
  // comments starting with '#' or ';', blank lines, indented continuation lines. A malformed line
  // raises InputDataNotInRangeError naming its number.
  static IniDocument parse(std::string_view text);
  // "[section]" and "name = value" lines, a blank line after each section.
  std::string text() const;

  // Replaces any section of that name with an empty one.
  Options& addSection(const std::string& name);
  const Options* section(std::string_view name) const;
  // The value of an option of a section (the name's case does not matter).
  std::optional<std::string> option(std::string_view section, std::string_view name) const;
  const std::vector<std::pair<std::string, Options>>& sections() const { return sections_; }

 private:
  std::vector<std::pair<std::string, Options>> sections_;
};

// A file write or rename that failed; the binding raises it as OSError.
class IniFileWriteError : public std::system_error {
 public:
  IniFileWriteError(int err, std::string path, const std::string& what);
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// The motion configuration file of a module: which file, and the document last saved or loaded.
class MotionConfigFile {
 public:
  // Section name of axis index i (0-based): "Axis_1", ...
  static std::string sectionName(std::size_t axis);

  // IniFileNotFoundError when no file exists at the path, then IniFileExtensionNameError when its
  // name does not end in ".ini"; otherwise remembers it with an empty document.
  void open(const std::string& filename);
  // Writes one section per axis with every setting, to a temporary file beside the target that is
  // flushed, closed and renamed over it. IniFileWriteError when that fails.
  void save(const std::vector<MotionSettings>& axes);
  // Reads the file into a fresh document (IniFileNotFoundError when it cannot be read).
  void read();
  // The setting values of one axis section of the document read last, in setting order: each
  // option's text with every double quote removed, converted. `store` receives each value before
  // the next is read; a missing section or option, or a text the setting does not know, raises
  // InputDataNotInRangeError naming it.
  template <class Store>
  void loadSection(std::size_t axis, Store&& store) const;

  // Nothing opened yet: save and load raise IniFileNotFoundError.
  bool opened() const { return path_.has_value(); }
  std::optional<std::string> path() const { return path_; }
  static constexpr const char* kMode = "w";
  const IniDocument& document() const { return doc_; }

 private:
  const std::string& requirePath() const;
  std::string optionText(std::size_t axis, Setting s) const;

  std::optional<std::string> path_;
  IniDocument doc_;
};

template <class Store>
void MotionConfigFile::loadSection(std::size_t axis, Store&& store) const {
  for (std::size_t i = 0; i < kSettingCount; ++i) {
    const auto s = static_cast<Setting>(i);
    store(s, settingFromText(s, optionText(axis, s)));
  }
}

}  // namespace zelvo
