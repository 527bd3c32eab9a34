// The SD card module's operations, with the two argument and result shapes only it has.
#include "binding/modules.hpp"
#include "binding/ops.hpp"
#include "zelvo/system/sd_card_module.hpp"

namespace zelvo::py {

// A text, or a list of texts (the module checks that each is one character).
template <>
struct Arg<SDWriteData> {
  static constexpr const char* pyName = "str | list[str]";
  static SDWriteData from(nb::handle h, const char* name) {
    if (PyUnicode_Check(h.ptr())) return Arg<std::string>::from(h, name);
    return Arg<std::vector<std::string>>::from(h, name);
  }
};

// The characters read, or the negative firmware code.
template <>
struct Result<SDReadResult> {
  static constexpr const char* pyName = "list[str] | int";
  static nb::object to(const SDReadResult& v) {
    if (const auto* code = std::get_if<int>(&v)) return nb::int_(*code);
    return toPy(std::get<std::vector<std::string>>(v));
  }
};

void bindSDCardModule(nb::handle cls) {
  using S = SDCardModule;
  defOp<&S::open>(cls, "_SD_open", {}, "Mounts the card; 0 or a negative error code.");
  defOp<&S::close>(cls, "_SD_close", {}, "Unmounts the card; 0 or a negative error code.");
  defOp<&S::getStorage>(cls, "SD_getStorage", {}, "The card's size in megabytes.");
  defOp<&S::openFile>(cls, "SD_openFile", {"filename", "mode"},
                      "Opens a file to write (mode 0) or read (mode 1); 0 or a negative error code.");
  defOp<&S::writeFile>(cls, "SD_writeFile", {"write_data"},
                       "Writes a text (or a list of one-character texts, at most 255) to the open file; 0 or a\n"
                       "negative error code. Sent once: a copy would write the data twice.");
  defOp<&S::readFile>(cls, "SD_readFile", {"byte_to_read"},
                      "Reads up to byte_to_read (0..254) bytes of the open file as one-character texts; the\n"
                      "negative error code when the device reports a failure. Sent once.");
  defOp<&S::closeFile>(cls, "SD_closeFile", {}, "Closes the open file; 0 or a negative error code.");
}

}  // namespace zelvo::py
